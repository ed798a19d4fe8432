// Declaration descriptors: what a block says about each pin and parameter.
// Blocks keep one table of `declaration`s, read top to bottom by the base.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "mrv/datatypes.h"
#include "resources/string_table.h"

namespace Mrv {

// A display text: an entry of the library's string table (or its id) or a
// literal.
class text {
public:
    text() = default;
    text(const char* literal) : literal_(literal) {}
    text(int resource_id) : resource_id_(static_cast<std::uint16_t>(resource_id)) {}
    text(const resources::string_entry& entry) : resource_id_(entry.id) {}
    bool is_resource() const { return !literal_; }
    std::uint16_t resource_id() const { return resource_id_; }
    const char* literal() const { return literal_; }

private:
    const char* literal_ = nullptr;
    std::uint16_t resource_id_ = 0;
};

// A numeric bound: absent, or a value with its flag.
template <class T>
struct domain_bound {
    std::optional<std::pair<T, bool>> bound;
    // The host's encoding: 0 absent, 1 present with flag true, 2 with flag false.
    int32 state() const { return !bound ? 0 : bound->second ? 1 : 2; }
    T value() const { return bound ? bound->first : T(); }
};

template <class T>
struct numeric_domain {
    domain_bound<T> minimum_bound, maximum_bound;
    numeric_domain& minimum(T value, bool flag) { minimum_bound.bound = {value, flag}; return *this; }
    numeric_domain& maximum(T value, bool flag) { maximum_bound.bound = {value, flag}; return *this; }
};
using int_domain = numeric_domain<int32>;
using double_domain = numeric_domain<double>;

struct combo_layout {
    std::vector<std::string> items;
};
struct filename_layout {
    std::string filter;
    bool options[3] = {false, false, false};
};
struct foldername_layout {
    bool option = false;
};
struct datatype_selector_layout {
    std::vector<std::pair<std::string, std::string>> pairs;
};
using layout_choice =
    std::variant<std::monostate, combo_layout, filename_layout, foldername_layout, datatype_selector_layout>;

// Called with the proposed value; false refuses the change.
using change_validator = std::function<bool(IDatatype* new_value)>;
// Called after the value was applied, with a copy of the old value.
using change_handler = std::function<void(IDatatype* old_value)>;

using default_value = std::variant<std::monostate, double, int32, bool, std::string>;

struct signature_item_descriptor {
    std::string id;
    text name;
    text description;
    std::string datatype_catalog_id = "kernel";
    std::string datatype_class_id = "double";
    int32 value = 0;
    // For inputs: required, (unused), the second add-input flag.
    bool options[3] = {true, true, false};
    std::string domain_catalog_id;
    std::string domain_class_id;
    std::string init_info_catalog_id;
    std::string init_info_class_id;
    int32 output_value = 0;
    // Parameter attributes 1..6 (index 0 unused).
    bool attributes[7] = {false, true, true, true, true, false, false};
    int32 int_attribute = 0;
    std::vector<change_validator> validators;
    std::vector<change_handler> handlers;
    std::shared_ptr<const int_domain> int_bounds;
    std::shared_ptr<const double_domain> double_bounds;
    std::shared_ptr<const layout_choice> layout;

    void set_required(bool required) { options[0] = options[1] = required; }
};

enum class declaration_kind { input, output, parameter };

// One row of a block's declaration table.
struct declaration {
    declaration_kind kind;
    signature_item_descriptor descriptor;
    default_value initial;
    // Whether a restored declaration must hold this row; a row checked
    // otherwise, or not at all, says so with unchecked().
    bool checked = true;

    declaration unchecked() && {
        checked = false;
        return std::move(*this);
    }
    // Inputs are required unless a block says otherwise.
    declaration required(bool is_required = true) && {
        descriptor.set_required(is_required);
        return std::move(*this);
    }
    declaration catalog(const char* catalog_id) && {
        descriptor.datatype_catalog_id = catalog_id;
        return std::move(*this);
    }
    declaration output_value(int32 value) && {
        descriptor.output_value = value;
        return std::move(*this);
    }
    template <class T>
    declaration initial_value(T value) && {
        if constexpr (std::is_same_v<T, int>) initial = static_cast<int32>(value);
        else if constexpr (std::is_same_v<T, const char*>) initial = std::string(value);
        else initial = value;
        return std::move(*this);
    }
    declaration attribute(int number, bool value) && {
        descriptor.attributes[number] = value;
        return std::move(*this);
    }
    declaration domain(const int_domain& bounds) && {
        descriptor.domain_catalog_id = "kernel";
        descriptor.domain_class_id = "int-domain";
        descriptor.int_bounds = std::make_shared<const int_domain>(bounds);
        return std::move(*this);
    }
    declaration domain(const double_domain& bounds) && {
        descriptor.domain_catalog_id = "kernel";
        descriptor.domain_class_id = "double-domain";
        descriptor.double_bounds = std::make_shared<const double_domain>(bounds);
        return std::move(*this);
    }
    declaration layout(layout_choice chosen) && {
        descriptor.layout = std::make_shared<const layout_choice>(std::move(chosen));
        return std::move(*this);
    }
    declaration validator(change_validator check) && {
        descriptor.validators.push_back(std::move(check));
        return std::move(*this);
    }
    declaration handler(change_handler react) && {
        descriptor.handlers.push_back(std::move(react));
        return std::move(*this);
    }
};

inline declaration make_declaration(declaration_kind kind, const char* id, text name, text description,
                                    const char* class_id) {
    declaration made{kind, {}, {}, true};
    made.descriptor.id = id;
    made.descriptor.name = name;
    made.descriptor.description = description;
    made.descriptor.datatype_class_id = class_id;
    return made;
}

inline declaration input(const char* id, text name, text description, const char* class_id) {
    return make_declaration(declaration_kind::input, id, name, description, class_id);
}
inline declaration output(const char* id, text name, text description, const char* class_id) {
    return make_declaration(declaration_kind::output, id, name, description, class_id);
}
inline declaration parameter(const char* id, text name, text description, const char* class_id) {
    return make_declaration(declaration_kind::parameter, id, name, description, class_id);
}

}  // namespace Mrv
