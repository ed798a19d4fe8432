#include "host/patch.h"

#include <algorithm>
#include <set>
#include <thread>

#include <boost/algorithm/string.hpp>

#include "host/data_files.h"
#include "host/datatypes.h"
#include "host/event.h"
#include "host/inspect.h"
#include "host/names.h"

namespace mrvhost {
namespace {

template <class T, class I>
T& host_object(I* object) {
    auto* typed = dynamic_cast<T*>(object);
    if (!typed) throw PatchError("a block holds a host object of another host");
    return *typed;
}

Mrv::uint64 next_object_id() {
    static Mrv::uint64 id = 1000;
    return ++id;
}

// The block's parameter `id`; throws PatchError naming the nearest id when
// there is none.
Parameter* find_parameter(BlockNode& node, const std::string& id) {
    if (Parameter* parameter = node.signature().find_parameter(id)) return parameter;
    std::vector<std::string> ids;
    for (const auto& parameter : node.signature().parameters().items()) ids.push_back(parameter->GetId());
    throw PatchError("block \"" + node.name + "\" has no parameter " + json_excerpt(id) +
                     did_you_mean(id, ids, "parameters"));
}

std::vector<std::string> pin_ids(Mrv::IPinCollection& pins) {
    std::vector<std::string> ids;
    for (Mrv::int32 i = 0; i < pins.GetCount(); ++i) ids.push_back(pins.GetItem(i)->GetId());
    return ids;
}

// Why the block refused a value: what its attributes forbid, else the
// first error or warning it sent about it.
std::string refusal_reason(BlockNode& target, Parameter& parameter, const std::vector<Notification>& said) {
    const bool running = target.status().GetStatus() == Mrv::StatusRunning;
    if (!parameter.GetAttribute(running ? Mrv::AttrRunChange : Mrv::AttrDesignChange))
        return running ? "it may not change while the patch runs" : "it may not be changed";
    for (const auto& notification : said)
        if (notification.kind == Notification::Message && notification.level >= Mrv::LevelWarning) {
            std::string text = boost::algorithm::trim_copy(notification.text);
            boost::algorithm::replace_all(text, "\n", " ");
            return text;
        }
    return "the block gave no reason";
}

// Upper bound on the extra ticks a run gives blocks that keep asking for
// an execution after the end events.
constexpr long max_tail_ticks = 10000;

}  // namespace

namespace {
// The host object behind `current`, converted again only when it is not
// the interface converted last.
template <class T, class I>
T& remembered_host_object(I* current, const I*& last_interface, T*& last_object) {
    if (current != last_interface || !last_object) {
        last_object = &host_object<T>(current);
        last_interface = current;
    }
    return *last_object;
}
}  // namespace

Signature& BlockNode::signature() const {
    return remembered_host_object(block->GetSignature(), signature_interface_, signature_);
}
Status& BlockNode::status() const { return remembered_host_object(block->GetStatus(), status_interface_, status_); }
Layout& BlockNode::layout() const { return host_object<Layout>(block->GetLayout()); }

Patch::Patch() : kernel_(KernelServices::create()), clock_(Clock::create()) {}

Patch::~Patch() {
    try {
        stop();
    } catch (...) {
    }
    close();
}

void Patch::add_plugin(const std::string& path) {
    try {
        plugins_.push_back(std::make_unique<Plugin>(path));
    } catch (const std::exception& error) {
        throw PatchError(error.what());
    }
    plugin_paths_.push_back(path);
}

std::vector<std::string> Patch::class_ids() {
    std::vector<std::string> ids;
    for (const auto& host_class : host_block_classes()) ids.push_back(host_class.id);
    for (auto& plugin : plugins_) {
        auto* blocks = plugin->signature(1033)->GetBlockClasses();
        for (Mrv::int32 i = 0; i < blocks->GetCount(); ++i) ids.push_back(blocks->GetItem(i)->GetClassId());
    }
    return ids;
}

Mrv::ILibraryObjectClassInfo* Patch::find_class(const std::string& class_id) {
    for (auto& plugin : plugins_) {
        auto* blocks = plugin->signature(1033)->GetBlockClasses();
        for (Mrv::int32 i = 0; i < blocks->GetCount(); ++i)
            if (class_id == blocks->GetItem(i)->GetClassId()) return blocks->GetItem(i);
    }
    return nullptr;
}

BlockNode& Patch::add_block(const std::string& name, const std::string& class_id, const std::string& datatype,
                            Signature* saved, const std::string& base_directory, Layout* saved_layout) {
    if (name.empty() || name.find('.') != std::string::npos)
        throw PatchError("block name \"" + name + "\" must be non-empty and without dots");
    for (const auto& existing : blocks_)
        if (existing->name == name) throw PatchError("two blocks are named \"" + name + "\"");
    auto node = std::make_unique<BlockNode>();
    node->name = name;
    node->class_id = class_id;
    node->datatype = datatype;
    node->folder = base_directory;
    try {
        if (is_host_block_class(class_id)) {
            node->host_block = create_host_block(*kernel_, class_id, datatype, base_directory);
            node->host_block->set_name(name);
            node->block = Ref<Mrv::IBlock>(node->host_block.get());
        } else {
            Mrv::ILibraryObjectClassInfo* info = find_class(class_id);
            if (!info)
                throw PatchError("block \"" + name + "\": no block class " + json_excerpt(class_id) +
                                 " in the loaded libraries" + did_you_mean(class_id, class_ids(), "block classes"));
            const Mrv::CreationContext context{next_object_id(), 0, nullptr, kernel_.get()};
            node->block = Ref<Mrv::IBlock>::adopt(info->CreateObject(&context));
            if (!node->block) throw PatchError("block \"" + name + "\": the library created no block");
        }
        node->events = Mrv::interface_cast<Mrv::IEventHandler>(node->block.get());
        kernel_->set_instance_name(node->block.get(), name);
        node->block->InitInstance(saved, saved_layout, nullptr);
        node->instance = true;
    } catch (const Mrv::IException& error) {
        if (node->block) kernel_->forget(node->block.get());
        throw PatchError("block \"" + name + "\": " + error.GetDescription());
    } catch (const PatchError&) {
        throw;
    } catch (const std::exception& error) {
        if (node->block) kernel_->forget(node->block.get());
        throw PatchError("block \"" + name + "\": " + error.what());
    }
    blocks_.push_back(std::move(node));
    return *blocks_.back();
}

BlockNode& Patch::node(const std::string& name) const {
    for (const auto& existing : blocks_)
        if (existing->name == name) return *existing;
    std::vector<std::string> names;
    for (const auto& existing : blocks_) names.push_back(existing->name);
    throw PatchError("no block " + json_excerpt(name) + did_you_mean(name, names, "blocks"));
}

void Patch::link(const std::string& from_block, const std::string& from_pin, const std::string& to_block,
                 const std::string& to_pin) {
    BlockNode& from = node(from_block);
    BlockNode& to = node(to_block);
    Pin* output = from.signature().find_output(from_pin);
    if (!output)
        throw PatchError("block \"" + from_block + "\" has no output " + json_excerpt(from_pin) +
                         did_you_mean(from_pin, pin_ids(from.signature().outputs()), "outputs"));
    Pin* input = to.signature().find_input(to_pin);
    if (!input)
        throw PatchError("block \"" + to_block + "\" has no input " + json_excerpt(to_pin) +
                         did_you_mean(to_pin, pin_ids(to.signature().inputs()), "inputs"));
    if (input->IsConnected()) throw PatchError("input " + to_block + "." + to_pin + " is linked twice");
    try {
        input->connect(*output);
    } catch (const std::invalid_argument&) {
        throw PatchError("cannot link " + from_block + "." + from_pin + " (" + output->GetDatatypeCatalogId() + "/" +
                         output->GetDatatypeClassId() + ") to " + to_block + "." + to_pin + " (" +
                         input->GetDatatypeCatalogId() + "/" + input->GetDatatypeClassId() +
                         "): the datatypes differ");
    }
    links_.push_back({from_block, from_pin, to_block, to_pin});
}

Ref<Mrv::IDatatype> Patch::proposed_value(BlockNode& target, Parameter& parameter, const nlohmann::json& json) {
    const std::string id = parameter.GetId();
    const std::string where = "block \"" + target.name + "\", parameter \"" + id + "\"";
    Ref<Mrv::IDatatype> value =
        Ref<Mrv::IDatatype>::adopt(create_datatype(parameter.GetDatatypeCatalogId(), parameter.GetDatatypeClassId()));
    nlohmann::json given = json;
    // A combo item may be named by its label as well as by its index.
    if (given.is_string() && std::string(parameter.GetDatatypeClassId()) == "int")
        if (auto* combo = Mrv::interface_cast<Mrv::IComboDatatypeLayout>(target.layout().GetLayout(id.c_str()))) {
            std::vector<std::string> items;
            for (Mrv::int32 i = 0; i < combo->GetItemCount(); ++i) items.push_back(combo->GetItem(i));
            for (Mrv::int32 i = 0; given.is_string() && i < combo->GetItemCount(); ++i)
                if (given.get<std::string>() == items[static_cast<std::size_t>(i)]) given = i;
            if (given.is_string())
                throw PatchError(where + ": no item " + json_excerpt(given) +
                                 did_you_mean(given.get<std::string>(), items, "items"));
        }
    try {
        value_from_json(*value, given);
    } catch (const std::invalid_argument& error) {
        throw PatchError(where + ": " + error.what());
    }
    if (Mrv::IDomain* domain = parameter.GetDomain())
        if (!domain->Accepts(value.get()))
            throw PatchError(where + ": " + json_excerpt(json) + " is outside its domain (" + domain_words(domain) + ")");
    return value;
}

void Patch::set_parameter(const std::string& block, const std::string& id, const nlohmann::json& json) {
    BlockNode& target = node(block);
    Parameter& parameter = *find_parameter(target, id);
    const std::size_t heard = kernel_->sink().events().size();
    if (propose(target, parameter, json)) return;
    std::vector<Notification> said;
    for (std::size_t i = heard; i < kernel_->sink().events().size(); ++i)
        if (kernel_->sink().events()[i].block == target.block.get()) said.push_back(kernel_->sink().events()[i]);
    throw PatchError("block \"" + block + "\", parameter \"" + id + "\": the block refused " + json_excerpt(json) +
                     ": " + refusal_reason(target, parameter, said));
}

bool Patch::propose(BlockNode& target, Parameter& parameter, const nlohmann::json& json) {
    Ref<Mrv::IDatatype> value = proposed_value(target, parameter, json);
    if (std::string(parameter.GetDatatypeClassId()) == "trigger") value->SetTimeStamp(clock_->GetCurrentTime() + 1);
    Ref<Event> event = Event::parameter_change(&parameter, value.get());
    return target.events && target.events->HandleEvent(event.get());
}

void Patch::set_parameters(const std::string& block, const std::vector<std::pair<std::string, nlohmann::json>>& values) {
    BlockNode& target = node(block);
    struct Waiting {
        Parameter* parameter;
        const nlohmann::json* value;
        std::vector<Notification> said;  // on the first refusal (a block says a text once)
    };
    std::vector<Waiting> waiting;
    for (const auto& [id, value] : values) waiting.push_back({find_parameter(target, id), &value, {}});
    // Each round proposes what is still refused; a round that sets nothing
    // ends it.
    for (bool progress = true; progress && !waiting.empty();) {
        progress = false;
        std::vector<Waiting> refused;
        for (auto& entry : waiting) {
            kernel_->sink().hold();
            bool accepted = false;
            try {
                accepted = propose(target, *entry.parameter, *entry.value);
            } catch (...) {
                kernel_->sink().release(true);
                throw;
            }
            std::vector<Notification> said = kernel_->sink().release(accepted);
            if (accepted) {
                progress = true;
                continue;
            }
            if (entry.said.empty()) entry.said = std::move(said);
            refused.push_back(std::move(entry));
        }
        waiting = std::move(refused);
    }
    if (waiting.empty()) return;
    Waiting& first = waiting.front();
    const std::string reason = refusal_reason(target, *first.parameter, first.said);
    kernel_->sink().hear(std::move(first.said));
    throw PatchError("block \"" + block + "\", parameter \"" + first.parameter->GetId() + "\": the block refused " +
                     json_excerpt(*first.value) + ": " + reason);
}

void Patch::schedule(ScheduledEvent event) {
    BlockNode& target = node(event.block);
    Parameter* parameter = find_parameter(target, event.parameter);
    const bool trigger = std::string(parameter->GetDatatypeClassId()) == "trigger";
    if (event.value.is_null() && !trigger) {
        std::vector<std::string> triggers;
        for (const auto& item : target.signature().parameters().items())
            if (std::string(item->GetDatatypeClassId()) == "trigger") triggers.push_back(item->GetId());
        throw PatchError("\"" + event.parameter + "\" of block \"" + event.block + "\" is not a trigger" +
                         did_you_mean(event.parameter, triggers, "triggers"));
    }
    if (!event.value.is_null() && trigger)
        throw PatchError("\"" + event.parameter + "\" of block \"" + event.block + "\" is a trigger: fire it");
    if (!trigger) proposed_value(target, *parameter, event.value);
    events_.push_back(std::move(event));
}

void Patch::fire(const std::string& block, const std::string& trigger) { set_parameter(block, trigger, nullptr); }

void Patch::set_trace_level(int level) {
    for (auto& block : blocks_)
        if (!block->host_block)
            convert_or_throw<Mrv::IInt>(block->block->GetSignature()->GetTraceLevel()->GetValue())->SetValue(level);
}

void Patch::order_blocks() {
    std::map<std::string, int> incoming;
    std::map<std::string, std::vector<std::string>> outgoing;
    for (const auto& block : blocks_) incoming[block->name] = 0;
    std::set<std::pair<std::string, std::string>> edges;
    for (const auto& link : links_)
        if (edges.insert({link.from_block, link.to_block}).second) {
            ++incoming[link.to_block];
            outgoing[link.from_block].push_back(link.to_block);
        }
    order_.clear();
    // Kahn's algorithm, keeping the file's order among ready blocks.
    std::vector<bool> placed(blocks_.size(), false);
    bool progress = true;
    while (progress) {
        progress = false;
        for (std::size_t i = 0; i < blocks_.size(); ++i) {
            if (placed[i] || incoming[blocks_[i]->name] != 0) continue;
            placed[i] = true;
            progress = true;
            order_.push_back(blocks_[i].get());
            for (const auto& next : outgoing[blocks_[i]->name]) --incoming[next];
        }
    }
    if (order_.size() != blocks_.size()) {
        // Blocks merely downstream of the cycle are peeled off from the end.
        std::set<std::string> left;
        for (std::size_t i = 0; i < blocks_.size(); ++i)
            if (!placed[i]) left.insert(blocks_[i]->name);
        for (bool peeled = true; peeled;) {
            peeled = false;
            for (auto it = left.begin(); it != left.end();) {
                const auto& next = outgoing[*it];
                const bool feeds_left = std::any_of(next.begin(), next.end(), [&](const std::string& n) { return left.count(n) > 0; });
                if (feeds_left) {
                    ++it;
                } else {
                    it = left.erase(it);
                    peeled = true;
                }
            }
        }
        std::string cycle;
        for (const auto& block : blocks_)
            if (left.count(block->name)) cycle += (cycle.empty() ? "" : ", ") + block->name;
        throw PatchError("the links form a cycle through blocks " + cycle);
    }
}

std::vector<FileParameter> file_parameters(BlockNode& node) {
    std::vector<FileParameter> files;
    for (const auto& parameter : node.signature().parameters().items()) {
        if (std::string(parameter->GetDatatypeClassId()) != "string") continue;
        if (auto* layout = Mrv::interface_cast<Mrv::IFilenameDatatypeLayout>(node.layout().GetLayout(parameter->GetId())))
            files.push_back({parameter.get(), layout->GetOption(0)});
    }
    return files;
}

std::string block_file(const BlockNode&, const std::string& patch_folder, const std::string& name) {
    return resolve_path(patch_folder, name);
}

void Patch::use_file(const std::string& user, const std::string& path, bool written) {
    own_files_.push_back({user, path, written});
}

void Patch::check_files() {
    struct Use {
        std::string user, file;
        bool written, own;
        std::string slot;  // block.parameter: one slot holds one file at a time
    };
    std::vector<Use> uses;
    for (const auto& block : blocks_)
        for (const auto& [parameter, written] : file_parameters(*block)) {
            // A hidden parameter is one the block does not use as it is set.
            if (!parameter->GetAttribute(Mrv::AttrVisible)) continue;
            const std::string name = convert_or_throw<Mrv::IString>(parameter->GetValue())->GetValue();
            if (name.empty()) continue;
            uses.push_back({"block \"" + block->name + "\" (" + parameter->GetId() + ")",
                            block_file(*block, block->folder, name), written, false,
                            block->name + "." + parameter->GetId()});
        }
    // A file name an event gives a block is used from then on.
    for (const auto& event : events_) {
        if (!event.value.is_string() || event.value.get_ref<const std::string&>().empty()) continue;
        BlockNode& block = node(event.block);
        for (const auto& [parameter, written] : file_parameters(block))
            if (parameter->GetId() == event.parameter)
                uses.push_back({"an event setting block \"" + block.name + "\" (" + event.parameter + ")",
                                block_file(block, block.folder, event.value.get<std::string>()), written, false,
                                block.name + "." + event.parameter});
    }
    for (const auto& file : own_files_) uses.push_back({file.user, file.path, file.written, true, ""});
    for (std::size_t i = 0; i < uses.size(); ++i)
        for (std::size_t j = i + 1; j < uses.size(); ++j) {
            const Use& a = uses[i];
            const Use& b = uses[j];
            if (!(a.written || b.written) || (a.own && b.own) || (!a.slot.empty() && a.slot == b.slot) ||
                !same_file(a.file, b.file))
                continue;
            if (a.written && b.written)
                throw PatchError(a.user + " and " + b.user + " both write \"" + a.file + "\"");
            const Use& writer = a.written ? a : b;
            const Use& reader = a.written ? b : a;
            throw PatchError(writer.user + " would overwrite \"" + writer.file + "\", which " +
                             (reader.own ? "is " + reader.user : reader.user + " reads"));
        }
}

void Patch::validate() {
    order_blocks();
    for (BlockNode* block : order_)
        for (const auto& input : block->signature().inputs().items())
            if (input->IsRequired() && !input->IsConnected())
                throw PatchError("block \"" + block->name + "\": required input \"" + input->GetId() +
                                 "\" is not linked");
    check_files();
}

bool Patch::start() {
    validate();
    failure_.clear();
    stop_requested_.store(false);
    for (BlockNode* block : order_) {
        // A block's worker thread or a live source may ask while the engine waits.
        block->status().execution_request().set_wakeup(&wakeup_);
        if (block->host_block) block->host_block->set_paced(period_.count() > 0);
    }
    // Each stage runs over every block before the next begins; the first
    // failure ends the start, with the block's own account of it.
    auto stage = [&](const char* verb, const std::function<bool(BlockNode&)>& call) {
        for (BlockNode* block : order_) {
            const std::size_t heard = kernel_->sink().events().size();
            if (call(*block)) continue;
            std::string reason = "it gave no reason";
            const auto& events = kernel_->sink().events();
            // The first error or warning is the cause (some blocks give
            // their reason as a warning); what follows tends to be the
            // framework's general "error in method Init".
            for (std::size_t i = heard; i < events.size(); ++i)
                if (events[i].block == block->block.get() && events[i].kind == Notification::Message &&
                    events[i].level >= Mrv::LevelWarning) {
                    reason = boost::algorithm::trim_copy(events[i].text);
                    boost::algorithm::replace_all(reason, "\n", " ");
                    break;
                }
            failure_ = "block \"" + block->name + "\" failed to " + verb + ": " + reason;
            return false;
        }
        return true;
    };
    if (!stage("initialise", [&](BlockNode& block) {
            block.initialised = true;
            return block.block->InitBlock(clock_.get(), kernel_.get(), 0, 0);
        }))
        return false;
    if (!stage("pass its check", [](BlockNode& block) { return block.block->CheckBlock(); })) return false;
    if (!stage("start", [](BlockNode& block) {
            block.started = true;
            return block.block->StartBlock();
        }))
        return false;
    for (BlockNode* block : order_) block->status().set_status(Mrv::StatusRunning);
    running_ = true;
    return true;
}

void BlockNode::find_driving_pins(Signature& signature, Status& status) {
    driving_pins_.clear();
    for (const auto& driving : status.driving_inputs())
        if (Pin* input = signature.find_input(driving.first))
            driving_pins_.push_back({input, &last_seen[driving.first]});
    driving_changed_ = status.driving_changed();
    inputs_changed_ = signature.inputs().changed();
}

bool Patch::should_execute(BlockNode& node) {
    Status& status = node.status();
    bool execute = status.take_pending();
    for (const BlockNode::DrivingPin& driving : node.driving_pins(node.signature(), status)) {
        if (!driving.pin->IsConnected()) continue;
        const Mrv::TimeStamp stamp = driving.pin->GetDatatype()->GetTimeStamp();
        if (stamp > *driving.seen) {
            *driving.seen = stamp;
            execute = true;
        }
    }
    return execute;
}

void Patch::apply(const ScheduledEvent& event) {
    try {
        set_parameter(event.block, event.parameter, event.value);
    } catch (const PatchError& error) {
        const std::string origin = !event.origin.empty() ? event.origin
                                   : event.tick ? "the event at tick " + std::to_string(event.tick)
                                                : std::string("the event at the end");
        kernel_->sink().Message(node(event.block).block.get(), Mrv::LevelError,
                                (origin + ": " + error.what() + "\n").c_str());
    }
}

void Patch::tick() {
    tick_blocks();
    flush_outputs();
}

void Patch::tick_blocks() {
    clock_->advance();
    ++ticks_;
    for (const auto& event : events_)
        if (event.tick == ticks_) apply(event);
    for (BlockNode* block : order_)
        if (should_execute(*block)) {
            ++block->executions;
            block->block->ExecuteBlock();
            block->signature().executed();
        }
}

void Patch::flush_outputs() {
    for (BlockNode* block : order_)
        if (block->host_block) block->host_block->flush_output();
}

bool Patch::sources_exhausted() const {
    for (const auto& block : blocks_)
        if (block->host_block && !block->host_block->exhausted()) return false;
    return true;
}

namespace {
bool any_pending(const std::vector<BlockNode*>& order) {
    for (BlockNode* block : order)
        if (block->status().execution_request().pending()) return true;
    return false;
}
}  // namespace

void Patch::set_period(std::chrono::milliseconds period, Waiter wait_until) {
    period_ = period;
    wait_until_ = std::move(wait_until);
}

namespace {
// How often a waiting live run reports its progress.
constexpr auto idle_report = std::chrono::milliseconds(250);
}  // namespace

void Patch::run(long ticks, const std::function<void(long)>& on_tick, bool until_stopped) {
    using clock = std::chrono::steady_clock;
    const auto begun = clock::now();
    long paced = 0;
    bool live = until_stopped;
    for (const auto& block : blocks_) live = live || (block->host_block && block->host_block->live());
    // Waits for the next tick's time, or in a live patch for a block to ask
    // for an execution; a stop request cuts the wait short.
    auto wait = [&] {
        if (period_.count() > 0 || live) flush_outputs();
        if (period_.count() > 0) {
            const auto due = begun + period_ * paced++;
            if (wait_until_) return wait_until_(due);
            while (!stop_requested() && clock::now() < due) {
                wakeup_.arm();
                if (stop_requested()) wakeup_.disarm();
                else wakeup_.wait(due);
            }
        } else if (live) {
            for (;;) {
                wakeup_.arm();
                if (stop_requested() || any_pending(order_)) {
                    wakeup_.disarm();
                    break;
                }
                wakeup_.wait(clock::now() + idle_report);
                if (on_tick && !stop_requested() && !any_pending(order_)) on_tick(ticks_);
            }
        }
    };
    auto step = [&] {
        tick_blocks();
        if (on_tick) on_tick(ticks_);
    };
    auto more = [&](long done) {
        if (stop_requested()) return false;
        if (ticks > 0) return done < ticks;
        return until_stopped || !sources_exhausted() || any_pending(order_);
    };
    for (long done = 0; more(done); ++done) {
        wait();
        if (stop_requested()) break;
        step();
    }
    bool end_events = false;
    for (const auto& event : events_)
        if (event.tick == 0) {
            apply(event);
            end_events = true;
        }
    // Let the blocks answer what the end events asked of them, without
    // waiting for live input.
    live = false;
    for (long extra = 0; end_events && extra < max_tail_ticks && (extra == 0 || any_pending(order_)); ++extra) {
        if (!stop_requested()) wait();
        step();
    }
}

void Patch::stop() {
    for (BlockNode* block : order_) {
        block->status().set_status(Mrv::StatusDesign);
        if (block->started) block->block->StopBlock();
        block->started = false;
    }
    for (BlockNode* block : order_) {
        if (block->initialised) block->block->DoneBlock();
        block->initialised = false;
    }
    running_ = false;
}

void Patch::close() {
    for (auto& block : blocks_) {
        if (block->instance) block->status().execution_request().set_wakeup(nullptr);
        if (block->instance) {
            try {
                block->block->DoneInstance();
            } catch (...) {
                // Tear-down goes on for the other blocks.
            }
        }
        block->instance = false;
        kernel_->forget(block->block.get());
    }
    order_.clear();
    blocks_.clear();
}

long Patch::messages_in() const {
    long count = 0;
    for (const auto& block : blocks_)
        if (block->host_block) count += block->host_block->messages_in();
    return count;
}

long Patch::messages_out() const {
    long count = 0;
    for (const auto& block : blocks_)
        if (block->host_block) count += block->host_block->messages_out();
    return count;
}

std::string Patch::progress() const {
    std::string text;
    for (const auto& block : blocks_)
        if (block->host_block && !block->host_block->progress().empty())
            text += (text.empty() ? "" : ", ") + block->name + ": " + block->host_block->progress();
    return text;
}

}  // namespace mrvhost
