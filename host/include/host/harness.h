// The block test harness: drives one block through the host's side of the
// lifecycle, feeds its inputs, changes its parameters through the host
// event path and collects everything the block reports.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/event.h"
#include "host/kernel_services.h"
#include "host/plugin_library.h"
#include "host/signature.h"
#include "mrv/mrv.h"

namespace mrvhost {

// A loaded plug-in and the class lookups tests need.
class Plugin {
public:
    explicit Plugin(const std::string& path);
    PluginLibrary& library() { return library_; }
    Mrv::IDllSignature* signature(Mrv::uint32 language = 1033);
    // Throws std::invalid_argument for an unknown class id.
    Mrv::ILibraryObjectClassInfo* find_class(const std::string& class_id, Mrv::uint32 language = 1033);

    // The plug-in built beside the tests (MRVML_PLUGIN_PATH, or the default).
    static std::string default_path();

private:
    PluginLibrary library_;
};

class BlockHarness {
public:
    using Factory = std::function<Mrv::IBlock*(const Mrv::CreationContext*)>;

    // Creates the block through its class information (as the host does).
    explicit BlockHarness(Mrv::ILibraryObjectClassInfo* block_class, std::string instance_name = "block");
    // Creates the block through any factory (framework tests).
    explicit BlockHarness(const Factory& factory, std::string instance_name = "block");
    // Takes the block through whatever of Stop, Done and the signature
    // tear-down it still needs, then releases it.
    ~BlockHarness();
    BlockHarness(const BlockHarness&) = delete;
    BlockHarness& operator=(const BlockHarness&) = delete;

    Mrv::IBlock* block() { return block_.get(); }
    KernelServices& kernel() { return *kernel_; }
    Clock& clock() { return *clock_; }
    Signature& signature();
    Status& status();
    Layout& layout();

    // Lifecycle. init_instance(saved) restores from a saved signature.
    void init_instance();
    void init_instance(Signature& saved_signature, Layout* saved_layout = nullptr);
    bool init();
    bool check();
    bool start();
    // init, check and start in a row; false at the first failure.
    bool begin();
    // Advances the clock, stamps the inputs fed since the last tick and
    // executes the block.
    bool tick();
    // Executes without advancing time or stamping inputs.
    bool execute();
    void stop();
    void done();
    void done_instance();
    // Ticks while the block keeps asking for an execution without input.
    int run_requested(int limit = 100);

    // Inputs: each fed input is connected to a host-owned source object.
    void feed_matrix(const std::string& input_id, int rows, int columns, const std::vector<double>& values);
    void feed_double(const std::string& input_id, double value);
    void feed_int(const std::string& input_id, int value);
    void feed_bool(const std::string& input_id, bool value);
    // The source object behind an input (created and connected on first use).
    Mrv::IDatatype* source(const std::string& input_id);
    // Marks an input's source as updated, so the next tick stamps it.
    void touch(const std::string& input_id);

    // Outputs.
    Mrv::IDatatype* output(const std::string& output_id);
    Mrv::IDoubleMatrix* output_matrix(const std::string& output_id);
    std::vector<double> output_values(const std::string& output_id);
    double output_double(const std::string& output_id);
    int output_int(const std::string& output_id);
    Mrv::TimeStamp output_time(const std::string& output_id);

    // Parameters, changed through the host's event path (kind 1). The host
    // editor checks the domain before it proposes a value; so does this.
    bool set_double(const std::string& id, double value);
    bool set_int(const std::string& id, int value);
    bool set_bool(const std::string& id, bool value);
    bool set_string(const std::string& id, const std::string& value);
    bool set_matrix(const std::string& id, int rows, int columns, const std::vector<double>& values);
    bool fire(const std::string& trigger_id);
    bool propose(const std::string& id, Mrv::IDatatype* value);
    Parameter& parameter(const std::string& id);
    double parameter_double(const std::string& id);
    int parameter_int(const std::string& id);
    bool parameter_bool(const std::string& id);
    void set_trace_level(int level);
    void set_running(bool running);

    // What the block reported.
    const std::vector<Notification>& notifications() const;
    std::vector<std::string> messages(int level) const;
    std::vector<std::string> messages() const;
    void clear_notifications();
    const std::vector<LogEntry>& log_entries() const;

private:
    void create(const Factory& factory);
    void stamp_touched();

    Ref<KernelServices> kernel_;
    Ref<Clock> clock_;
    Ref<Mrv::IBlock> block_;
    Ref<Mrv::IEventHandler> events_;
    std::string name_;
    std::map<std::string, Ref<Pin>> sources_;
    std::vector<std::string> touched_;
    bool instance_ = false, initialised_ = false, started_ = false;
};

}  // namespace mrvhost
