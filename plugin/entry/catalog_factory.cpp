#include "entry/catalog_factory.h"

#include "framework/exceptions.h"

namespace Mrv {

const CCatalogFactoryImpl::entry& CCatalogFactoryImpl::at(int32 index) const {
    if (index < 0 || index >= GetCount()) throw CLogicExceptionImpl(message(MessageId::InvalidCatalogIndex));
    return entries_[static_cast<std::size_t>(index)];
}

const char* CCatalogFactoryImpl::GetClassId(int32 index) const { return at(index).class_id.c_str(); }

int32 CCatalogFactoryImpl::GetIndex(const char* class_id) const {
    const std::string wanted = class_id ? class_id : "";
    for (std::size_t i = 0; i < entries_.size(); ++i)
        if (entries_[i].class_id.size() == wanted.size() && entries_[i].class_id == wanted)
            return static_cast<int32>(i);
    throw CLogicExceptionImpl(message(MessageId::InvalidCatalogId));
}

IUnknown* CCatalogFactoryImpl::Create(int32 index, void* argument) {
    const entry& chosen = at(index);
    if (chosen.create == nullptr) throw CLogicExceptionImpl(message(MessageId::NullCreateFn));
    return chosen.create(argument, std::string(chosen.class_id));
}

CCatalogFactoryImpl& catalog_factory() {
    // Static and never released: reference counting does not apply to it.
    static CCatalogFactoryImpl* factory = new CCatalogFactoryImpl();
    return *factory;
}

}  // namespace Mrv
