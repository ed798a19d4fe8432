// Intrusive holder for host objects seen through one interface.
#pragma once

#include "framework/exceptions.h"
#include "mrv/kernel.h"

namespace Mrv {

// Factory policies say how CSmartPtr::Create makes a new host object.
struct no_factory {};

template <const char* const& Catalog, const char* const& ClassId>
struct datatype_factory {
    static IUnknown* create(IKernelServices* kernel) {
        return kernel->CreateDatatype(Catalog, ClassId);
    }
};

template <const char* const& Catalog, const char* const& ClassId>
struct init_info_factory {
    static IUnknown* create(IKernelServices* kernel) {
        return kernel->CreateInitInfo(Catalog, ClassId);
    }
};

// Adds a reference when it stores a pointer, releases it when it drops it,
// and converts on assignment: a pointer that does not convert to I raises
// CCastExceptionImpl ("Invalid type cast.\n").
template <class I, class Factory = no_factory>
class CSmartPtr {
public:
    CSmartPtr() = default;
    CSmartPtr(std::nullptr_t) {}
    explicit CSmartPtr(IUnknown* object) { *this = object; }
    CSmartPtr(const CSmartPtr& other) { reset(other.pointer_); }
    CSmartPtr(CSmartPtr&& other) noexcept : pointer_(other.pointer_) { other.pointer_ = nullptr; }
    ~CSmartPtr() { reset(nullptr); }

    CSmartPtr& operator=(const CSmartPtr& other) {
        reset(other.pointer_);
        return *this;
    }
    CSmartPtr& operator=(CSmartPtr&& other) noexcept {
        if (this != &other) {
            reset(nullptr);
            pointer_ = other.pointer_;
            other.pointer_ = nullptr;
        }
        return *this;
    }
    CSmartPtr& operator=(std::nullptr_t) {
        reset(nullptr);
        return *this;
    }
    CSmartPtr& operator=(IUnknown* object) {
        if (object == nullptr) {
            reset(nullptr);
            return *this;
        }
        I* converted = interface_cast<I>(object);
        if (converted == nullptr) throw CCastExceptionImpl();
        reset(converted);
        return *this;
    }

    // Takes over a reference that a host Create operation handed out.
    static CSmartPtr adopt(IUnknown* created) {
        CSmartPtr holder;
        try {
            holder = created;
        } catch (...) {
            if (created) created->Release();
            throw;
        }
        if (created) created->Release();
        return holder;
    }

    // Makes a new object through the factory policy.
    static CSmartPtr Create(IKernelServices* kernel) { return adopt(Factory::create(kernel)); }

    I* get() const { return pointer_; }
    I* operator->() const { return pointer_; }
    I& operator*() const { return *pointer_; }
    explicit operator bool() const { return pointer_ != nullptr; }
    bool operator==(std::nullptr_t) const { return pointer_ == nullptr; }
    bool operator!=(std::nullptr_t) const { return pointer_ != nullptr; }

private:
    void reset(I* pointer) {
        if (pointer) pointer->AddRef();
        I* old = pointer_;
        pointer_ = pointer;
        if (old) old->Release();
    }

    I* pointer_ = nullptr;
};

}  // namespace Mrv
