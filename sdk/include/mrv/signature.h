// The three per-block host objects: the signature (pins and parameters),
// the layout (editor layouts) and the status (mode, scheduling).
// Getters return borrowed pointers; a holder that keeps one adds a reference.
#pragma once

#include "mrv/editing.h"

namespace Mrv {

MRV_INTERFACE IPin : IUnknown {
    MRV_DECLARE_INTERFACE(IPin, IUnknown);
    virtual const char* GetId() const = 0;
    virtual const char* GetName() const = 0;
    virtual const char* GetDescription() const = 0;
    virtual const char* GetDatatypeCatalogId() const = 0;
    virtual const char* GetDatatypeClassId() const = 0;
    virtual bool IsRequired() const = 0;
    virtual bool IsConnected() const = 0;
    // An input reads the very object of the output it is linked to.
    virtual IDatatype* GetDatatype() = 0;
    // Whether the input holds data for the current execution.
    virtual bool HasData() const = 0;
};

// Parameter attributes 1..6; see the block framework for their meaning.
enum ParameterAttribute : int32 {
    AttrVisible = 1,
    AttrDesignChange = 2,
    AttrRunChange = 3,
    AttrDesignStructural = 4,
    AttrRunStructural = 5,
    AttrLayoutFirst = 6,
};

MRV_INTERFACE IParameter : IUnknown {
    MRV_DECLARE_INTERFACE(IParameter, IUnknown);
    virtual const char* GetId() const = 0;
    virtual const char* GetName() const = 0;
    virtual const char* GetDescription() const = 0;
    virtual const char* GetDatatypeCatalogId() const = 0;
    virtual const char* GetDatatypeClassId() const = 0;
    virtual IDatatype* GetValue() = 0;
    virtual bool GetAttribute(int32 attribute) const = 0;
    virtual void SetAttribute(int32 attribute, bool value) = 0;
    virtual int32 GetIntAttribute() const = 0;
    virtual void SetIntAttribute(int32 value) = 0;
    virtual bool ComparesBeforeAssignment() const = 0;
    // Null when the parameter has no domain.
    virtual IDomain* GetDomain() = 0;
};

MRV_INTERFACE IPinCollection : IUnknown {
    MRV_DECLARE_INTERFACE(IPinCollection, IUnknown);
    virtual int32 GetCount() const = 0;
    virtual IPin* GetItem(int32 index) = 0;
    virtual IPin* Find(const char* id) = 0;  // null when absent
};

MRV_INTERFACE IParameterCollection : IUnknown {
    MRV_DECLARE_INTERFACE(IParameterCollection, IUnknown);
    virtual int32 GetCount() const = 0;
    virtual IParameter* GetItem(int32 index) = 0;
    virtual IParameter* Find(const char* id) = 0;  // null when absent
};

MRV_INTERFACE ISignature : IUnknown {
    MRV_DECLARE_INTERFACE(ISignature, IUnknown);
    // Declarations; a duplicate id or an unknown datatype throws ILogicException.
    virtual void AddInput(const char* id, const char* name, const char* description,
                          const char* catalog_id, const char* class_id, bool required,
                          bool option, int32 value) = 0;
    virtual void AddOutput(const char* id, const char* name, const char* description,
                           const char* catalog_id, const char* class_id,
                           const char* init_catalog_id, const char* init_class_id,
                           int32 value) = 0;
    virtual void AddParameter(const char* id, const char* name, const char* description,
                              const char* catalog_id, const char* class_id,
                              const char* domain_catalog_id, const char* domain_class_id,
                              int32 value1, int32 value2) = 0;
    // Removal of an id that is not declared does nothing and answers false.
    virtual bool RemoveInput(const char* id) = 0;
    virtual bool RemoveOutput(const char* id) = 0;
    virtual bool RemoveParameter(const char* id) = 0;
    virtual IPinCollection* GetInputs() = 0;
    virtual IPinCollection* GetOutputs() = 0;
    virtual IParameterCollection* GetParameters() = 0;
    // The block's trace level ("int"), kept apart from its declared parameters.
    virtual IParameter* GetTraceLevel() = 0;
    // Drops every declaration.
    virtual void Clear() = 0;
};

MRV_INTERFACE ILayout : IUnknown {
    MRV_DECLARE_INTERFACE(ILayout, IUnknown);
    // Creates (or replaces) the parameter's layout; borrowed result.
    virtual IDatatypeLayout* SetLayout(const char* parameter_id, const char* catalog_id,
                                       const char* class_id) = 0;
    virtual IDatatypeLayout* GetLayout(const char* parameter_id) = 0;
    // Parameter attribute 6: the parameter is handed to the layout first.
    virtual void AddParameter(const char* parameter_id) = 0;
    virtual void Clear() = 0;
};

MRV_INTERFACE IExecutionRequest : IUnknown {
    MRV_DECLARE_INTERFACE(IExecutionRequest, IUnknown);
    // Asks for one Execute of the block without new input.
    virtual void Request() = 0;
};

enum BlockStatus : int32 { StatusDesign = 0, StatusRunning = 1 };

MRV_INTERFACE IStatus : IUnknown {
    MRV_DECLARE_INTERFACE(IStatus, IUnknown);
    virtual int32 GetStatus() const = 0;
    virtual void SetExecutionSetting(int32 value) = 0;
    virtual void SetSecondExecutionSetting(int32 value) = 0;
    virtual void AddDrivingInput(const char* pin_id, int32 flag) = 0;
    virtual void RemoveDrivingInput(const char* pin_id) = 0;
    virtual IExecutionRequest* GetExecutionRequest() = 0;
};

}  // namespace Mrv
