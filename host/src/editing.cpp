#include "host/editing.h"

#include <vector>

namespace mrvhost {
namespace {

using Mrv::int32;

// A flag-true bound is inclusive, a flag-false bound exclusive.
template <class T>
struct Bound {
    T value{};
    int32 state = Mrv::BoundAbsent;
    bool below(T x) const {  // x violates this bound as a minimum
        return state == Mrv::BoundFlagTrue ? x < value : state == Mrv::BoundFlagFalse ? x <= value : false;
    }
    bool above(T x) const {
        return state == Mrv::BoundFlagTrue ? x > value : state == Mrv::BoundFlagFalse ? x >= value : false;
    }
};

template <class I, class ValueInterface, class T>
class Domain : public Object<I> {
public:
    bool Accepts(const Mrv::IDatatype* value) const override {
        auto* typed = Mrv::interface_cast<ValueInterface>(const_cast<Mrv::IDatatype*>(value));
        if (!typed) return false;
        const T x = typed->GetValue();
        if constexpr (std::is_floating_point_v<T>)
            if (x != x) return minimum_.state == Mrv::BoundAbsent && maximum_.state == Mrv::BoundAbsent;
        return !minimum_.below(x) && !maximum_.above(x);
    }
    void SetMinimum(T value, int32 state) override { minimum_ = {value, state}; }
    void SetMaximum(T value, int32 state) override { maximum_ = {value, state}; }
    T GetMinimum(int32* state) const override {
        if (state) *state = minimum_.state;
        return minimum_.value;
    }
    T GetMaximum(int32* state) const override {
        if (state) *state = maximum_.state;
        return maximum_.value;
    }

private:
    Bound<T> minimum_, maximum_;
};

template <class I>
class LayoutBase : public Object<I> {
public:
    explicit LayoutBase(const char* class_id) : class_id_(class_id) {}
    const char* GetClassId() const override { return class_id_; }

private:
    const char* class_id_;
};

class Combo : public LayoutBase<Mrv::IComboDatatypeLayout> {
public:
    Combo() : LayoutBase("combo") {}
    void SetItemCount(int32 count) override {
        if (count < 0) throw_logic("The specified combo size is not valid.\n");
        items_.resize(static_cast<std::size_t>(count));
    }
    void SetItem(int32 index, const char* text) override { items_[checked(index)] = text ? text : ""; }
    int32 GetItemCount() const override { return static_cast<int32>(items_.size()); }
    const char* GetItem(int32 index) const override { return items_[checked(index)].c_str(); }

private:
    std::size_t checked(int32 index) const {
        if (index < 0 || index >= GetItemCount()) throw_logic("The specified combo item index is not valid.\n");
        return static_cast<std::size_t>(index);
    }
    std::vector<std::string> items_;
};

class Filename : public LayoutBase<Mrv::IFilenameDatatypeLayout> {
public:
    Filename() : LayoutBase("filename") {}
    void SetFilter(const char* filter) override { filter_ = filter ? filter : ""; }
    void SetOptions(bool first, bool second, bool third) override {
        options_[0] = first;
        options_[1] = second;
        options_[2] = third;
    }
    const char* GetFilter() const override { return filter_.c_str(); }
    bool GetOption(int32 index) const override { return index >= 0 && index < 3 && options_[index]; }

private:
    std::string filter_;
    bool options_[3] = {false, false, false};
};

class Foldername : public LayoutBase<Mrv::IFoldernameDatatypeLayout> {
public:
    Foldername() : LayoutBase("foldername") {}
    void SetOption(bool option) override { option_ = option; }
    bool GetOption() const override { return option_; }

private:
    bool option_ = false;
};

class Selector : public LayoutBase<Mrv::IDatatypeSelectorComboLayout> {
public:
    Selector() : LayoutBase("datatype_selector_combo") {}
    void AddPair(const char* first, const char* second) override {
        pairs_.emplace_back(first ? first : "", second ? second : "");
    }
    int32 GetPairCount() const override { return static_cast<int32>(pairs_.size()); }
    const char* GetFirst(int32 index) const override { return at(index).first.c_str(); }
    const char* GetSecond(int32 index) const override { return at(index).second.c_str(); }

private:
    const std::pair<std::string, std::string>& at(int32 index) const {
        if (index < 0 || index >= GetPairCount()) throw_range(GetPairCount(), index);
        return pairs_[static_cast<std::size_t>(index)];
    }
    std::vector<std::pair<std::string, std::string>> pairs_;
};

}  // namespace

Mrv::IDomain* create_domain(const std::string& catalog_id, const std::string& class_id) {
    if (catalog_id == "kernel" && class_id == "int-domain") return new Domain<Mrv::IIntDomain, Mrv::IInt, int32>();
    if (catalog_id == "kernel" && class_id == "double-domain")
        return new Domain<Mrv::IDoubleDomain, Mrv::IDouble, double>();
    throw_logic("Catalog error: failed to instantiate datatype domain.\n");
}

Mrv::IDatatypeLayout* create_layout(const std::string& catalog_id, const std::string& class_id) {
    if (catalog_id == "kernel") {
        if (class_id == "combo") return new Combo();
        if (class_id == "filename") return new Filename();
        if (class_id == "foldername") return new Foldername();
        if (class_id == "datatype_selector_combo") return new Selector();
    }
    throw_logic("Catalog error: failed to instantiate datatype layout.\n");
}

}  // namespace mrvhost
