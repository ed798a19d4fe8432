#include "host/kernel_services.h"

namespace mrvhost {

Mrv::int64 Log::Open(Mrv::int32 severity, const char* text) {
    entries_.push_back(LogEntry{{LogLine{severity, text ? text : ""}}});
    if (echo) echo(entries_.back().lines.back());
    return static_cast<Mrv::int64>(entries_.size() - 1);
}

void Log::Append(Mrv::int64 entry, Mrv::int32 severity, const char* text) {
    if (entry < 0 || entry >= static_cast<Mrv::int64>(entries_.size())) {
        Open(severity, text);
        return;
    }
    auto& lines = entries_[static_cast<std::size_t>(entry)].lines;
    lines.push_back(LogLine{severity, text ? text : ""});
    if (echo) echo(lines.back());
}

namespace {
Notification make(Notification::Kind kind, Mrv::IBlock* block) {
    Notification n;
    n.kind = kind;
    n.block = block;
    return n;
}
}  // namespace

void NotificationSink::record(Notification notification) {
    notification.instance_name = kernel_.GetInstanceName(notification.block);
    if (holding_) return held_.push_back(std::move(notification));
    events_.push_back(std::move(notification));
    if (listener) listener(events_.back());
}

std::vector<Notification> NotificationSink::release(bool hand_on) {
    holding_ = false;
    std::vector<Notification> held = std::move(held_);
    held_.clear();
    if (!hand_on) return held;
    hear(std::move(held));
    return {};
}

void NotificationSink::hear(std::vector<Notification> notifications) {
    for (auto& notification : notifications) {
        events_.push_back(std::move(notification));
        if (listener) listener(events_.back());
    }
}

void NotificationSink::Message(Mrv::IBlock* block, Mrv::int32 level, const char* text) {
    Notification n = make(Notification::Message, block);
    n.level = level;
    n.text = text ? text : "";
    record(std::move(n));
}

void NotificationSink::ParameterChanged(Mrv::IBlock* block, Mrv::IParameter* parameter, Mrv::IDatatype*) {
    Notification n = make(Notification::ParameterChanged, block);
    n.parameter_id = parameter ? parameter->GetId() : "";
    record(std::move(n));
}

void NotificationSink::ParameterVisibility(Mrv::IBlock* block, const char* parameter_id, bool shown) {
    Notification n = make(Notification::Visibility, block);
    n.parameter_id = parameter_id ? parameter_id : "";
    n.shown = shown;
    record(std::move(n));
}

void NotificationSink::SignatureChanged(Mrv::IBlock* block, Mrv::ISignature*) {
    record(make(Notification::SignatureChanged, block));
}

Ref<Clock> Clock::create(Mrv::TimeStamp period) { return Ref<Clock>::adopt(new Clock(period)); }

KernelServices::KernelServices() : log_(new Log()), sink_(new NotificationSink(*this)) {}

KernelServices::~KernelServices() {
    sink_->Release();
    log_->Release();
}

Ref<KernelServices> KernelServices::create() { return Ref<KernelServices>::adopt(new KernelServices()); }

Mrv::IDatatype* KernelServices::CreateDatatype(const char* catalog_id, const char* class_id) {
    return create_datatype(catalog_id ? catalog_id : "", class_id ? class_id : "");
}

Mrv::IInitInfo* KernelServices::CreateInitInfo(const char* catalog_id, const char* class_id) {
    return create_init_info(catalog_id ? catalog_id : "", class_id ? class_id : "");
}

Mrv::ISignature* KernelServices::CreateSignature(Mrv::IBlock*) {
    Ref<Signature> signature = Signature::create();
    signature->AddRef();
    return signature.get();
}

Mrv::ILayout* KernelServices::CreateLayout(Mrv::IBlock*) {
    Ref<Layout> layout = Layout::create();
    layout->AddRef();
    return layout.get();
}

Mrv::IStatus* KernelServices::CreateStatus(Mrv::IBlock*) {
    Ref<Status> status = Status::create();
    status->AddRef();
    return status.get();
}

Mrv::int64 KernelServices::GetKernelValue(const char* catalog_id, const char* key) {
    const std::string catalog = catalog_id ? catalog_id : "", name = key ? key : "";
    return catalog == "kernel" && name == "abort_timeout" ? abort_timeout_ : 0;
}

const char* KernelServices::GetInstanceName(Mrv::IBlock* block) {
    const auto found = names_.find(block);
    return found == names_.end() ? "" : found->second.c_str();
}

}  // namespace mrvhost
