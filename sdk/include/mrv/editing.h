// Domains (accepted value ranges) and layouts (how the host's editor shows
// a parameter). Both are host objects owned by the parameter or layout.
#pragma once

#include "mrv/datatypes.h"

namespace Mrv {

// A bound is absent, present with flag true or present with flag false.
enum BoundState : int32 { BoundAbsent = 0, BoundFlagTrue = 1, BoundFlagFalse = 2 };

MRV_INTERFACE IDomain : IUnknown {
    MRV_DECLARE_INTERFACE(IDomain, IUnknown);
    virtual bool Accepts(const IDatatype* value) const = 0;
};

MRV_INTERFACE IIntDomain : IDomain {
    MRV_DECLARE_INTERFACE(IIntDomain, IDomain);
    virtual void SetMinimum(int32 value, int32 state) = 0;
    virtual void SetMaximum(int32 value, int32 state) = 0;
    virtual int32 GetMinimum(int32* state) const = 0;
    virtual int32 GetMaximum(int32* state) const = 0;
};

MRV_INTERFACE IDoubleDomain : IDomain {
    MRV_DECLARE_INTERFACE(IDoubleDomain, IDomain);
    virtual void SetMinimum(double value, int32 state) = 0;
    virtual void SetMaximum(double value, int32 state) = 0;
    virtual double GetMinimum(int32* state) const = 0;
    virtual double GetMaximum(int32* state) const = 0;
};

MRV_INTERFACE IDatatypeLayout : IUnknown {
    MRV_DECLARE_INTERFACE(IDatatypeLayout, IUnknown);
    virtual const char* GetClassId() const = 0;
};

MRV_INTERFACE IComboDatatypeLayout : IDatatypeLayout {
    MRV_DECLARE_INTERFACE(IComboDatatypeLayout, IDatatypeLayout);
    virtual void SetItemCount(int32 count) = 0;
    virtual void SetItem(int32 index, const char* text) = 0;
    virtual int32 GetItemCount() const = 0;
    virtual const char* GetItem(int32 index) const = 0;
};

MRV_INTERFACE IFilenameDatatypeLayout : IDatatypeLayout {
    MRV_DECLARE_INTERFACE(IFilenameDatatypeLayout, IDatatypeLayout);
    virtual void SetFilter(const char* filter) = 0;
    virtual void SetOptions(bool first, bool second, bool third) = 0;
    virtual const char* GetFilter() const = 0;
    virtual bool GetOption(int32 index) const = 0;
};

MRV_INTERFACE IFoldernameDatatypeLayout : IDatatypeLayout {
    MRV_DECLARE_INTERFACE(IFoldernameDatatypeLayout, IDatatypeLayout);
    virtual void SetOption(bool option) = 0;
    virtual bool GetOption() const = 0;
};

MRV_INTERFACE IDatatypeSelectorComboLayout : IDatatypeLayout {
    MRV_DECLARE_INTERFACE(IDatatypeSelectorComboLayout, IDatatypeLayout);
    virtual void AddPair(const char* first, const char* second) = 0;
    virtual int32 GetPairCount() const = 0;
    virtual const char* GetFirst(int32 index) const = 0;
    virtual const char* GetSecond(int32 index) const = 0;
};

}  // namespace Mrv
