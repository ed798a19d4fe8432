// The block interface the host drives, and what comes with it.
#pragma once

#include "mrv/kernel.h"

namespace Mrv {

MRV_INTERFACE IBlockClass : IUnknown {
    MRV_DECLARE_INTERFACE(IBlockClass, IUnknown);
    virtual const char* GetClassId() const = 0;
};

// Portable stand-in for a drawing device: fills rectangles with a colour.
struct DeviceColour { std::uint8_t red, green, blue; };
struct Rectangle { int32 left, top, right, bottom; };
struct Area { int32 left, top, width, height; };

MRV_INTERFACE IDrawingDevice : IUnknown {
    MRV_DECLARE_INTERFACE(IDrawingDevice, IUnknown);
    // False when the rectangle cannot be filled on this device.
    virtual bool FillRectangle(const Rectangle& rectangle, DeviceColour colour) = 0;
};

// Host events. Kind 1: a parameter change (parameter, proposed value).
// Kind 4: a user-interface query selected by a code 0..14.
enum EventKind : int32 { EventParameterChange = 1, EventUserInterface = 4 };

struct UiSize { int32 cx, cy; };

MRV_INTERFACE IEvent : IUnknown {
    MRV_DECLARE_INTERFACE(IEvent, IUnknown);
    virtual int32 GetKind() const = 0;
    virtual IParameter* GetParameter() = 0;
    virtual IDatatype* GetNewValue() = 0;
    virtual int32 GetQueryCode() const = 0;
    virtual int64 GetQueryValue() const = 0;
    virtual void SetQueryValue(int64 value) = 0;
    virtual void SetSize(const UiSize& size) = 0;
    virtual IDrawingDevice* GetDevice() = 0;
    virtual Rectangle GetRectangle(int32 index) const = 0;  // index 0 or 1
    virtual int32 GetDrawValue(int32 index) const = 0;      // index 0 or 1
};

MRV_INTERFACE IEventHandler : IUnknown {
    MRV_DECLARE_INTERFACE(IEventHandler, IUnknown);
    virtual bool HandleEvent(IEvent* event) = 0;
};

MRV_INTERFACE IEventSource : IUnknown {
    MRV_DECLARE_INTERFACE(IEventSource, IUnknown);
    virtual void Advise(IEventHandler* handler) = 0;
    virtual void Unadvise(IEventHandler* handler) = 0;
};

MRV_INTERFACE IProperty : IUnknown {
    MRV_DECLARE_INTERFACE(IProperty, IUnknown);
    virtual int32 GetId() const = 0;
    virtual const char* GetName() const = 0;
    // The value as text; SetText throws IException when the text does not
    // convert to the stored type.
    virtual const char* GetText() = 0;
    virtual void SetText(const char* text) = 0;
};

MRV_INTERFACE IPropertySet : IUnknown {
    MRV_DECLARE_INTERFACE(IPropertySet, IUnknown);
    virtual const char* GetName() const = 0;
    virtual int32 GetCount() const = 0;
    virtual IProperty* GetItem(int32 index) = 0;
};

MRV_INTERFACE IPropertyContainer : IUnknown {
    MRV_DECLARE_INTERFACE(IPropertyContainer, IUnknown);
    virtual int32 GetPropertySetCount() const = 0;
    virtual IPropertySet* GetPropertySet(int32 index) = 0;
    virtual IPropertySet* FindPropertySet(const char* name) = 0;
};

MRV_INTERFACE ISignedObject : IUnknown {
    MRV_DECLARE_INTERFACE(ISignedObject, IUnknown);
    virtual uint64 GetObjectId() const = 0;
    virtual IBlockClass* GetBlockClass() = 0;
};

MRV_INTERFACE IBlock : IUnknown {
    MRV_DECLARE_INTERFACE(IBlock, IUnknown);

    // Lifecycle, in the order the host calls it.
    // saved_signature null: declare; else adopt and verify the saved objects.
    virtual void InitInstance(ISignature* saved_signature, ILayout* saved_layout,
                              IUnknown* arguments) = 0;
    virtual void DoneInstance() = 0;
    virtual bool InitBlock(IClock* clock, IUnknown* context, int32 value1, int32 value2) = 0;
    virtual bool CheckBlock() = 0;
    virtual bool StartBlock() = 0;
    virtual bool ExecuteBlock() = 0;
    virtual void StopBlock() = 0;
    virtual void DoneBlock() = 0;

    // Borrowed.
    virtual ISignature* GetSignature() = 0;
    virtual ILayout* GetLayout() = 0;
    virtual IStatus* GetStatus() = 0;

    // User-interface queries answered with defaults by the framework.
    virtual bool GetUiFlag(int32 index) = 0;            // seven flags, 0..6
    virtual bool IsUiOwnerDrawn() = 0;
    virtual int64 GetUiValue(int32 index, int64 argument) = 0;  // four getters, 0..3
    virtual int32 GetUiInt(int32 index) = 0;            // two values, 0..1
    virtual void GetUiSize(UiSize* size) = 0;
    virtual void GetUiColour(double* rgb) = 0;          // three values
    virtual bool SetUiValue(int64 value) = 0;
    virtual void OnUiNotify(int32 code, int64 value) = 0;
    virtual void OnUiNotify3(int32 code, int64 value1, int64 value2) = 0;
    virtual void Draw(IDrawingDevice* device, const Rectangle& bounds,
                      const Rectangle& clip, int32 value1, int32 value2) = 0;
    // Fills `count` areas with the block's brush; throws ILogicException.
    virtual void DrawNCAreas(IDrawingDevice* device, const Area* areas, int32 count,
                             int32 extra) = 0;
    virtual bool ReleaseUiResources() = 0;
};

}  // namespace Mrv
