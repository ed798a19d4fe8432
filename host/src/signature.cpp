#include "host/signature.h"

#include <algorithm>
#include <stdexcept>

namespace mrvhost {

namespace {
std::string text(const char* value) { return value ? value : ""; }
}  // namespace

std::uint64_t next_change_stamp() {
    static std::atomic<std::uint64_t> last{0};
    return ++last;
}

// ---- Pin ------------------------------------------------------------------------

Pin::Pin(Kind kind, std::string id, std::string catalog_id, std::string class_id, std::string name,
         std::string description, bool required)
    : kind_(kind), id_(std::move(id)), catalog_id_(std::move(catalog_id)), class_id_(std::move(class_id)),
      name_(std::move(name)), description_(std::move(description)), required_(required),
      own_(Ref<Mrv::IDatatype>::adopt(create_datatype(catalog_id_, class_id_))) {}

Ref<Pin> Pin::create_input(const std::string& id, const std::string& catalog_id, const std::string& class_id,
                           const std::string& name, const std::string& description, bool required) {
    return Ref<Pin>::adopt(new Pin(Kind::input, id, catalog_id, class_id, name, description, required));
}

Ref<Pin> Pin::create_output(const std::string& id, const std::string& catalog_id, const std::string& class_id,
                            const std::string& name, const std::string& description) {
    return Ref<Pin>::adopt(new Pin(Kind::output, id, catalog_id, class_id, name, description, false));
}

bool Pin::HasData() const {
    const Mrv::IDatatype* value = link_ ? link_->GetDatatype() : own_.get();
    return value && value->GetTimeStamp() != 0 && value->GetTimeStamp() != seen_;
}

void Pin::executed() {
    const Mrv::IDatatype* value = link_ ? link_->GetDatatype() : own_.get();
    seen_ = value ? value->GetTimeStamp() : 0;
}

void Pin::connect(Pin& output) {
    if (output.catalog_id_ != catalog_id_ || output.class_id_ != class_id_)
        throw std::invalid_argument("cannot link " + output.id_ + " (" + output.catalog_id_ + "/" + output.class_id_ +
                                    ") to " + id_ + " (" + catalog_id_ + "/" + class_id_ + ")");
    link_ = Ref<Pin>(&output);
}

Ref<Pin> Pin::clone() const {
    Ref<Pin> copy = Ref<Pin>::adopt(new Pin(kind_, id_, catalog_id_, class_id_, name_, description_, required_));
    copy->own_->CopyFrom(own_.get());
    return copy;
}

// ---- Parameter --------------------------------------------------------------------

Ref<Parameter> Parameter::create(const std::string& id, const std::string& name, const std::string& description,
                                 const std::string& catalog_id, const std::string& class_id,
                                 const std::string& domain_catalog_id, const std::string& domain_class_id) {
    Ref<Parameter> parameter = Ref<Parameter>::adopt(new Parameter());
    parameter->id_ = id;
    parameter->name_ = name;
    parameter->description_ = description;
    parameter->catalog_id_ = catalog_id;
    parameter->class_id_ = class_id;
    parameter->value_ = Ref<Mrv::IDatatype>::adopt(create_datatype(catalog_id, class_id));
    if (!domain_class_id.empty()) {
        parameter->domain_catalog_id_ = domain_catalog_id.empty() ? "kernel" : domain_catalog_id;
        parameter->domain_class_id_ = domain_class_id;
        parameter->domain_ = Ref<Mrv::IDomain>::adopt(create_domain(parameter->domain_catalog_id_, domain_class_id));
    }
    // A trigger carries no value to compare: every firing is a change.
    parameter->compares_ = !(catalog_id == "kernel" && class_id == "trigger");
    return parameter;
}

bool Parameter::GetAttribute(Mrv::int32 attribute) const {
    return attribute >= 1 && attribute <= 6 && attributes_[attribute];
}

void Parameter::SetAttribute(Mrv::int32 attribute, bool value) {
    if (attribute < 1 || attribute > 6) throw_range(7, attribute);
    attributes_[attribute] = value;
}

Ref<Parameter> Parameter::clone() const {
    Ref<Parameter> copy = create(id_, name_, description_, catalog_id_, class_id_, domain_catalog_id_, domain_class_id_);
    copy->value_->CopyFrom(value_.get());
    copy->value_->SetTimeStamp(value_->GetTimeStamp());
    std::copy(attributes_, attributes_ + 7, copy->attributes_);
    copy->int_attribute_ = int_attribute_;
    copy->compares_ = compares_;
    if (domain_) {
        Mrv::int32 low = 0, high = 0;
        if (auto* ints = Mrv::interface_cast<Mrv::IIntDomain>(domain_.get())) {
            auto* target = Mrv::interface_cast<Mrv::IIntDomain>(copy->domain_.get());
            target->SetMinimum(ints->GetMinimum(&low), low);
            target->SetMaximum(ints->GetMaximum(&high), high);
        } else if (auto* reals = Mrv::interface_cast<Mrv::IDoubleDomain>(domain_.get())) {
            auto* target = Mrv::interface_cast<Mrv::IDoubleDomain>(copy->domain_.get());
            target->SetMinimum(reals->GetMinimum(&low), low);
            target->SetMaximum(reals->GetMaximum(&high), high);
        }
    }
    return copy;
}

// ---- Signature ------------------------------------------------------------------------

Signature::Signature()
    : inputs_(Ref<PinCollection>::adopt(new PinCollection())),
      outputs_(Ref<PinCollection>::adopt(new PinCollection())),
      parameters_(Ref<ParameterCollection>::adopt(new ParameterCollection())),
      trace_level_(Parameter::create("TraceLevel", "Trace level", "How much the block logs", "kernel", "int")) {}

Ref<Signature> Signature::create() { return Ref<Signature>::adopt(new Signature()); }

void Signature::check_new_id(const char* id) const {
    const std::string wanted = text(id);
    if (wanted.empty()) throw_logic("An empty identifier cannot be declared in a block signature.\n");
    if (inputs_->find(wanted) || outputs_->find(wanted) || parameters_->find(wanted))
        throw_logic("Duplicate identifier \"" + wanted + "\" in block signature.\n");
}

void Signature::AddInput(const char* id, const char* name, const char* description, const char* catalog_id,
                         const char* class_id, bool required, bool, Mrv::int32) {
    check_new_id(id);
    inputs_->add(Pin::create_input(text(id), text(catalog_id), text(class_id), text(name), text(description), required));
}

void Signature::AddOutput(const char* id, const char* name, const char* description, const char* catalog_id,
                          const char* class_id, const char*, const char*, Mrv::int32) {
    check_new_id(id);
    outputs_->add(Pin::create_output(text(id), text(catalog_id), text(class_id), text(name), text(description)));
}

void Signature::AddParameter(const char* id, const char* name, const char* description, const char* catalog_id,
                             const char* class_id, const char* domain_catalog_id, const char* domain_class_id,
                             Mrv::int32, Mrv::int32) {
    check_new_id(id);
    parameters_->add(Parameter::create(text(id), text(name), text(description), text(catalog_id), text(class_id),
                                       text(domain_catalog_id), text(domain_class_id)));
}

bool Signature::RemoveInput(const char* id) { return inputs_->remove(text(id)); }
bool Signature::RemoveOutput(const char* id) { return outputs_->remove(text(id)); }
bool Signature::RemoveParameter(const char* id) { return parameters_->remove(text(id)); }

void Signature::Clear() {
    inputs_->clear();
    outputs_->clear();
    parameters_->clear();
}

void Signature::executed() {
    for (const auto& input : inputs_->items()) input->executed();
}

Ref<Signature> Signature::clone() const {
    Ref<Signature> copy = create();
    for (const auto& pin : inputs_->items()) copy->inputs_->add(pin->clone());
    for (const auto& pin : outputs_->items()) copy->outputs_->add(pin->clone());
    for (const auto& parameter : parameters_->items()) copy->parameters_->add(parameter->clone());
    copy->trace_level_->GetValue()->CopyFrom(trace_level_->GetValue());
    return copy;
}

// ---- Layout and Status ------------------------------------------------------------------

Ref<Layout> Layout::create() { return Ref<Layout>::adopt(new Layout()); }

Mrv::IDatatypeLayout* Layout::SetLayout(const char* parameter_id, const char* catalog_id, const char* class_id) {
    Ref<Mrv::IDatatypeLayout> layout = Ref<Mrv::IDatatypeLayout>::adopt(create_layout(text(catalog_id), text(class_id)));
    Mrv::IDatatypeLayout* result = layout.get();
    layouts_[text(parameter_id)] = std::move(layout);
    return result;
}

Mrv::IDatatypeLayout* Layout::GetLayout(const char* parameter_id) {
    const auto found = layouts_.find(text(parameter_id));
    return found == layouts_.end() ? nullptr : found->second.get();
}

Status::Status() : request_(Ref<ExecutionRequest>::adopt(new ExecutionRequest())) {}

Ref<Status> Status::create() { return Ref<Status>::adopt(new Status()); }

void Status::AddDrivingInput(const char* pin_id, Mrv::int32 flag) {
    RemoveDrivingInput(pin_id);
    driving_.emplace_back(text(pin_id), flag);
    driving_changed_ = next_change_stamp();
}

void Status::RemoveDrivingInput(const char* pin_id) {
    const std::string id = text(pin_id);
    const auto kept =
        std::remove_if(driving_.begin(), driving_.end(), [&](const auto& entry) { return entry.first == id; });
    if (kept == driving_.end()) return;
    driving_.erase(kept, driving_.end());
    driving_changed_ = next_change_stamp();
}

}  // namespace mrvhost
