#include "framework/declaring.h"

#include <type_traits>

#include "framework/smart_ptr.h"

namespace Mrv {
namespace {

void set_initial_value(IDatatype* value, const default_value& initial) {
    std::visit(
        [value](const auto& typed) {
            using T = std::decay_t<decltype(typed)>;
            if constexpr (std::is_same_v<T, double>) CSmartPtr<IDouble>(value)->SetValue(typed);
            else if constexpr (std::is_same_v<T, int32>) CSmartPtr<IInt>(value)->SetValue(typed);
            else if constexpr (std::is_same_v<T, bool>) CSmartPtr<IBool>(value)->SetValue(typed);
            else if constexpr (std::is_same_v<T, std::string>) CSmartPtr<IString>(value)->SetValue(typed.c_str());
        },
        initial);
}

template <class Domain, class Bounds>
void set_bounds(IParameter* parameter, const Bounds& bounds) {
    CSmartPtr<Domain> domain(parameter->GetDomain());
    if (!domain) throw CCastExceptionImpl();
    domain->SetMinimum(bounds.minimum_bound.value(), bounds.minimum_bound.state());
    domain->SetMaximum(bounds.maximum_bound.value(), bounds.maximum_bound.state());
}

void set_layout(ILayout* layout, const char* id, const layout_choice& choice) {
    std::visit(
        [&](const auto& chosen) {
            using T = std::decay_t<decltype(chosen)>;
            if constexpr (std::is_same_v<T, combo_layout>) {
                CSmartPtr<IComboDatatypeLayout> combo(layout->SetLayout(id, "kernel", "combo"));
                combo->SetItemCount(static_cast<int32>(chosen.items.size()));
                for (std::size_t i = 0; i < chosen.items.size(); ++i)
                    combo->SetItem(static_cast<int32>(i), chosen.items[i].c_str());
            } else if constexpr (std::is_same_v<T, filename_layout>) {
                CSmartPtr<IFilenameDatatypeLayout> file(layout->SetLayout(id, "kernel", "filename"));
                file->SetFilter(chosen.filter.c_str());
                file->SetOptions(chosen.options[0], chosen.options[1], chosen.options[2]);
            } else if constexpr (std::is_same_v<T, foldername_layout>) {
                CSmartPtr<IFoldernameDatatypeLayout> folder(layout->SetLayout(id, "kernel", "foldername"));
                folder->SetOption(chosen.option);
            } else if constexpr (std::is_same_v<T, datatype_selector_layout>) {
                CSmartPtr<IDatatypeSelectorComboLayout> selector(
                    layout->SetLayout(id, "kernel", "datatype_selector_combo"));
                for (const auto& pair : chosen.pairs) selector->AddPair(pair.first.c_str(), pair.second.c_str());
            }
        },
        choice);
}

}  // namespace

void add_to_signature(ISignature* signature, const declaration& row, const std::string& name,
                      const std::string& description) {
    const signature_item_descriptor& item = row.descriptor;
    switch (row.kind) {
    case declaration_kind::input:
        signature->AddInput(item.id.c_str(), name.c_str(), description.c_str(), item.datatype_catalog_id.c_str(),
                            item.datatype_class_id.c_str(), item.options[0], item.options[2], item.value);
        break;
    case declaration_kind::output:
        signature->AddOutput(item.id.c_str(), name.c_str(), description.c_str(), item.datatype_catalog_id.c_str(),
                             item.datatype_class_id.c_str(), item.init_info_catalog_id.c_str(),
                             item.init_info_class_id.c_str(), item.output_value);
        break;
    case declaration_kind::parameter:
        signature->AddParameter(item.id.c_str(), name.c_str(), description.c_str(),
                                item.datatype_catalog_id.c_str(), item.datatype_class_id.c_str(),
                                item.domain_catalog_id.c_str(), item.domain_class_id.c_str(), item.value, 0);
        break;
    }
}

void set_up_parameter(IParameter* parameter, ILayout* layout, const declaration& row) {
    const signature_item_descriptor& item = row.descriptor;
    for (int attribute : {AttrDesignChange, AttrRunChange, AttrDesignStructural, AttrRunStructural, AttrVisible})
        parameter->SetAttribute(attribute, item.attributes[attribute]);
    parameter->SetIntAttribute(item.int_attribute);
    if (item.int_bounds) set_bounds<IIntDomain>(parameter, *item.int_bounds);
    else if (item.double_bounds) set_bounds<IDoubleDomain>(parameter, *item.double_bounds);
    if (item.attributes[AttrLayoutFirst]) layout->AddParameter(item.id.c_str());
    if (item.layout) set_layout(layout, item.id.c_str(), *item.layout);
    IDatatype* value = parameter->GetValue();
    check_value_interface(item.datatype_class_id, value);
    set_initial_value(value, row.initial);
}

void check_value_interface(const std::string& class_id, IDatatype* value) {
    if (class_id == "double") CSmartPtr<IDouble> check(value);
    else if (class_id == "int") CSmartPtr<IInt> check(value);
    else if (class_id == "bool") CSmartPtr<IBool> check(value);
    else if (class_id == "string") CSmartPtr<IString> check(value);
    else if (class_id == "trigger") CSmartPtr<ITrigger> check(value);
    else if (class_id == "double-matrix") CSmartPtr<IDoubleMatrix> check(value);
    else if (class_id == "int-matrix") CSmartPtr<IIntMatrix> check(value);
    else CSmartPtr<IDatatype> check(value);
}

}  // namespace Mrv
