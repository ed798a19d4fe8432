// Typed handles to a block's pins and parameters, declared as members by id.
// The block base owns them: it binds every pin handle before the block's
// Init, binds a parameter handle at its first use, and drops them all after
// Done, after the signature tear-down and when the signature is replaced, so
// that a block never writes a release function of its own. A bound handle
// reads through a plain pointer: no lookup, no conversion per read.
#pragma once

#include <string>
#include <vector>

#include "framework/smart_ptr.h"
#include "mrv/signature.h"

namespace Mrv {

class handle_base;

// The lookups a handle needs; the block base implements them.
class handle_owner {
public:
    handle_owner() = default;
    handle_owner(const handle_owner&) = delete;
    handle_owner& operator=(const handle_owner&) = delete;

    void add_handle(handle_base* handle) { handles_.push_back(handle); }
    // The pin or parameter by id; throws CCollectionExceptionImpl when it is
    // not declared.
    virtual IPin* LookUpPin(bool input, const std::string& id) = 0;
    virtual bool HasPin(bool input, const std::string& id) = 0;
    virtual IParameter* LookUpParameter(const std::string& id) = 0;

protected:
    ~handle_owner() = default;
    void BindPinHandles();
    void ReleaseHandles();
    void ReleaseParameterHandles(const std::string& id);

private:
    std::vector<handle_base*> handles_;
};

class handle_base {
public:
    handle_base(handle_owner* owner, const char* id) : owner_(owner), id_(id) { owner->add_handle(this); }
    handle_base(const handle_base&) = delete;
    handle_base& operator=(const handle_base&) = delete;
    const std::string& id() const { return id_; }
    virtual bool is_pin() const { return true; }
    virtual void bind() = 0;
    virtual void release() = 0;

protected:
    ~handle_base() = default;
    handle_owner* owner_;
    std::string id_;
};

// An input or output pin's datatype object seen as T. A pin handle marked
// optional stays empty when the pin is not declared at Init (a pin that a
// parameter adds and removes).
template <class T, bool Input>
class pin_handle : public handle_base {
public:
    pin_handle(handle_owner* owner, const char* id, bool optional = false)
        : handle_base(owner, id), optional_(optional) {}

    void bind() override {
        if (optional_ && !owner_->HasPin(Input, id_)) return;
        pin_ = owner_->LookUpPin(Input, id_);
        value_ = pin_->GetDatatype();
    }
    void release() override {
        value_ = nullptr;
        pin_ = nullptr;
    }

    T* get() const { return value_.get(); }
    T* operator->() const { return value_.get(); }
    T& operator*() const { return *value_; }
    explicit operator bool() const { return static_cast<bool>(value_); }
    // Whether the input holds data for the current execution.
    bool HasData() const { return pin_ && pin_->HasData(); }

private:
    bool optional_;
    CSmartPtr<IPin> pin_;
    CSmartPtr<T> value_;
};

template <class T>
using input_pin = pin_handle<T, true>;
template <class T>
using output_pin = pin_handle<T, false>;

// A run of outputs whose ids the block computes (one per histogram, one per
// distribution); bound like the other pins, from the ids set last.
template <class T>
class output_pins : public handle_base {
public:
    explicit output_pins(handle_owner* owner) : handle_base(owner, "") {}

    void set_ids(std::vector<std::string> ids) { ids_ = std::move(ids); }
    const std::vector<std::string>& ids() const { return ids_; }
    void bind() override {
        values_.assign(ids_.size(), nullptr);
        for (std::size_t i = 0; i < ids_.size(); ++i) values_[i] = owner_->LookUpPin(false, ids_[i])->GetDatatype();
    }
    void release() override { values_.clear(); }

    std::size_t size() const { return values_.size(); }
    T* operator[](std::size_t i) const { return values_[i].get(); }
    auto begin() const { return values_.begin(); }
    auto end() const { return values_.end(); }

private:
    std::vector<std::string> ids_;
    std::vector<CSmartPtr<T>> values_;
};

// A parameter's value object seen as T, bound at its first use; a wrong
// interface raises CCastExceptionImpl.
template <class T>
class parameter_handle : public handle_base {
public:
    parameter_handle(handle_owner* owner, const char* id) : handle_base(owner, id) {}

    bool is_pin() const override { return false; }
    void bind() override { value_ = owner_->LookUpParameter(id_)->GetValue(); }
    void release() override { value_ = nullptr; }

    T* get() {
        if (!value_) bind();
        return value_.get();
    }
    T* operator->() { return get(); }

private:
    CSmartPtr<T> value_;
};

inline void handle_owner::BindPinHandles() {
    for (handle_base* handle : handles_)
        if (handle->is_pin()) handle->bind();
}

inline void handle_owner::ReleaseHandles() {
    for (handle_base* handle : handles_) handle->release();
}

inline void handle_owner::ReleaseParameterHandles(const std::string& id) {
    for (handle_base* handle : handles_)
        if (!handle->is_pin() && handle->id() == id) handle->release();
}

}  // namespace Mrv
