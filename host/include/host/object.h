// Host object model: counted, reference-counted implementations of SDK
// interfaces, an intrusive holder, and the host's own exceptions.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <type_traits>
#include <utility>

#include "mrv/exceptions.h"

namespace mrvhost {

// Number of host objects alive now; tests assert it returns to where it was.
std::int64_t live_object_count();

namespace detail {
std::atomic<std::int64_t>& live_counter();

struct Counted {
    Counted() { ++live_counter(); }
    Counted(const Counted&) { ++live_counter(); }
    Counted& operator=(const Counted&) = default;
    ~Counted() { --live_counter(); }
};
}  // namespace detail

// Implements the root interface for the listed SDK interfaces. Objects
// start with one reference, owned by whoever created them.
template <class... Interfaces>
class Object : public Interfaces..., private detail::Counted {
public:
    Object() = default;
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    Mrv::uint32 AddRef() override { return ++references_; }
    Mrv::uint32 Release() override {
        const Mrv::uint32 left = --references_;
        if (left == 0) delete this;
        return left;
    }
    void* Convert(const char* iid) override { return Mrv::find_among<Interfaces...>(this, iid); }

protected:
    ~Object() override = default;

private:
    std::atomic<Mrv::uint32> references_{1};
};

// Intrusive holder: adds a reference when it stores a pointer and releases
// it when it drops it; adopt() takes over a reference handed out by a
// create operation.
template <class I>
class Ref {
public:
    Ref() = default;
    Ref(std::nullptr_t) {}
    explicit Ref(I* pointer) : pointer_(pointer) {
        if (pointer_) pointer_->AddRef();
    }
    template <class U, class = std::enable_if_t<std::is_convertible_v<U*, I*>>>
    Ref(const Ref<U>& other) : Ref(static_cast<I*>(other.get())) {}
    Ref(const Ref& other) : Ref(other.pointer_) {}
    Ref(Ref&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
    ~Ref() { reset(); }
    Ref& operator=(Ref other) noexcept {
        std::swap(pointer_, other.pointer_);
        return *this;
    }

    template <class U>
    static Ref adopt(U* created) {
        Ref holder;
        holder.pointer_ = created;
        return holder;
    }

    void reset() {
        if (I* old = std::exchange(pointer_, nullptr)) old->Release();
    }
    I* get() const { return pointer_; }
    I* operator->() const { return pointer_; }
    I& operator*() const { return *pointer_; }
    explicit operator bool() const { return pointer_ != nullptr; }

private:
    I* pointer_ = nullptr;
};

// A host exception, thrown by value and caught as `const Mrv::IException&`.
template <class I>
class HostException : public I {
public:
    explicit HostException(std::string description) : description_(std::move(description)) {}
    HostException(const HostException&) = default;
    ~HostException() override = default;
    const char* GetDescription() const override { return description_.c_str(); }
    Mrv::uint32 AddRef() override { return 1; }
    Mrv::uint32 Release() override { return 1; }
    void* Convert(const char* iid) override { return Mrv::find_interface<I>(this, iid); }

private:
    std::string description_;
};

[[noreturn]] void throw_logic(const std::string& message);
[[noreturn]] void throw_cast();
[[noreturn]] void throw_collection(const std::string& message);
[[noreturn]] void throw_range(int count, int index);

// Converts or throws "Invalid type cast.\n".
template <class I>
I* convert_or_throw(Mrv::IUnknown* object) {
    I* converted = Mrv::interface_cast<I>(object);
    if (!converted) throw_cast();
    return converted;
}
template <class I>
const I* convert_or_throw(const Mrv::IUnknown* object) {
    return convert_or_throw<I>(const_cast<Mrv::IUnknown*>(object));
}

}  // namespace mrvhost
