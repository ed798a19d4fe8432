#include "framework/property.h"

#include <cstdint>
#include <stdexcept>

#include <boost/format.hpp>
#include <boost/lexical_cast.hpp>

namespace Mrv {
namespace {

// Applies `action` to the stored value as its own type.
template <class Action>
void visit(const boost::any& value, Action&& action) {
    const std::type_info& type = value.type();
    if (type == typeid(char)) action(boost::any_cast<char>(value));
    else if (type == typeid(short)) action(boost::any_cast<short>(value));
    else if (type == typeid(int)) action(boost::any_cast<int>(value));
    else if (type == typeid(float)) action(boost::any_cast<float>(value));
    else if (type == typeid(double)) action(boost::any_cast<double>(value));
    else if (type == typeid(std::string)) action(boost::any_cast<std::string>(value));
    else if (type == typeid(std::int64_t)) action(boost::any_cast<std::int64_t>(value));
    else if (type == typeid(bool)) action(boost::any_cast<bool>(value));
    else throw CStdExceptionImpl(std::string("unsupported property type ") + type.name());
}

}  // namespace

std::string CPropertyImpl::text() const {
    std::string result;
    visit(value_, [&](const auto& typed) {
        try {
            result = boost::lexical_cast<std::string>(typed);
        } catch (const std::exception& error) {
            throw CStdExceptionImpl(error);
        }
    });
    return result;
}

const char* CPropertyImpl::GetText() {
    text_cache_ = text();
    return text_cache_.c_str();
}

void CPropertyImpl::SetText(const char* text) {
    visit(value_, [&](const auto& typed) {
        using T = std::decay_t<decltype(typed)>;
        try {
            value_ = boost::lexical_cast<T>(std::string(text ? text : ""));
        } catch (const std::exception& error) {
            throw CStdExceptionImpl(error);
        }
    });
}

CPropertySetImpl::~CPropertySetImpl() {
    for (auto* property : properties_) property->Release();
}

IProperty* CPropertySetImpl::GetItem(int32 index) {
    if (index < 0 || index >= GetCount())
        throw CCollectionExceptionImpl::out_of_range(GetCount(), index);
    return properties_[static_cast<std::size_t>(index)];
}

CPropertyCollectionImpl::~CPropertyCollectionImpl() {
    for (auto* set : sets_) set->Release();
}

CPropertySetImpl* CPropertyCollectionImpl::at(int32 index) const {
    if (index < 0 || index >= count())
        throw CLogicExceptionImpl(message(MessageId::PropertySetIndex));
    return sets_[static_cast<std::size_t>(index)];
}

CPropertySetImpl* CPropertyCollectionImpl::find(const std::string& name) const {
    for (auto* set : sets_)
        if (name == set->GetName()) return set;
    throw std::runtime_error((boost::format("Property set \"%1%\" not found") % name).str());
}

CPropertySetImpl* CPropertyCollectionImpl::add(const std::string& name) {
    sets_.push_back(new CPropertySetImpl(name));
    return sets_.back();
}

}  // namespace Mrv
