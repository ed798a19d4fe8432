// Class-information objects: what a signature lists for each registered
// record, answering the host's text queries from the registrant.
#pragma once

#include "framework/reference_counted.h"
#include "registration/registrant.h"

namespace Mrv {

// A block class in one language.
class block_class_info_impl : public ksl::reference_counted_class_impl<ILibraryObjectClassInfo> {
public:
    block_class_info_impl(const block_class_registrant& registrant, LanguageId language)
        : registrant_(registrant), language_(language) {}

    const char* GetClassId() const override { return registrant_.class_id().c_str(); }
    const char* GetName() const override { return texts().name.c_str(); }
    const char* GetDescription() const override { return texts().description.c_str(); }
    const char* GetCatalogPath() const override { return texts().catalog_path.c_str(); }
    int32 GetBitmapId() const override { return texts().bitmap_id; }
    int32 GetAuthorCount() const override { return count(registrant_.authors()); }
    const char* GetAuthor(int32 index) const override { return item(registrant_.authors(), index); }
    int32 GetCompanyCount() const override { return count(registrant_.companies()); }
    const char* GetCompany(int32 index) const override { return item(registrant_.companies(), index); }
    int32 GetLicenceCount() const override { return count(registrant_.licences()); }
    const char* GetLicence(int32 index) const override { return item(registrant_.licences(), index); }
    IBlock* CreateObject(const CreationContext* context) override { return registrant_.create(context); }

private:
    // Looked up at the time of each query.
    const language_texts& texts() const { return registrant_.texts(language_); }
    static int32 count(const std::vector<std::string>& ids) { return static_cast<int32>(ids.size()); }
    static const char* item(const std::vector<std::string>& ids, int32 index);

    const block_class_registrant& registrant_;
    LanguageId language_;
};

// An author, company or licence record in one language.
template <class Registrant>
class record_class_info_impl : public ksl::reference_counted_class_impl<IObjectClassInfo> {
public:
    record_class_info_impl(const Registrant& registrant, LanguageId language)
        : registrant_(registrant), language_(language) {}

    const char* GetClassId() const override { return registrant_.class_id().c_str(); }
    const char* GetName() const override { return registrant_.texts(language_).name.c_str(); }
    const char* GetDescription() const override { return registrant_.texts(language_).description.c_str(); }

private:
    const Registrant& registrant_;
    LanguageId language_;
};

}  // namespace Mrv
