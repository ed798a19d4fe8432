// The patch engine: block instances (plug-in and host blocks), links from
// outputs to inputs, a clock, and the tick-by-tick schedule.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/harness.h"
#include "host/host_block.h"
#include "host/kernel_services.h"

namespace mrvhost {

// A patch that cannot be built or run; the text names what is at fault.
class PatchError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct BlockNode {
    std::string name;
    std::string class_id;
    std::string datatype;  // host blocks: the class of the value they carry
    Ref<Mrv::IBlock> block;
    Mrv::IEventHandler* events = nullptr;
    Ref<HostBlock> host_block;  // set for host blocks
    std::string folder;         // the patch file's folder ("" : the working directory)
    // Time stamp of each driving input at the block's last execution.
    std::map<std::string, Mrv::TimeStamp> last_seen;
    bool instance = false, initialised = false, started = false;
    long executions = 0;

    Signature& signature() const;
    Status& status() const;
    Layout& layout() const;

    // A driving input that the signature declares, with its entry in
    // last_seen.
    struct DrivingPin {
        Pin* pin;
        Mrv::TimeStamp* seen;
    };
    // The driving inputs the block names and declares: looked up by id only
    // when the block changed its driving inputs or its inputs, so that a
    // tick compares time stamps and nothing else.
    const std::vector<DrivingPin>& driving_pins(Signature& signature, Status& status) {
        if (status.driving_changed() != driving_changed_ || signature.inputs().changed() != inputs_changed_)
            find_driving_pins(signature, status);
        return driving_pins_;
    }

private:
    void find_driving_pins(Signature& signature, Status& status);
    std::vector<DrivingPin> driving_pins_;
    std::uint64_t driving_changed_ = 0, inputs_changed_ = 0;

    // The host objects behind the interfaces the block handed out last:
    // asked for on every tick, converted only when the block hands out
    // another.
    mutable const Mrv::ISignature* signature_interface_ = nullptr;
    mutable Signature* signature_ = nullptr;
    mutable const Mrv::IStatus* status_interface_ = nullptr;
    mutable Status* status_ = nullptr;
};

struct Link {
    std::string from_block, from_pin, to_block, to_pin;
};

// An action at a tick: set a parameter or fire a trigger.
struct ScheduledEvent {
    long tick = 0;        // 0: at the end of the run
    std::string block;
    std::string parameter;
    nlohmann::json value;  // null for a trigger
    std::string origin;    // where the event was written ("run.json: events[2]"), for messages
};

// A string parameter that names a file: declared with the file-name
// layout, whose first option marks a file the block writes (else it reads).
struct FileParameter {
    Parameter* parameter;
    bool written;
};
std::vector<FileParameter> file_parameters(BlockNode& node);
// Where `node` opens the relative file name `name` when its patch file is
// in `patch_folder`: every block, host or catalog, takes it from that
// folder. Host blocks are told the folder; catalog blocks open names as
// given, so a patch runs with its folder as the working directory (mrv-run
// changes into it). Every file check and every saved name goes through here.
std::string block_file(const BlockNode& node, const std::string& patch_folder, const std::string& name);

// How a patch runs: `ticks` ticks (0: until the sources are exhausted, or
// with `until_stopped` until a stop is asked for), each `period_ms`
// milliseconds of wall-clock time apart (0: at once, or for a live patch as
// soon as a block asks for an execution).
struct RunSettings {
    long ticks = 0;
    long period_ms = 0;
    bool until_stopped = false;
};

class Patch {
public:
    Patch();
    ~Patch();
    Patch(const Patch&) = delete;
    Patch& operator=(const Patch&) = delete;

    void add_plugin(const std::string& path);
    // Creates a block; with a saved signature (and layout) the block
    // restores from it.
    BlockNode& add_block(const std::string& name, const std::string& class_id, const std::string& datatype = "",
                         Signature* saved = nullptr, const std::string& base_directory = "",
                         Layout* saved_layout = nullptr);
    void link(const std::string& from_block, const std::string& from_pin, const std::string& to_block,
              const std::string& to_pin);
    // Through the host's event path, as the editor would; throws PatchError
    // when the value does not fit or the block refuses it.
    void set_parameter(const std::string& block, const std::string& parameter, const nlohmann::json& value);
    // Sets several parameters of one block, as a patch file gives them: a
    // value the block refuses is proposed again once the others are set
    // (a lower bound above the other bound's default), and only what it
    // still refuses is an error, with only that refusal's notifications.
    void set_parameters(const std::string& block, const std::vector<std::pair<std::string, nlohmann::json>>& values);
    void fire(const std::string& block, const std::string& trigger);
    // Checks the event's block, parameter, kind and value as far as that can
    // be done before it fires (throws PatchError), then keeps it.
    void schedule(ScheduledEvent event);
    void set_trace_level(int level);

