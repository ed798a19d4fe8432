// What the host reads from a user library: its signature and class records,
// and the six exported functions.
#pragma once

#include "mrv/block.h"
#include "mrv/exceptions.h"

namespace Mrv {

MRV_INTERFACE IObjectClassInfo : IUnknown {
    MRV_DECLARE_INTERFACE(IObjectClassInfo, IUnknown);
    virtual const char* GetClassId() const = 0;
    virtual const char* GetName() const = 0;
    virtual const char* GetDescription() const = 0;
};

MRV_INTERFACE ISignedObjectClassInfo : IObjectClassInfo {
    MRV_DECLARE_INTERFACE(ISignedObjectClassInfo, IObjectClassInfo);
    virtual const char* GetCatalogPath() const = 0;
    virtual int32 GetBitmapId() const = 0;
    virtual int32 GetAuthorCount() const = 0;
    virtual const char* GetAuthor(int32 index) const = 0;
    virtual int32 GetCompanyCount() const = 0;
    virtual const char* GetCompany(int32 index) const = 0;
    virtual int32 GetLicenceCount() const = 0;
    virtual const char* GetLicence(int32 index) const = 0;
};

MRV_INTERFACE ILibraryObjectClassInfo : ISignedObjectClassInfo {
    MRV_DECLARE_INTERFACE(ILibraryObjectClassInfo, ISignedObjectClassInfo);
    // Creates a block (caller owns one reference). Throws IException.
    virtual IBlock* CreateObject(const CreationContext* context) = 0;
};

MRV_INTERFACE IDatatypeClassInfo : ISignedObjectClassInfo {
    MRV_DECLARE_INTERFACE(IDatatypeClassInfo, ISignedObjectClassInfo);
};
MRV_INTERFACE IDatatypeConverterClassInfo : ISignedObjectClassInfo {
    MRV_DECLARE_INTERFACE(IDatatypeConverterClassInfo, ISignedObjectClassInfo);
};
MRV_INTERFACE IDeviceEnumeratorInfo : ISignedObjectClassInfo {
    MRV_DECLARE_INTERFACE(IDeviceEnumeratorInfo, ISignedObjectClassInfo);
};
MRV_INTERFACE ICategoryClassInfo : IObjectClassInfo {
    MRV_DECLARE_INTERFACE(ICategoryClassInfo, IObjectClassInfo);
};
MRV_INTERFACE IPatchStorageClassInfo : ISignedObjectClassInfo {
    MRV_DECLARE_INTERFACE(IPatchStorageClassInfo, ISignedObjectClassInfo);
};

template <class T>
MRV_INTERFACE IObjectClassCollection : IUnknown {
    static constexpr const char* IID = "Mrv::IObjectClassCollection";
    using Parent = IUnknown;
    using element_type = T;
    virtual int32 GetCount() const = 0;
    // Borrowed; throws ICollectionException outside [0, count).
    virtual T* GetItem(int32 index) = 0;
};

MRV_INTERFACE IDllSignature : IPropertyContainer {
    MRV_DECLARE_INTERFACE(IDllSignature, IPropertyContainer);
    virtual const char* GetCatalogClassId() const = 0;
    virtual LanguageId GetLanguageId() const = 0;
    virtual const char* GetCatalogName() const = 0;
    virtual const char* GetCatalogDescription() const = 0;
    virtual int32 GetCatalogBitmapId() const = 0;

    // The fifteen collections, in their fixed order.
    virtual IObjectClassCollection<ILibraryObjectClassInfo>* GetBlockClasses() = 0;
    virtual IObjectClassCollection<ILibraryObjectClassInfo>* GetLibraryClasses() = 0;
    virtual IObjectClassCollection<IDatatypeClassInfo>* GetDatatypeClasses() = 0;
    virtual IObjectClassCollection<ISignedObjectClassInfo>* GetSignedClasses4() = 0;
    virtual IObjectClassCollection<ISignedObjectClassInfo>* GetSignedClasses5() = 0;
    virtual IObjectClassCollection<ISignedObjectClassInfo>* GetDatatypeInterfaces() = 0;
    virtual IObjectClassCollection<IDatatypeConverterClassInfo>* GetDatatypeConverters() = 0;
    virtual IObjectClassCollection<ISignedObjectClassInfo>* GetDevices() = 0;
    virtual IObjectClassCollection<IDeviceEnumeratorInfo>* GetDeviceEnumerators() = 0;
    virtual IObjectClassCollection<ISignedObjectClassInfo>* GetSignedClasses10() = 0;
    virtual IObjectClassCollection<IObjectClassInfo>* GetCompanies() = 0;
    virtual IObjectClassCollection<IObjectClassInfo>* GetAuthors() = 0;
    virtual IObjectClassCollection<IObjectClassInfo>* GetLicences() = 0;
    virtual IObjectClassCollection<ICategoryClassInfo>* GetCategories() = 0;
    virtual IObjectClassCollection<IPatchStorageClassInfo>* GetPatchStorages() = 0;
};

// Index-based factory of catalog classes.
MRV_INTERFACE ICatalogFactory : IUnknown {
    MRV_DECLARE_INTERFACE(ICatalogFactory, IUnknown);
    virtual int32 GetCount() const = 0;
    virtual const char* GetClassId(int32 index) const = 0;
    virtual int32 GetIndex(const char* class_id) const = 0;
    virtual IUnknown* Create(int32 index, void* argument) = 0;
};

}  // namespace Mrv

// The exports a user library offers, with C linkage.
extern "C" {
typedef const char* (*MrvUserDll_GetDllIdentifier_t)();
typedef Mrv::uint32 (*MrvUserDll_GetDllLanguageIDCount_t)();
typedef Mrv::uint32 (*MrvUserDll_GetDllLanguageID_t)(Mrv::int32 index);
typedef const char* (*MrvUserDll_GetSDKVersion_t)();
typedef bool (*MrvUserDll_IsDebugBuild_t)();
typedef Mrv::IDllSignature* (*MrvUserDll_GetDllSignature_t)(Mrv::uint32 language);
}
