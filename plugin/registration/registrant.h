// Registrants: static records of every class the library offers, built
// with a fluent builder at load time and collected in one list per kind.
#pragma once

#include "framework/platform/module.h"

#include <functional>
#include <stdexcept>
#include <string>
#include <deque>
#include <vector>

#include <boost/format.hpp>

#include "framework/exceptions.h"
#include "mrv/dll.h"

namespace Mrv {

// Resolves the registrant a builder step belongs to; a broken chain (a
// record without its registrant) raises at load.
template <class ThisClass>
struct curiosly_recurring_pattern_helper {
    static ThisClass& this_class_ref(ThisClass* pointer) {
        if (pointer == nullptr)
            throw std::runtime_error("curiosly_recurring_pattern_helper<ThisClass>::this_class_ref: NULL pointer");
        return *pointer;
    }
};

// Set once the library has been detached: static destructors that run
// afterwards find their lists already emptied.
bool& library_unloaded();

// The library-wide list of registrants of one kind, in registration order.
template <class Registrant>
class registration_list {
public:
    static std::vector<const Registrant*>& items() {
        static platform::never_destroyed<std::vector<const Registrant*>> list;
        return list.get();
    }
    static void append(const Registrant* registrant) { items().push_back(registrant); }
    static void remove(const Registrant* registrant) {
        auto& list = items();
        for (auto it = list.begin(); it != list.end(); ++it)
            if (*it == registrant) {
                list.erase(it);
                return;
            }
    }
};

// Per-language texts of a record.
struct language_texts {
    LanguageId language_id = 0;
    std::string name;
    std::string description;
    std::string catalog_path;
    int32 bitmap_id = 0;
};

// One per-language record as a builder step: its setters chain, and the
// registrant's own steps are reachable from it.
template <class T>
class object_class_language {
public:
    object_class_language(T* owner, LanguageId language) : owner_(owner) { texts_.language_id = language; }

    object_class_language& name(const std::string& text) { texts_.name = text; return *this; }
    object_class_language& description(const std::string& text) { texts_.description = text; return *this; }
    object_class_language& catalog_path(const std::string& path) { texts_.catalog_path = path; return *this; }
    object_class_language& bitmap(int32 id) { texts_.bitmap_id = id; return *this; }

    object_class_language& language(LanguageId id) { return owner().language(id); }
    T& author(const std::string& id) { return owner().author(id); }
    T& licence(const std::string& id) { return owner().licence(id); }
    T& company(const std::string& id) { return owner().company(id); }
    template <class F>
    T& factory(F function) { return owner().factory(std::move(function)); }
    T& done() { return owner(); }

    const language_texts& texts() const { return texts_; }
    void rebind(T* owner) { owner_ = owner; }

private:
    T& owner() const { return curiosly_recurring_pattern_helper<T>::this_class_ref(owner_); }

    T* owner_;
    language_texts texts_;
};

// Shared part of class registrants (block classes and the catalog) and of
// record registrants (authors, companies, licences).
template <class T>
class object_class_registrant {
public:
    explicit object_class_registrant(std::string id) : class_id_(std::move(id)) {}
    object_class_registrant(const object_class_registrant& other)
        : class_id_(other.class_id_), languages_(other.languages_), authors_(other.authors_),
          licences_(other.licences_), companies_(other.companies_), categories_(other.categories_) {
        rebind();
    }
    object_class_registrant& operator=(const object_class_registrant&) = delete;

    // Selects the record of a language, adding it when there is none.
    object_class_language<T>& language(LanguageId id) {
        for (auto& record : languages_)
            if (record.texts().language_id == id) return record;
        languages_.emplace_back(static_cast<T*>(this), id);
        return languages_.back();
    }
    T& author(const std::string& id) { authors_.push_back(id); return self(); }
    T& licence(const std::string& id) { licences_.push_back(id); return self(); }
    T& company(const std::string& id) { companies_.push_back(id); return self(); }
    T& category(const std::string& id) { categories_.push_back(id); return self(); }

    const std::string& class_id() const { return class_id_; }
    // The record for `language`, else the first record; with no record at
    // all raises std::runtime_error "Language %1% not found".
    const language_texts& texts(LanguageId language) const {
        for (const auto& record : languages_)
            if (record.texts().language_id == language) return record.texts();
        if (!languages_.empty()) return languages_.front().texts();
        throw std::runtime_error((boost::format("Language %1% not found") % language).str());
    }
    const std::vector<std::string>& authors() const { return authors_; }
    const std::vector<std::string>& licences() const { return licences_; }
    const std::vector<std::string>& companies() const { return companies_; }

protected:
    T& self() { return static_cast<T&>(*this); }

private:
    void rebind() {
        for (auto& record : languages_) record.rebind(static_cast<T*>(this));
    }

    std::string class_id_;
    // A deque keeps earlier records in place while the chain adds more.
    std::deque<object_class_language<T>> languages_;
    std::vector<std::string> authors_, licences_, companies_, categories_;
};

using block_factory = std::function<IBlock*(const CreationContext* context, const char* class_id)>;

// A block class: its records and the factory that creates its blocks.
class block_class_registrant : public object_class_registrant<block_class_registrant> {
public:
    using object_class_registrant::object_class_registrant;

    block_class_registrant& factory(block_factory function) {
        factory_ = std::move(function);
        return *this;
    }
    // Creates a block; a registrant whose factory was never set raises.
    IBlock* create(const CreationContext* context) const;

private:
    block_factory factory_;
};

class catalog_class_registrant : public object_class_registrant<catalog_class_registrant> {
public:
    using object_class_registrant::object_class_registrant;
};

class author_registrant : public object_class_registrant<author_registrant> {
public:
    using object_class_registrant::object_class_registrant;
};
class company_registrant : public object_class_registrant<company_registrant> {
public:
    using object_class_registrant::object_class_registrant;
};
class licence_registrant : public object_class_registrant<licence_registrant> {
public:
    using object_class_registrant::object_class_registrant;
};

// The finished registrant's static home: appends it to the list of its
// kind and takes it out again at unload.
template <class Registrant>
class static_registrant {
public:
    static_registrant(const Registrant& built) : registrant_(built) {
        registration_list<Registrant>::append(&registrant_);
    }
    static_registrant(const object_class_language<Registrant>& built) : static_registrant(built_owner(built)) {}
    ~static_registrant() {
        if (!library_unloaded()) registration_list<Registrant>::remove(&registrant_);
    }
    static_registrant(const static_registrant&) = delete;
    static_registrant& operator=(const static_registrant&) = delete;

    const Registrant& get() const { return registrant_; }

private:
    static const Registrant& built_owner(const object_class_language<Registrant>& record) {
        return const_cast<object_class_language<Registrant>&>(record).done();
    }
    Registrant registrant_;
};

}  // namespace Mrv
