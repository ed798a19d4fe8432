// Typed property values and the property sets that the block and the
// signature objects expose to the host.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <boost/any.hpp>

#include "framework/exceptions.h"
#include "mrv/block.h"

namespace Mrv {

// One named value held as exactly one of: char, short, int, float, double,
// string, 64-bit integer, bool.
class CPropertyImpl : public ksl::reference_counted_class_impl<IProperty> {
public:
    template <class T>
    CPropertyImpl(int32 id, std::string name, T value)
        : id_(id), name_(std::move(name)), value_(std::move(value)) {}

    int32 GetId() const override { return id_; }
    const char* GetName() const override { return name_.c_str(); }
    const char* GetText() override;
    void SetText(const char* text) override;

    // Reads must name the stored type exactly; anything else raises
    // CStdExceptionImpl carrying the failed cast.
    template <class T>
    T get() const {
        try {
            return boost::any_cast<T>(value_);
        } catch (const std::exception& error) {
            throw CStdExceptionImpl(error);
        }
    }
    template <class T>
    void set(T value) { value_ = std::move(value); }

    std::string text() const;

private:
    int32 id_;
    std::string name_;
    boost::any value_;
    std::string text_cache_;
};

class CPropertySetImpl : public ksl::reference_counted_class_impl<IPropertySet> {
public:
    explicit CPropertySetImpl(std::string name) : name_(std::move(name)) {}
    ~CPropertySetImpl() override;
    const char* GetName() const override { return name_.c_str(); }
    int32 GetCount() const override { return static_cast<int32>(properties_.size()); }
    // Outside [0, count - 1] raises the collection range message.
    IProperty* GetItem(int32 index) override;
    // Takes over the caller's reference.
    void add(CPropertyImpl* property) { properties_.push_back(property); }

private:
    std::string name_;
    std::vector<CPropertyImpl*> properties_;
};

// Named property sets of one object.
class CPropertyCollectionImpl {
public:
    CPropertyCollectionImpl() = default;
    CPropertyCollectionImpl(const CPropertyCollectionImpl&) = delete;
    CPropertyCollectionImpl& operator=(const CPropertyCollectionImpl&) = delete;
    ~CPropertyCollectionImpl();

    int32 count() const { return static_cast<int32>(sets_.size()); }
    // "Property set index is out of range.\n" outside the range.
    CPropertySetImpl* at(int32 index) const;
    // std::runtime_error "Property set \"NAME\" not found" when absent.
    CPropertySetImpl* find(const std::string& name) const;
    CPropertySetImpl* add(const std::string& name);

private:
    std::vector<CPropertySetImpl*> sets_;
};

// Implements the host's property-container interface over a collection.
template <class Base>
class CPropertyContainerImpl : public Base {
public:
    int32 GetPropertySetCount() const override { return properties_.count(); }
    IPropertySet* GetPropertySet(int32 index) override { return properties_.at(index); }
    IPropertySet* FindPropertySet(const char* name) override { return properties_.find(name); }

    CPropertyCollectionImpl& properties() { return properties_; }

private:
    CPropertyCollectionImpl properties_;
};

}  // namespace Mrv
