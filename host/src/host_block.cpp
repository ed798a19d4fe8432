// The host block base, the helpers its blocks share and the registry of
// host block classes; the blocks live in files named for their job.
#include "host/host_block.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <boost/algorithm/string.hpp>

#include "host/data_files.h"
#include "host/datatypes.h"
#include "host/osc.h"
#include "host_block_kit.h"

namespace mrvhost {

HostBlock::HostBlock(KernelServices& kernel, std::string datatype, std::string base_directory)
    : status_(Status::create()), datatype_(std::move(datatype)), kernel_(kernel), signature_(Signature::create()),
      layout_(Layout::create()), base_directory_(std::move(base_directory)) {}

void HostBlock::InitInstance(Mrv::ISignature* saved_signature, Mrv::ILayout*, Mrv::IUnknown*) {
    declare(*signature_);
    // A saved host block keeps its declarations; only the values come back.
    if (auto* saved = dynamic_cast<Signature*>(saved_signature))
        for (const auto& parameter : signature_->parameters().items())
            if (Parameter* old = saved->find_parameter(parameter->GetId()))
                if (std::string(old->GetDatatypeClassId()) == parameter->GetDatatypeClassId())
                    parameter->GetValue()->CopyFrom(old->GetValue());
}

template <class Step>
bool HostBlock::guarded(Step&& step, bool executing) {
    std::string error;
    try {
        step();
        if (executing) last_execute_error_.clear();
        return true;
    } catch (const std::exception& e) {
        error = e.what();
    } catch (const Mrv::IException& e) {
        error = e.GetDescription();
    }
    if (!executing || error != last_execute_error_) report(Mrv::LevelError, error);
    if (executing) last_execute_error_ = error;
    return false;
}

bool HostBlock::InitBlock(Mrv::IClock* clock, Mrv::IUnknown*, Mrv::int32, Mrv::int32) {
    clock_ = Ref<Mrv::IClock>(clock);
    last_execute_error_.clear();
    bool initialised = false;
    return guarded([&] { initialised = init(); }, false) && initialised;
}

bool HostBlock::StartBlock() {
    return guarded([&] { start(); }, false);
}

bool HostBlock::ExecuteBlock() {
    return guarded([&] { execute(); }, true);
}

void HostBlock::flush_output() {
    guarded([&] { flush(); }, true);
}

long long HostBlock::tick() const {
    auto* clock = dynamic_cast<const Clock*>(clock_.get());
    return clock && clock->period() > 0 ? now() / clock->period() : now();
}

void HostBlock::DoneBlock() {
    guarded([&] { done(); }, false);
    clock_.reset();
}

bool HostBlock::HandleEvent(Mrv::IEvent* event) {
    if (!event || event->GetKind() != Mrv::EventParameterChange || !event->GetParameter()) return false;
    try {
        event->GetParameter()->GetValue()->CopyFrom(event->GetNewValue());
        status_->GetExecutionRequest()->Request();
        return true;
    } catch (const Mrv::IException& error) {
        report(Mrv::LevelWarning, error.GetDescription());
        return false;
    }
}

Mrv::IDatatype* HostBlock::output(const std::string& id) { return signature_->find_output(id)->GetDatatype(); }
Mrv::IDatatype* HostBlock::input(const std::string& id) { return signature_->find_input(id)->GetDatatype(); }
Mrv::IDatatype* HostBlock::parameter(const std::string& id) { return signature_->find_parameter(id)->GetValue(); }
std::string HostBlock::string_parameter(const std::string& id) {
    return convert_or_throw<Mrv::IString>(parameter(id))->GetValue();
}
int HostBlock::int_parameter(const std::string& id) { return convert_or_throw<Mrv::IInt>(parameter(id))->GetValue(); }
std::string HostBlock::file_parameter() { return resolve_path(base_directory_, string_parameter("File")); }

void HostBlock::declare_file(Signature& s, const char* description, const char* filter, bool written) {
    s.AddParameter("File", "File", description, "kernel", "string", "", "", 0, 0);
    auto* layout = Mrv::interface_cast<Mrv::IFilenameDatatypeLayout>(layout_->SetLayout("File", "kernel", "filename"));
    layout->SetFilter(filter);
    layout->SetOptions(written, !written, false);
}

void HostBlock::report(Mrv::int32 level, const std::string& text) {
    const std::string line = text.empty() || text.back() == '\n' ? text : text + "\n";
    kernel_.sink().Message(this, level, line.c_str());
}

void set_string(Signature& signature, const char* id, const std::string& value) {
    convert_or_throw<Mrv::IString>(signature.find_parameter(id)->GetValue())->SetValue(value.c_str());
}
void set_int(Signature& signature, const char* id, int value) {
    convert_or_throw<Mrv::IInt>(signature.find_parameter(id)->GetValue())->SetValue(value);
}
void add_parameter(Signature& s, const char* id, const char* name, const char* description, const char* class_id) {
    s.AddParameter(id, name, description, "kernel", class_id, "", "", 0, 0);
}

const char* const csv_filter = "CSV files (*.csv)|*.csv|Text files (*.txt)|*.txt|All files (*.*)|*.*||";

bool is_scalar(const std::string& class_id) { return class_id == "double" || class_id == "int" || class_id == "bool"; }

void assign_number(Mrv::IDatatype& target, double value) {
    if (auto* d = Mrv::interface_cast<Mrv::IDouble>(&target)) return d->SetValue(value);
    if (auto* i = Mrv::interface_cast<Mrv::IInt>(&target)) {
        if (!(std::trunc(value) == value && value >= std::numeric_limits<Mrv::int32>::min() &&
              value <= std::numeric_limits<Mrv::int32>::max()))
            throw std::invalid_argument(format_double(value) + " is not an int");
        return i->SetValue(static_cast<Mrv::int32>(value));
    }
    if (auto* b = Mrv::interface_cast<Mrv::IBool>(&target)) {
        if (std::isnan(value)) throw std::invalid_argument("nan is not a bool");
        return b->SetValue(value != 0.0);
    }
    throw_cast();
}

std::vector<std::string> all_datatypes_but_trigger() {
    std::vector<std::string> classes;
    for (const auto& id : known_datatypes())
        if (is_csv_writable(id)) classes.push_back(id);
    // The matrix a table becomes is the usual choice.
    std::stable_partition(classes.begin(), classes.end(), [](const std::string& id) { return id == "double-matrix"; });
    return classes;
}

const std::vector<HostBlockClass>& host_block_classes() {
    static const std::vector<HostBlockClass> classes = [] {
        std::vector<HostBlockClass> classes;
        for (auto* part : {source_block_classes, pick_block_classes, text_sink_classes, picture_sink_classes,
                           osc_block_classes})
            for (auto& host_class : part()) classes.push_back(std::move(host_class));
        return classes;
    }();
    return classes;
}

const HostBlockClass* find_host_block_class(const std::string& class_id) {
    for (const auto& host_class : host_block_classes())
        if (host_class.id == class_id) return &host_class;
    return nullptr;
}

bool is_host_block_class(const std::string& class_id) { return find_host_block_class(class_id) != nullptr; }

Ref<HostBlock> create_host_block(KernelServices& kernel, const std::string& class_id, const std::string& datatype,
                                 const std::string& base_directory) {
    const HostBlockClass* host_class = find_host_block_class(class_id);
    if (!host_class) throw std::invalid_argument("no host block class \"" + class_id + "\"");
    const std::string type = datatype.empty() ? host_class->datatypes.front() : datatype;
    const auto& accepted = host_class->datatypes;
    if (std::find(accepted.begin(), accepted.end(), type) == accepted.end())
        throw std::invalid_argument(class_id + " carries no datatype \"" + type + "\" (" +
                                    boost::algorithm::join(accepted, ", ") + ")");
    return Ref<HostBlock>::adopt(host_class->create(kernel, type, base_directory));
}

}  // namespace mrvhost
