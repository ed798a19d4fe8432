#include "entry/dll_signature.h"

#include <new>

#include "entry/class_info.h"
#include "framework/platform/module.h"
#include "registration/registrant.h"

namespace Mrv {
namespace {

// Copied once, when the first signature is built.
std::string& catalog_id_copy() {
    static platform::never_destroyed<std::string> id;
    return id.get();
}

template <class Collection>
Collection* make_collection() {
    return new Collection();
}

struct signature_table {
    std::vector<CDllSignatureImpl*> items;
    bool built = false;

    void release() {
        for (auto* signature : items) {
            signature->clear();
            signature->Release();
        }
        platform::release_storage(items);
    }
    CDllSignatureImpl* find(LanguageId language) const {
        for (auto* signature : items)
            if (signature->GetLanguageId() == language) return signature;
        return nullptr;
    }
    CDllSignatureImpl* get_or_create(LanguageId language) {
        if (auto* found = find(language)) return found;
        try {
            items.push_back(new CDllSignatureImpl(language));
        } catch (const std::bad_alloc&) {
            throw CLogicExceptionImpl(message(MessageId::OutOfMemory));
        }
        return items.back();
    }
};

// Released by the detach handler, not by a static destructor.
signature_table& table() {
    static platform::never_destroyed<signature_table> instance;
    return instance.get();
}

template <class Registrant>
void append_records(class_collection<IObjectClassInfo>& collection, LanguageId language) {
    for (const Registrant* registrant : registration_list<Registrant>::items())
        collection.append(new record_class_info_impl<Registrant>(*registrant, language));
}

void build(LanguageId language) {
    signature_table& signatures = table();
    CDllSignatureImpl* signature = nullptr;
    for (const catalog_class_registrant* catalog : registration_list<catalog_class_registrant>::items()) {
        signature = signatures.get_or_create(language);
        if (catalog_id_copy().empty()) catalog_id_copy() = catalog->class_id();
        const language_texts& texts = catalog->texts(language);
        signature->set_catalog(texts.name, texts.description, texts.bitmap_id);
    }
    if (!signature) signature = signatures.get_or_create(language);
    for (const block_class_registrant* block : registration_list<block_class_registrant>::items())
        signature->blocks().append(new block_class_info_impl(*block, language));
    append_records<company_registrant>(signature->companies(), language);
    append_records<author_registrant>(signature->authors(), language);
    append_records<licence_registrant>(signature->licences(), language);
}

}  // namespace

CDllSignatureImpl::CDllSignatureImpl(LanguageId language)
    : language_(language),
      blocks_(make_collection<class_collection<ILibraryObjectClassInfo>>()),
      library_classes_(make_collection<class_collection<ILibraryObjectClassInfo>>()),
      datatypes_(make_collection<class_collection<IDatatypeClassInfo>>()),
      signed4_(make_collection<class_collection<ISignedObjectClassInfo>>()),
      signed5_(make_collection<class_collection<ISignedObjectClassInfo>>()),
      interfaces_(make_collection<class_collection<ISignedObjectClassInfo>>()),
      converters_(make_collection<class_collection<IDatatypeConverterClassInfo>>()),
      devices_(make_collection<class_collection<ISignedObjectClassInfo>>()),
      enumerators_(make_collection<class_collection<IDeviceEnumeratorInfo>>()),
      signed10_(make_collection<class_collection<ISignedObjectClassInfo>>()),
      companies_(make_collection<class_collection<IObjectClassInfo>>()),
      authors_(make_collection<class_collection<IObjectClassInfo>>()),
      licences_(make_collection<class_collection<IObjectClassInfo>>()),
      categories_(make_collection<class_collection<ICategoryClassInfo>>()),
      storages_(make_collection<class_collection<IPatchStorageClassInfo>>()) {}

CDllSignatureImpl::~CDllSignatureImpl() {
    blocks_->Release();
    library_classes_->Release();
    datatypes_->Release();
    signed4_->Release();
    signed5_->Release();
    interfaces_->Release();
    converters_->Release();
    devices_->Release();
    enumerators_->Release();
    signed10_->Release();
    companies_->Release();
    authors_->Release();
    licences_->Release();
    categories_->Release();
    storages_->Release();
}

const char* CDllSignatureImpl::GetCatalogClassId() const { return catalog_id_copy().c_str(); }

void CDllSignatureImpl::set_catalog(const std::string& name, const std::string& description, int32 bitmap) {
    catalog_name_ = name;
    catalog_description_ = description;
    catalog_bitmap_ = bitmap;
}

void CDllSignatureImpl::clear() {
    blocks_->clear();
    library_classes_->clear();
    datatypes_->clear();
    signed4_->clear();
    signed5_->clear();
    interfaces_->clear();
    converters_->clear();
    devices_->clear();
    enumerators_->clear();
    signed10_->clear();
    companies_->clear();
    authors_->clear();
    licences_->clear();
    categories_->clear();
    storages_->clear();
}

namespace signatures {

IDllSignature* get(LanguageId language) {
    signature_table& signatures = table();
    if (!signatures.built) {
        signatures.built = true;
        build(language);
    }
    if (auto* found = signatures.find(language)) return found;
    if (language != 1033)
        if (auto* english = signatures.find(1033)) return english;
    return signatures.items.empty() ? nullptr : signatures.items.front();
}

uint32 count() { return static_cast<uint32>(table().items.size()); }

uint32 language_at(int32 index) {
    const auto& items = table().items;
    if (index < 0 || static_cast<std::size_t>(index) >= items.size()) return 0;
    return items[static_cast<std::size_t>(index)]->GetLanguageId();
}

void release_all() {
    table().release();
    table().built = false;
    platform::release_storage(catalog_id_copy());
}

}  // namespace signatures
}  // namespace Mrv
