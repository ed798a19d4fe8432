#include "host/patch.h"

#include <algorithm>
#include <set>
#include <thread>

#include <boost/algorithm/string.hpp>

#include "host/data_files.h"
#include "host/datatypes.h"
#include "host/event.h"

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

// Upper bound on the extra ticks a run gives blocks that keep asking for
// an execution after the end events.
constexpr long max_tail_ticks = 10000;

}  // namespace

Signature& BlockNode::signature() const { return host_object<Signature>(block->GetSignature()); }
Status& BlockNode::status() const { return host_object<Status>(block->GetStatus()); }
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
    try {
        if (is_host_block_class(class_id)) {
            node->host_block = create_host_block(*kernel_, class_id, datatype, base_directory);
            node->host_block->set_name(name);
            node->block = Ref<Mrv::IBlock>(node->host_block.get());
        } else {
            Mrv::ILibraryObjectClassInfo* info = find_class(class_id);
            if (!info) throw PatchError("block \"" + name + "\": no block class \"" + class_id + "\" in the loaded libraries");
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
    throw PatchError("no block \"" + name + "\"");
}

void Patch::link(const std::string& from_block, const std::string& from_pin, const std::string& to_block,
                 const std::string& to_pin) {
    BlockNode& from = node(from_block);
    BlockNode& to = node(to_block);
    Pin* output = from.signature().find_output(from_pin);
    if (!output) throw PatchError("block \"" + from_block + "\" has no output \"" + from_pin + "\"");
    Pin* input = to.signature().find_input(to_pin);
    if (!input) throw PatchError("block \"" + to_block + "\" has no input \"" + to_pin + "\"");
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
            for (Mrv::int32 i = 0; given.is_string() && i < combo->GetItemCount(); ++i)
                if (given.get<std::string>() == combo->GetItem(i)) given = i;
            if (given.is_string()) throw PatchError(where + ": no item " + json_excerpt(given));
        }
    try {
        value_from_json(*value, given);
    } catch (const std::invalid_argument& error) {
        throw PatchError(where + ": " + error.what());
    }
    if (Mrv::IDomain* domain = parameter.GetDomain())
        if (!domain->Accepts(value.get())) throw PatchError(where + ": " + json_excerpt(json) + " is outside its domain");
    return value;
}

void Patch::set_parameter(const std::string& block, const std::string& id, const nlohmann::json& json) {
    BlockNode& target = node(block);
    Parameter* parameter = target.signature().find_parameter(id);
    if (!parameter) throw PatchError("block \"" + block + "\" has no parameter \"" + id + "\"");
    Ref<Mrv::IDatatype> value = proposed_value(target, *parameter, json);
    if (std::string(parameter->GetDatatypeClassId()) == "trigger") value->SetTimeStamp(clock_->GetCurrentTime() + 1);
    Ref<Event> event = Event::parameter_change(parameter, value.get());
    if (!target.events || !target.events->HandleEvent(event.get()))
        throw PatchError("block \"" + block + "\", parameter \"" + id + "\": the block refused " + json_excerpt(json));
}

void Patch::schedule(ScheduledEvent event) {
    BlockNode& target = node(event.block);
    Parameter* parameter = target.signature().find_parameter(event.parameter);
    if (!parameter) throw PatchError("block \"" + event.block + "\" has no parameter \"" + event.parameter + "\"");
    const bool trigger = std::string(parameter->GetDatatypeClassId()) == "trigger";
    if (event.value.is_null() && !trigger)
        throw PatchError("\"" + event.parameter + "\" of block \"" + event.block + "\" is not a trigger");
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

void Patch::check_files() {
    struct Use {
        const BlockNode* block;
        std::string file;
    };
    std::vector<Use> reads, writes;
    for (const auto& block : blocks_) {
        if (!block->host_block) continue;
        if (std::string file = block->host_block->file_read(); !file.empty()) reads.push_back({block.get(), file});
        if (std::string file = block->host_block->file_written(); !file.empty()) writes.push_back({block.get(), file});
    }
    for (std::size_t w = 0; w < writes.size(); ++w) {
        for (const Use& read : reads)
            if (same_file(writes[w].file, read.file))
                throw PatchError("block \"" + writes[w].block->name + "\" would overwrite \"" + writes[w].file +
                                 "\", which block \"" + read.block->name + "\" reads");
        for (std::size_t other = w + 1; other < writes.size(); ++other)
            if (same_file(writes[w].file, writes[other].file))
                throw PatchError("blocks \"" + writes[w].block->name + "\" and \"" + writes[other].block->name +
                                 "\" both write \"" + writes[w].file + "\"");
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
            // The first error is the cause; what follows tends to be the
            // framework's general "error in method Init".
            for (std::size_t i = heard; i < events.size(); ++i)
                if (events[i].block == block->block.get() && events[i].kind == Notification::Message &&
                    events[i].level >= Mrv::LevelError) {
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

bool Patch::should_execute(BlockNode& node) {
    bool execute = node.status().take_pending();
    auto& signature = node.signature();
    for (const auto& driving : node.status().driving_inputs()) {
        Pin* input = signature.find_input(driving.first);
        if (!input || !input->IsConnected()) continue;
        const Mrv::TimeStamp stamp = input->GetDatatype()->GetTimeStamp();
        Mrv::TimeStamp& seen = node.last_seen[driving.first];
        if (stamp > seen) {
            seen = stamp;
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
    clock_->advance();
    ++ticks_;
    for (const auto& event : events_)
        if (event.tick == ticks_) apply(event);
    for (BlockNode* block : order_)
        if (should_execute(*block)) {
            ++block->executions;
            block->block->ExecuteBlock();
        }
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
        tick();
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
