// Index-based factory of catalog classes: a table of (class id, factory).
// The library's own table is empty; the class serves any catalog built on
// this framework.
#pragma once

#include <string>
#include <vector>

#include "framework/reference_counted.h"
#include "mrv/dll.h"

namespace Mrv {

class CCatalogFactoryImpl : public ksl::reference_counted_class_impl<ICatalogFactory> {
public:
    using create_function = IUnknown* (*)(void* argument, const std::string& class_id);
    struct entry {
        std::string class_id;
        create_function create;
    };

    explicit CCatalogFactoryImpl(std::vector<entry> entries = {}) : entries_(std::move(entries)) {}

    int32 GetCount() const override { return static_cast<int32>(entries_.size()); }
    // "Invalid catalog index spcified.\n" outside [0, count).
    const char* GetClassId(int32 index) const override;
    // First entry equal in length and bytes; "Invalid catalog Id spcified.\n".
    int32 GetIndex(const char* class_id) const override;
    // "Catalog factory: null pointer (CreateFnPtr).\n" for an entry without one.
    IUnknown* Create(int32 index, void* argument) override;

private:
    const entry& at(int32 index) const;
    std::vector<entry> entries_;
};

// The library's single factory object.
CCatalogFactoryImpl& catalog_factory();

}  // namespace Mrv
