// Reference counting and interface conversion for the library's own objects.
#pragma once

#include <atomic>

#include "mrv/base.h"

namespace ksl {

// Deletes an object whose count reached zero.
struct default_delete {
    template <class T>
    void operator()(T* object) const { delete object; }
};

// Implements the root interface for a class that implements `Interfaces...`
// (each an SDK interface); conversion walks each interface's parent chain.
template <class... Interfaces>
class reference_counted_class_impl : public Interfaces... {
public:
    reference_counted_class_impl() = default;
    // A copy is a new object: it starts with its own count.
    reference_counted_class_impl(const reference_counted_class_impl&) : Interfaces()... {}
    reference_counted_class_impl& operator=(const reference_counted_class_impl&) { return *this; }

    Mrv::uint32 AddRef() override { return ++references_; }
    Mrv::uint32 Release() override {
        const Mrv::uint32 left = --references_;
        if (left == 0) default_delete()(this);
        return left;
    }
    void* Convert(const char* iid) override { return Mrv::find_among<Interfaces...>(this, iid); }

protected:
    ~reference_counted_class_impl() override = default;
    friend struct default_delete;

private:
    std::atomic<Mrv::uint32> references_{1};
};

}  // namespace ksl