    // A file the patch uses besides its blocks' files: the patch file
    // itself (read, `user` "the patch file"), the target of a save (written,
    // `user` "--save"). The patch's own files may be one file: a patch
    // is saved over itself.
    void use_file(const std::string& user, const std::string& path, bool written);
    // Throws PatchError naming both users when a file one block (or the
    // patch) writes is read or written by another; two readers are fine.
    // A block's files are its shown file-name parameters and the names
    // events give them.
    void check_files();
    // Orders the blocks and checks the files; throws PatchError for a cycle
    // or an unlinked required input.
    void validate();
    // Validates, then Init, Check and Start each; false (with the failures
    // reported) when one fails, failure() saying which and why.
    bool start();
    const std::string& failure() const { return failure_; }
    // One tick: advance the clock, apply the tick's events, execute every
    // block that has newer input or asked for an execution, then have the
    // blocks write out what they gathered.
    void tick();
    // Runs `ticks` ticks (0: until every source is exhausted, or with
    // `until_stopped` until request_stop()), then the end events and as many
    // ticks as the blocks keep asking for. An event the block refuses is
    // reported as an error notification naming the event. A stop request
    // ends the run after the tick in progress. A live patch (one with a live
    // block, or run until stopped) without a period ticks only when a block
    // asks for an execution, and calls `on_tick` a few times a second while
    // it waits.
    void run(long ticks, const std::function<void(long)>& on_tick = nullptr, bool until_stopped = false);
    // Async-signal-safe.
    void request_stop() noexcept {
        stop_requested_.store(true);
        wakeup_.notify();
    }
    bool stop_requested() const { return stop_requested_.load(); }
    // Paces run(): tick k starts `period` after the run's start times k, as
    // a live host ticks, so that work blocks do on their own threads keeps
    // up with the run. `wait_until` replaces the sleep (for tests).
    using Waiter = std::function<void(std::chrono::steady_clock::time_point)>;
    void set_period(std::chrono::milliseconds period, Waiter wait_until = nullptr);
    // Stop and Done for every block; the parameters are kept for save().
    void stop();
    // Tears the signatures down and releases the blocks.
    void close();

    bool sources_exhausted() const;
    long ticks_done() const { return ticks_; }
    const std::vector<std::unique_ptr<BlockNode>>& blocks() const { return blocks_; }
    const std::vector<Link>& links() const { return links_; }
    const std::vector<ScheduledEvent>& events() const { return events_; }
    const std::vector<std::string>& plugin_paths() const { return plugin_paths_; }
    BlockNode& node(const std::string& name) const;
    KernelServices& kernel() { return *kernel_; }
    Clock& clock() { return *clock_; }
    std::string progress() const;
    // Messages the host blocks took in and sent out so far.
    long messages_in() const;
    long messages_out() const;

private:
    Mrv::ILibraryObjectClassInfo* find_class(const std::string& class_id);
    // The host's block classes and those of the loaded libraries.
    std::vector<std::string> class_ids();
    void order_blocks();
    bool should_execute(BlockNode& node);
    // A tick without the flush: run() has the blocks write out only before
    // it waits.
    void tick_blocks();
    // Host blocks write out what they gathered for their files.
    void flush_outputs();
    Ref<Mrv::IDatatype> proposed_value(BlockNode& target, Parameter& parameter, const nlohmann::json& json);
    void apply(const ScheduledEvent& event);
    // false when the block refuses the value; throws PatchError for a value
    // that does not fit the parameter.
    bool propose(BlockNode& target, Parameter& parameter, const nlohmann::json& value);

    Ref<KernelServices> kernel_;
    Ref<Clock> clock_;
    std::vector<std::unique_ptr<Plugin>> plugins_;
    std::vector<std::string> plugin_paths_;
    std::vector<std::unique_ptr<BlockNode>> blocks_;
    std::vector<BlockNode*> order_;
    std::vector<Link> links_;
    std::vector<ScheduledEvent> events_;
    struct OwnFile {
        std::string user, path;
        bool written;
    };
    std::vector<OwnFile> own_files_;
    long ticks_ = 0;
    bool running_ = false;
    std::string failure_;
    std::chrono::milliseconds period_{0};
    Waiter wait_until_;
    Wakeup wakeup_;
    std::atomic<bool> stop_requested_{false};
};

// Patch files (JSON). Loading reports bad files as PatchError naming the
// file and the place at fault; plug-ins named in the file are resolved
// against the file's folder, then `default_plugin`. `listener` hears every
// notification from the moment the first block is created.
// Messages name the file `shown` when it is given (the path the user typed
// when the patch is loaded from its own folder).
std::unique_ptr<Patch> load_patch(const std::string& path, const std::string& default_plugin, RunSettings* run,
                                  const std::function<void(const Notification&)>& listener = nullptr,
                                  const std::string& shown = "");
// The patch with every parameter's current value and each block's saved
// declaration, so that loading it restores the blocks. With the file it
// goes to, relative file names and libraries are rewritten to name the
// same files from that file's folder.
nlohmann::json save_patch(const Patch& patch, const RunSettings& run, const std::string& target = "");

}  // namespace mrvhost
