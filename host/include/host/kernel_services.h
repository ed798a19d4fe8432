// The host services a block reaches through its creation context: object
// creation, the log, the notification sink, kernel values, instance names;
// and the virtual clock handed to Init.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "host/signature.h"
#include "mrv/kernel.h"

namespace mrvhost {

struct LogLine {
    Mrv::int32 severity;
    std::string text;
};
struct LogEntry {
    std::vector<LogLine> lines;
};

class Log : public Object<Mrv::ILog> {
public:
    Mrv::int64 Open(Mrv::int32 severity, const char* text) override;
    void Append(Mrv::int64 entry, Mrv::int32 severity, const char* text) override;
    const std::vector<LogEntry>& entries() const { return entries_; }
    void clear() { entries_.clear(); }
    // Called with every line as it is written.
    std::function<void(const LogLine&)> echo;

private:
    std::vector<LogEntry> entries_;
};

struct Notification {
    enum Kind { Message, ParameterChanged, Visibility, SignatureChanged };
    Kind kind = Message;
    Mrv::IBlock* block = nullptr;
    std::string instance_name;
    Mrv::int32 level = 0;
    std::string text;
    std::string parameter_id;
    bool shown = false;
};

class KernelServices;

class NotificationSink : public Object<Mrv::INotificationSink> {
public:
    explicit NotificationSink(KernelServices& kernel) : kernel_(kernel) {}
    void Message(Mrv::IBlock* block, Mrv::int32 level, const char* text) override;
    void ParameterChanged(Mrv::IBlock* block, Mrv::IParameter* parameter, Mrv::IDatatype* value) override;
    void ParameterVisibility(Mrv::IBlock* block, const char* parameter_id, bool shown) override;
    void SignatureChanged(Mrv::IBlock* block, Mrv::ISignature* signature) override;

    const std::vector<Notification>& events() const { return events_; }
    void clear() { events_.clear(); }
    // From hold() on, notifications are kept back (neither recorded nor
    // heard) until release() hands them on, or returns them to the caller:
    // what a block says about a value the host will propose again may not
    // count. hear() hands on notifications kept back earlier.
    void hold() { holding_ = true; }
    std::vector<Notification> release(bool hand_on);
    void hear(std::vector<Notification> notifications);
    // Called with every notification as it arrives.
    std::function<void(const Notification&)> listener;

private:
    void record(Notification notification);
    KernelServices& kernel_;
    std::vector<Notification> events_;
    bool holding_ = false;
    std::vector<Notification> held_;
};

class Clock : public Object<Mrv::IClock> {
public:
    static Ref<Clock> create(Mrv::TimeStamp period = 1000);
    Mrv::TimeStamp GetCurrentTime() const override { return now_; }
    // One tick: time stamps strictly increase from tick to tick.
    Mrv::TimeStamp advance() { return now_ += period_; }
    Mrv::TimeStamp period() const { return period_; }

private:
    explicit Clock(Mrv::TimeStamp period) : period_(period) {}
    Mrv::TimeStamp now_ = 0;
    Mrv::TimeStamp period_;
};

class KernelServices : public Object<Mrv::IKernelServices> {
public:
    static Ref<KernelServices> create();
    ~KernelServices() override;

    Mrv::IDatatype* CreateDatatype(const char* catalog_id, const char* class_id) override;
    Mrv::IInitInfo* CreateInitInfo(const char* catalog_id, const char* class_id) override;
    Mrv::ISignature* CreateSignature(Mrv::IBlock* block) override;
    Mrv::ILayout* CreateLayout(Mrv::IBlock* block) override;
    Mrv::IStatus* CreateStatus(Mrv::IBlock* block) override;
    Mrv::ILog* GetLog() override { return log_; }
    Mrv::INotificationSink* GetNotificationSink() override { return sink_; }
    Mrv::int64 GetKernelValue(const char* catalog_id, const char* key) override;
    const char* GetInstanceName(Mrv::IBlock* block) override;

    // Block pointers are kept without references: the block owns its
    // services, not the other way round.
    void set_instance_name(Mrv::IBlock* block, const std::string& name) { names_[block] = name; }
    void forget(Mrv::IBlock* block) { names_.erase(block); }
    void set_abort_timeout(Mrv::int64 value) { abort_timeout_ = value; }
    Log& log() { return *log_; }
    NotificationSink& sink() { return *sink_; }

private:
    KernelServices();
    Log* log_;
    NotificationSink* sink_;
    Mrv::int64 abort_timeout_ = 5000;
    std::map<Mrv::IBlock*, std::string> names_;
};

}  // namespace mrvhost
