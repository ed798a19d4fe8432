// Per-language signature objects and the library-wide signature table.
#pragma once

#include <string>
#include <vector>

#include "framework/exceptions.h"
#include "framework/property.h"
#include "framework/reference_counted.h"
#include "mrv/dll.h"

namespace Mrv {

// An ordered collection of class-information objects; owns one reference
// to each.
template <class Collection>
class CObjectClassCollectionImpl : public ksl::reference_counted_class_impl<Collection> {
public:
    using element = typename Collection::element_type;

    ~CObjectClassCollectionImpl() override { clear(); }
    int32 GetCount() const override { return static_cast<int32>(items_.size()); }
    element* GetItem(int32 index) override {
        if (index < 0 || index >= GetCount()) throw CCollectionExceptionImpl::out_of_range(GetCount(), index);
        return items_[static_cast<std::size_t>(index)];
    }
    // Takes over the caller's reference.
    void append(element* item) { items_.push_back(item); }
    void clear() {
        for (auto* item : items_) item->Release();
        items_.clear();
    }

private:
    std::vector<element*> items_;
};

template <class T>
using class_collection = CObjectClassCollectionImpl<IObjectClassCollection<T>>;

class CDllSignatureImpl : public CPropertyContainerImpl<ksl::reference_counted_class_impl<IDllSignature>> {
public:
    explicit CDllSignatureImpl(LanguageId language);
    ~CDllSignatureImpl() override;

    const char* GetCatalogClassId() const override;
    LanguageId GetLanguageId() const override { return language_; }
    const char* GetCatalogName() const override { return catalog_name_.c_str(); }
    const char* GetCatalogDescription() const override { return catalog_description_.c_str(); }
    int32 GetCatalogBitmapId() const override { return catalog_bitmap_; }

    IObjectClassCollection<ILibraryObjectClassInfo>* GetBlockClasses() override { return blocks_; }
    IObjectClassCollection<ILibraryObjectClassInfo>* GetLibraryClasses() override { return library_classes_; }
    IObjectClassCollection<IDatatypeClassInfo>* GetDatatypeClasses() override { return datatypes_; }
    IObjectClassCollection<ISignedObjectClassInfo>* GetSignedClasses4() override { return signed4_; }
    IObjectClassCollection<ISignedObjectClassInfo>* GetSignedClasses5() override { return signed5_; }
    IObjectClassCollection<ISignedObjectClassInfo>* GetDatatypeInterfaces() override { return interfaces_; }
    IObjectClassCollection<IDatatypeConverterClassInfo>* GetDatatypeConverters() override { return converters_; }
    IObjectClassCollection<ISignedObjectClassInfo>* GetDevices() override { return devices_; }
    IObjectClassCollection<IDeviceEnumeratorInfo>* GetDeviceEnumerators() override { return enumerators_; }
    IObjectClassCollection<ISignedObjectClassInfo>* GetSignedClasses10() override { return signed10_; }
    IObjectClassCollection<IObjectClassInfo>* GetCompanies() override { return companies_; }
    IObjectClassCollection<IObjectClassInfo>* GetAuthors() override { return authors_; }
    IObjectClassCollection<IObjectClassInfo>* GetLicences() override { return licences_; }
    IObjectClassCollection<ICategoryClassInfo>* GetCategories() override { return categories_; }
    IObjectClassCollection<IPatchStorageClassInfo>* GetPatchStorages() override { return storages_; }

    void set_catalog(const std::string& name, const std::string& description, int32 bitmap);
    class_collection<ILibraryObjectClassInfo>& blocks() { return *blocks_; }
    class_collection<IObjectClassInfo>& companies() { return *companies_; }
    class_collection<IObjectClassInfo>& authors() { return *authors_; }
    class_collection<IObjectClassInfo>& licences() { return *licences_; }
    // Releases every element of every collection in turn.
    void clear();

private:
    LanguageId language_;
    std::string catalog_name_, catalog_description_;
    int32 catalog_bitmap_ = 0;
    class_collection<ILibraryObjectClassInfo>* blocks_;
    class_collection<ILibraryObjectClassInfo>* library_classes_;
    class_collection<IDatatypeClassInfo>* datatypes_;
    class_collection<ISignedObjectClassInfo>* signed4_;
    class_collection<ISignedObjectClassInfo>* signed5_;
    class_collection<ISignedObjectClassInfo>* interfaces_;
    class_collection<IDatatypeConverterClassInfo>* converters_;
    class_collection<ISignedObjectClassInfo>* devices_;
    class_collection<IDeviceEnumeratorInfo>* enumerators_;
    class_collection<ISignedObjectClassInfo>* signed10_;
    class_collection<IObjectClassInfo>* companies_;
    class_collection<IObjectClassInfo>* authors_;
    class_collection<IObjectClassInfo>* licences_;
    class_collection<ICategoryClassInfo>* categories_;
    class_collection<IPatchStorageClassInfo>* storages_;
};

// The library-wide signature table.
namespace signatures {

// Builds the signatures on the first call, then returns the one for
// `language` with the fallbacks (English, then the first built).
IDllSignature* get(LanguageId language);
uint32 count();
// Language id of the signature at `index`, 0 outside [0, count).
uint32 language_at(int32 index);
// Releases every signature and forgets that they were built.
void release_all();

}  // namespace signatures
}  // namespace Mrv
