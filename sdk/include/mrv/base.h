// Root of every Morvane interface: reference counting and conversion by
// interface id. Ids are strings so that conversion works across modules
// without relying on RTTI agreeing across dlopen boundaries.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

// Interfaces keep default visibility so that the type information of the
// exception interfaces is shared by the plug-in and the host.
#define MRV_INTERFACE struct __attribute__((visibility("default")))

namespace Mrv {

using int32 = std::int32_t;
using uint32 = std::uint32_t;
using int64 = std::int64_t;
using uint64 = std::uint64_t;
using LanguageId = std::uint16_t;
using TimeStamp = std::int64_t;

// Interface declarations name their id and their parent interface, so a
// generic conversion can walk the chain (see interface_cast below).
#define MRV_DECLARE_INTERFACE(Name, ParentName) \
    static constexpr const char* IID = "Mrv::" #Name; \
    using Parent = ParentName

MRV_INTERFACE IUnknown {
    static constexpr const char* IID = "Mrv::IUnknown";
    using Parent = void;

    virtual uint32 AddRef() = 0;
    virtual uint32 Release() = 0;
    // Returns the object seen as the interface named by iid, or null.
    // No reference is added: a holder that keeps the result adds its own.
    virtual void* Convert(const char* iid) = 0;

protected:
    virtual ~IUnknown() = default;
};

// Walks I's parent chain; returns `object` as the interface named iid.
template <class I>
void* find_interface(I* object, const char* iid) {
    if (std::strcmp(iid, I::IID) == 0) return object;
    if constexpr (!std::is_void_v<typename I::Parent>)
        return find_interface<typename I::Parent>(object, iid);
    else
        return nullptr;
}

// Conversion for an object implementing several interfaces: the first of
// them whose chain holds iid, as that interface.
template <class... Interfaces, class Object>
void* find_among(Object* object, const char* iid) {
    void* found = nullptr;
    ((found = found ? found : find_interface<Interfaces>(static_cast<Interfaces*>(object), iid)), ...);
    return found;
}

// Converts through the object's own Convert; null when it does not convert.
template <class I>
I* interface_cast(IUnknown* object) {
    return object ? static_cast<I*>(object->Convert(I::IID)) : nullptr;
}

}  // namespace Mrv
