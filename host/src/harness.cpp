#include "host/harness.h"

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

#include "host/datatypes.h"
#include "host/event.h"

namespace mrvhost {

// ---- Plugin -----------------------------------------------------------------

Plugin::Plugin(const std::string& path) : library_(path) {}

std::string Plugin::default_path() {
    if (const char* path = std::getenv("MRVML_PLUGIN_PATH")) return path;
#ifdef MRVML_DEFAULT_PLUGIN_PATH
    return MRVML_DEFAULT_PLUGIN_PATH;
#else
    return "libMrvML.so";
#endif
}

Mrv::IDllSignature* Plugin::signature(Mrv::uint32 language) {
    Mrv::IDllSignature* signature = library_.GetDllSignature(language);
    if (!signature) throw std::runtime_error("the library built no signature");
    return signature;
}

Mrv::ILibraryObjectClassInfo* Plugin::find_class(const std::string& class_id, Mrv::uint32 language) {
    auto* blocks = signature(language)->GetBlockClasses();
    for (Mrv::int32 i = 0; i < blocks->GetCount(); ++i)
        if (class_id == blocks->GetItem(i)->GetClassId()) return blocks->GetItem(i);
    throw std::invalid_argument("no block class \"" + class_id + "\" in the library");
}

// ---- BlockHarness ---------------------------------------------------------------

namespace {
Mrv::uint64 next_object_id() {
    static Mrv::uint64 id = 0;
    return ++id;
}
}  // namespace

BlockHarness::BlockHarness(Mrv::ILibraryObjectClassInfo* block_class, std::string instance_name)
    : name_(std::move(instance_name)) {
    create([block_class](const Mrv::CreationContext* context) { return block_class->CreateObject(context); });
}

BlockHarness::BlockHarness(const Factory& factory, std::string instance_name) : name_(std::move(instance_name)) {
    create(factory);
}

void BlockHarness::create(const Factory& factory) {
    kernel_ = KernelServices::create();
    clock_ = Clock::create();
    const Mrv::CreationContext context{next_object_id(), 0, nullptr, kernel_.get()};
    block_ = Ref<Mrv::IBlock>::adopt(factory(&context));
    if (!block_) throw std::runtime_error("the factory created no block");
    kernel_->set_instance_name(block_.get(), name_);
    events_ = Ref<Mrv::IEventHandler>(Mrv::interface_cast<Mrv::IEventHandler>(block_.get()));
}

BlockHarness::~BlockHarness() {
    if (block_) {
        if (started_) block_->StopBlock();
        if (initialised_) block_->DoneBlock();
        if (instance_) block_->DoneInstance();
        kernel_->forget(block_.get());
    }
    events_ = nullptr;
    block_ = nullptr;
    sources_.clear();
}

namespace {
// The block's host objects are this host's own classes.
template <class T, class I>
T& checked(I* object) {
    auto* typed = dynamic_cast<T*>(object);
    if (!typed) throw std::logic_error("the block holds a host object of another host");
    return *typed;
}
}  // namespace

Signature& BlockHarness::signature() { return checked<Signature>(block_->GetSignature()); }
Status& BlockHarness::status() { return checked<Status>(block_->GetStatus()); }
Layout& BlockHarness::layout() { return checked<Layout>(block_->GetLayout()); }

void BlockHarness::init_instance() {
    block_->InitInstance(nullptr, nullptr, nullptr);
    instance_ = true;
}

void BlockHarness::init_instance(Signature& saved_signature, Layout* saved_layout) {
    block_->InitInstance(&saved_signature, saved_layout, nullptr);
    instance_ = true;
}

bool BlockHarness::init() {
    initialised_ = true;
    return block_->InitBlock(clock_.get(), kernel_.get(), 0, 0);
}
bool BlockHarness::check() { return block_->CheckBlock(); }
bool BlockHarness::start() {
    started_ = true;
    return block_->StartBlock();
}
bool BlockHarness::begin() { return init() && check() && start(); }

void BlockHarness::stamp_touched() {
    for (const auto& id : touched_) source(id)->SetTimeStamp(clock_->GetCurrentTime());
    touched_.clear();
}

bool BlockHarness::tick() {
    clock_->advance();
    stamp_touched();
    status().take_pending();
    return execute();
}

bool BlockHarness::execute() {
    const bool result = block_->ExecuteBlock();
    signature().executed();
    return result;
}

void BlockHarness::stop() {
    block_->StopBlock();
    started_ = false;
}
void BlockHarness::done() {
    block_->DoneBlock();
    initialised_ = false;
}
void BlockHarness::done_instance() {
    block_->DoneInstance();
    instance_ = false;
}

int BlockHarness::run_requested(int limit) {
    int ticks = 0;
    while (ticks < limit && status().execution_request().pending()) {
        tick();
        ++ticks;
    }
    return ticks;
}

Mrv::IDatatype* BlockHarness::source(const std::string& input_id) {
    auto found = sources_.find(input_id);
    if (found == sources_.end()) {
        Pin* input = signature().find_input(input_id);
        if (!input) throw std::invalid_argument("no input \"" + input_id + "\"");
        Ref<Pin> output = Pin::create_output("source:" + input_id, input->GetDatatypeCatalogId(),
                                             input->GetDatatypeClassId());
        input->connect(*output);
        found = sources_.emplace(input_id, output).first;
    }
    return found->second->GetDatatype();
}

void BlockHarness::touch(const std::string& input_id) {
    source(input_id);
    if (std::find(touched_.begin(), touched_.end(), input_id) == touched_.end()) touched_.push_back(input_id);
}

void BlockHarness::feed_matrix(const std::string& input_id, int rows, int columns, const std::vector<double>& values) {
    if (values.size() != static_cast<std::size_t>(rows) * static_cast<std::size_t>(columns))
        throw std::invalid_argument("feed_matrix: " + std::to_string(values.size()) + " values for " +
                                    std::to_string(rows) + " x " + std::to_string(columns));
    auto* matrix = convert_or_throw<Mrv::IDoubleMatrix>(source(input_id));
    matrix->Reinit(rows, columns);
    std::copy(values.begin(), values.end(), matrix->GetWritePointer());
    touch(input_id);
}

void BlockHarness::feed_double(const std::string& input_id, double value) {
    convert_or_throw<Mrv::IDouble>(source(input_id))->SetValue(value);
    touch(input_id);
}
void BlockHarness::feed_int(const std::string& input_id, int value) {
    convert_or_throw<Mrv::IInt>(source(input_id))->SetValue(value);
    touch(input_id);
}
void BlockHarness::feed_bool(const std::string& input_id, bool value) {
    convert_or_throw<Mrv::IBool>(source(input_id))->SetValue(value);
    touch(input_id);
}

Mrv::IDatatype* BlockHarness::output(const std::string& output_id) {
    Pin* pin = signature().find_output(output_id);
    if (!pin) throw std::invalid_argument("no output \"" + output_id + "\"");
    return pin->GetDatatype();
}
Mrv::IDoubleMatrix* BlockHarness::output_matrix(const std::string& output_id) {
    return convert_or_throw<Mrv::IDoubleMatrix>(output(output_id));
}
std::vector<double> BlockHarness::output_values(const std::string& output_id) {
    auto* matrix = output_matrix(output_id);
    const double* data = matrix->GetReadPointer();
    return std::vector<double>(data, data + static_cast<std::size_t>(matrix->GetHeight()) * matrix->GetWidth());
}
double BlockHarness::output_double(const std::string& output_id) {
    return convert_or_throw<Mrv::IDouble>(output(output_id))->GetValue();
}
int BlockHarness::output_int(const std::string& output_id) {
    return convert_or_throw<Mrv::IInt>(output(output_id))->GetValue();
}
Mrv::TimeStamp BlockHarness::output_time(const std::string& output_id) { return output(output_id)->GetTimeStamp(); }

Parameter& BlockHarness::parameter(const std::string& id) {
    Parameter* found = signature().find_parameter(id);
    if (!found) throw std::invalid_argument("no parameter \"" + id + "\"");
    return *found;
}

bool BlockHarness::propose(const std::string& id, Mrv::IDatatype* value) {
    Parameter& target = parameter(id);
    // The host's editor refuses a value outside the domain before the
    // block hears of it.
    if (Mrv::IDomain* domain = target.GetDomain())
        if (!domain->Accepts(value)) return false;
    if (!events_) return false;
    Ref<Event> event = Event::parameter_change(&target, value);
    return events_->HandleEvent(event.get());
}

namespace {
Ref<Mrv::IDatatype> new_value(const char* class_id) {
    return Ref<Mrv::IDatatype>::adopt(create_datatype("kernel", class_id));
}
}  // namespace

bool BlockHarness::set_double(const std::string& id, double value) {
    auto proposed = new_value("double");
    convert_or_throw<Mrv::IDouble>(proposed.get())->SetValue(value);
    return propose(id, proposed.get());
}
bool BlockHarness::set_int(const std::string& id, int value) {
    auto proposed = new_value("int");
    convert_or_throw<Mrv::IInt>(proposed.get())->SetValue(value);
    return propose(id, proposed.get());
}
bool BlockHarness::set_bool(const std::string& id, bool value) {
    auto proposed = new_value("bool");
    convert_or_throw<Mrv::IBool>(proposed.get())->SetValue(value);
    return propose(id, proposed.get());
}
bool BlockHarness::set_string(const std::string& id, const std::string& value) {
    auto proposed = new_value("string");
    convert_or_throw<Mrv::IString>(proposed.get())->SetValue(value.c_str());
    return propose(id, proposed.get());
}
bool BlockHarness::set_matrix(const std::string& id, int rows, int columns, const std::vector<double>& values) {
    auto proposed = new_value("double-matrix");
    auto* matrix = convert_or_throw<Mrv::IDoubleMatrix>(proposed.get());
    matrix->Reinit(rows, columns);
    std::copy(values.begin(), values.end(), matrix->GetWritePointer());
    return propose(id, proposed.get());
}
bool BlockHarness::fire(const std::string& trigger_id) {
    auto proposed = new_value("trigger");
    proposed->SetTimeStamp(clock_->GetCurrentTime() + 1);
    return propose(trigger_id, proposed.get());
}

double BlockHarness::parameter_double(const std::string& id) {
    return convert_or_throw<Mrv::IDouble>(parameter(id).GetValue())->GetValue();
}
int BlockHarness::parameter_int(const std::string& id) {
    return convert_or_throw<Mrv::IInt>(parameter(id).GetValue())->GetValue();
}
bool BlockHarness::parameter_bool(const std::string& id) {
    return convert_or_throw<Mrv::IBool>(parameter(id).GetValue())->GetValue();
}

void BlockHarness::set_trace_level(int level) {
    convert_or_throw<Mrv::IInt>(block_->GetSignature()->GetTraceLevel()->GetValue())->SetValue(level);
}

void BlockHarness::set_running(bool running) {
    status().set_status(running ? Mrv::StatusRunning : Mrv::StatusDesign);
}

const std::vector<Notification>& BlockHarness::notifications() const { return kernel_->sink().events(); }

std::vector<std::string> BlockHarness::messages(int level) const {
    std::vector<std::string> texts;
    for (const auto& event : notifications())
        if (event.kind == Notification::Message && event.level == level) texts.push_back(event.text);
    return texts;
}

std::vector<std::string> BlockHarness::messages() const {
    std::vector<std::string> texts;
    for (const auto& event : notifications())
        if (event.kind == Notification::Message) texts.push_back(event.text);
    return texts;
}

void BlockHarness::clear_notifications() { kernel_->sink().clear(); }

const std::vector<LogEntry>& BlockHarness::log_entries() const { return kernel_->log().entries(); }

}  // namespace mrvhost
