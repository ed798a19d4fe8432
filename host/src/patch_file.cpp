// Patch files: JSON in, JSON out.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <limits>
#include <optional>
#include <set>
#include <sstream>

#include "host/data_files.h"
#include "host/datatypes.h"
#include "host/patch.h"

namespace mrvhost {
namespace {

using nlohmann::json;

std::string folder_of(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
}

bool file_exists(const std::string& path) { return static_cast<bool>(std::ifstream(path)); }

// Reports a bad place in the file.
class FileContext {
public:
    explicit FileContext(std::string file) : file_(std::move(file)) {}
    [[noreturn]] void fail(const std::string& where, const std::string& what) const {
        throw PatchError(file_ + ": " + (where.empty() ? "" : where + ": ") + what);
    }
    const json& member(const json& object, const char* key, const std::string& where) const {
        if (!object.is_object()) fail(where, "expected an object");
        if (!object.contains(key)) fail(where, std::string("missing \"") + key + "\"");
        return object.at(key);
    }
    // Refuses a key that is not `known`: a misspelt key would otherwise be
    // ignored without a word.
    void keys(const json& object, const std::string& where, const std::vector<std::string>& known) const {
        if (std::string unknown = unknown_key(object, known); !unknown.empty()) fail(where, unknown);
    }
    std::string text(const json& object, const char* key, const std::string& where) const {
        const json& value = member(object, key, where);
        if (!value.is_string()) fail(where, std::string("\"") + key + "\" must be a string");
        return value.get<std::string>();
    }

private:
    std::string file_;
};

std::pair<std::string, std::string> split_pin(const FileContext& context, const std::string& text,
                                              const std::string& where) {
    const auto dot = text.find('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == text.size())
        context.fail(where, "\"" + text + "\" is not of the form block.pin");
    return {text.substr(0, dot), text.substr(dot + 1)};
}

json pin_to_json(const Pin& pin) {
    return {{"id", pin.GetId()},
            {"name", pin.GetName()},
            {"description", pin.GetDescription()},
            {"catalog", pin.GetDatatypeCatalogId()},
            {"class", pin.GetDatatypeClassId()},
            {"required", pin.IsRequired()}};
}

json signature_to_json(Signature& signature) {
    json saved = {{"inputs", json::array()}, {"outputs", json::array()}, {"parameters", json::array()}};
    for (const auto& pin : signature.inputs().items()) saved["inputs"].push_back(pin_to_json(*pin));
    for (const auto& pin : signature.outputs().items()) saved["outputs"].push_back(pin_to_json(*pin));
    for (const auto& parameter : signature.parameters().items()) {
        json attributes = json::array();
        for (int a = Mrv::AttrVisible; a <= Mrv::AttrLayoutFirst; ++a) attributes.push_back(parameter->GetAttribute(a));
        saved["parameters"].push_back({{"id", parameter->GetId()},
                                       {"name", parameter->GetName()},
                                       {"description", parameter->GetDescription()},
                                       {"catalog", parameter->GetDatatypeCatalogId()},
                                       {"class", parameter->GetDatatypeClassId()},
                                       {"domain", parameter->domain_class_id()},
                                       {"attributes", attributes},
                                       {"value", value_to_json(*parameter->GetValue())}});
    }
    return saved;
}

// The editor layouts a block set on its parameters (combo items, file
// filters...): a restored block checks them as part of its declaration.
json layout_to_json(Layout& layout) {
    json saved = {{"first", layout.layout_first()}, {"parameters", json::object()}};
    for (const auto& [id, chosen] : layout.layouts()) {
        json entry = {{"class", chosen->GetClassId()}};
        if (auto* combo = Mrv::interface_cast<Mrv::IComboDatatypeLayout>(chosen.get())) {
            entry["items"] = json::array();
            for (Mrv::int32 i = 0; i < combo->GetItemCount(); ++i) entry["items"].push_back(combo->GetItem(i));
        } else if (auto* file = Mrv::interface_cast<Mrv::IFilenameDatatypeLayout>(chosen.get())) {
            entry["filter"] = file->GetFilter();
            entry["options"] = {file->GetOption(0), file->GetOption(1), file->GetOption(2)};
        } else if (auto* folder = Mrv::interface_cast<Mrv::IFoldernameDatatypeLayout>(chosen.get())) {
            entry["option"] = folder->GetOption();
        } else if (auto* selector = Mrv::interface_cast<Mrv::IDatatypeSelectorComboLayout>(chosen.get())) {
            entry["pairs"] = json::array();
            for (Mrv::int32 i = 0; i < selector->GetPairCount(); ++i)
                entry["pairs"].push_back({selector->GetFirst(i), selector->GetSecond(i)});
        }
        saved["parameters"][id] = entry;
    }
    return saved;
}

Ref<Layout> layout_from_json(const FileContext& context, const json& saved, const std::string& where) {
    Ref<Layout> layout = Layout::create();
    if (!saved.is_object()) context.fail(where, "expected an object");
    context.keys(saved, where, {"first", "parameters"});
    try {
        if (saved.contains("first"))
            for (const auto& id : saved["first"]) layout->AddParameter(id.get<std::string>().c_str());
        const json& parameters = context.member(saved, "parameters", where);
        if (!parameters.is_object()) context.fail(where, "\"parameters\" must be an object");
        for (const auto& [id, entry] : parameters.items()) {
            context.keys(entry, where + ".parameters." + id, {"class", "items", "filter", "options", "option", "pairs"});
            Mrv::IDatatypeLayout* chosen = layout->SetLayout(id.c_str(), "kernel", context.text(entry, "class", where).c_str());
            if (auto* combo = Mrv::interface_cast<Mrv::IComboDatatypeLayout>(chosen)) {
                const json& items = context.member(entry, "items", where);
                combo->SetItemCount(static_cast<Mrv::int32>(items.size()));
                for (std::size_t i = 0; i < items.size(); ++i)
                    combo->SetItem(static_cast<Mrv::int32>(i), items[i].get<std::string>().c_str());
            } else if (auto* file = Mrv::interface_cast<Mrv::IFilenameDatatypeLayout>(chosen)) {
                file->SetFilter(context.text(entry, "filter", where).c_str());
                const json& options = context.member(entry, "options", where);
                file->SetOptions(options.at(0).get<bool>(), options.at(1).get<bool>(), options.at(2).get<bool>());
            } else if (auto* folder = Mrv::interface_cast<Mrv::IFoldernameDatatypeLayout>(chosen)) {
                folder->SetOption(context.member(entry, "option", where).get<bool>());
            } else if (auto* selector = Mrv::interface_cast<Mrv::IDatatypeSelectorComboLayout>(chosen)) {
                for (const auto& pair : context.member(entry, "pairs", where))
                    selector->AddPair(pair.at(0).get<std::string>().c_str(), pair.at(1).get<std::string>().c_str());
            }
        }
    } catch (const Mrv::IException& error) {
        context.fail(where, std::string("bad saved layout: ") + error.GetDescription());
    } catch (const PatchError&) {
        throw;
    } catch (const std::exception& error) {
        context.fail(where, std::string("bad saved layout: ") + error.what());
    }
    return layout;
}

Ref<Signature> signature_from_json(const FileContext& context, const json& saved, const std::string& where) {
    Ref<Signature> signature = Signature::create();
    context.keys(saved, where, {"inputs", "outputs", "parameters", "layouts"});
    const std::vector<std::string> pin_keys = {"id", "name", "description", "catalog", "class", "required"};
    try {
        for (const auto& pin : context.member(saved, "inputs", where)) {
            context.keys(pin, where + ".inputs", pin_keys);
            signature->AddInput(context.text(pin, "id", where).c_str(), pin.value("name", "").c_str(),
                                pin.value("description", "").c_str(), context.text(pin, "catalog", where).c_str(),
                                context.text(pin, "class", where).c_str(), pin.value("required", false), false, 0);
        }
        for (const auto& pin : context.member(saved, "outputs", where)) {
            context.keys(pin, where + ".outputs", pin_keys);
            signature->AddOutput(context.text(pin, "id", where).c_str(), pin.value("name", "").c_str(),
                                 pin.value("description", "").c_str(), context.text(pin, "catalog", where).c_str(),
                                 context.text(pin, "class", where).c_str(), "", "", 0);
        }
        for (const auto& entry : context.member(saved, "parameters", where)) {
            context.keys(entry, where + ".parameters",
                         {"id", "name", "description", "catalog", "class", "domain", "attributes", "value"});
            const std::string id = context.text(entry, "id", where);
            const std::string domain = entry.value("domain", "");
            signature->AddParameter(id.c_str(), entry.value("name", "").c_str(), entry.value("description", "").c_str(),
                                    context.text(entry, "catalog", where).c_str(),
                                    context.text(entry, "class", where).c_str(), domain.empty() ? "" : "kernel",
                                    domain.c_str(), 0, 0);
            Parameter* parameter = signature->find_parameter(id);
            if (entry.contains("attributes") && entry["attributes"].is_array())
                for (int a = Mrv::AttrVisible; a <= Mrv::AttrLayoutFirst && a <= static_cast<int>(entry["attributes"].size()); ++a)
                    parameter->SetAttribute(a, entry["attributes"][static_cast<std::size_t>(a - 1)].get<bool>());
            if (entry.contains("value")) value_from_json(*parameter->GetValue(), entry["value"]);
        }
    } catch (const Mrv::IException& error) {
        context.fail(where, std::string("bad saved signature: ") + error.GetDescription());
    } catch (const PatchError&) {
        throw;  // already names the file and the place
    } catch (const std::exception& error) {
        context.fail(where, std::string("bad saved signature: ") + error.what());
    }
    return signature;
}

// Deeper than any patch needs; a hostile file nests far deeper, and nesting
// is what would exhaust the stack when the value is copied or walked.
constexpr int max_nesting = 100;

// What the parser callback refuses; the text says where.
struct BadDocument {
    std::string what;
};

// Parses a patch, refusing what a JSON library would take silently: a key
// given twice in one object (the last would win), a NUL inside a string
// (cut short wherever it is read as C text), and nesting deep enough to
// exhaust the stack when the value is copied or walked.
json parse_patch(std::istream& in) {
    struct Container {
        bool object;
        std::set<std::string> keys;
        std::string key;     // objects: the member being read
        std::size_t count = 0;  // arrays: the elements begun
    };
    std::vector<Container> open;
    // Where the parser is, as messages name places: blocks[0].parameters.
    auto place = [&] {
        std::string text;
        for (const auto& container : open) {
            if (container.object && !container.key.empty()) text += (text.empty() ? "" : ".") + container.key;
            else if (!container.object && container.count > 0) text += "[" + std::to_string(container.count - 1) + "]";
        }
        return text.empty() ? std::string("the top level") : text;
    };
    auto no_nul = [&](const json& value) {
        if (value.is_string() && value.get_ref<const std::string&>().find('\0') != std::string::npos)
            throw BadDocument{place() + ": a string holds a NUL character"};
    };
    return json::parse(in, [&](int depth, json::parse_event_t event, json& parsed) {
        if (depth > max_nesting) throw BadDocument{"not a patch: values nest deeper than " + std::to_string(max_nesting) + " levels"};
        const bool begins_value = event == json::parse_event_t::object_start ||
                                  event == json::parse_event_t::array_start || event == json::parse_event_t::value;
        if (begins_value && !open.empty() && !open.back().object) ++open.back().count;
        switch (event) {
        case json::parse_event_t::object_start: open.push_back({true, {}, "", 0}); break;
        case json::parse_event_t::array_start: open.push_back({false, {}, "", 0}); break;
        case json::parse_event_t::object_end:
        case json::parse_event_t::array_end: open.pop_back(); break;
        case json::parse_event_t::key: {
            const std::string& key = parsed.get_ref<const std::string&>();
            Container& object = open.back();
            object.key.clear();
            no_nul(parsed);
            object.key = key;
            if (!object.keys.insert(key).second) {
                object.key.clear();
                throw BadDocument{place() + ": the key " + json_excerpt(key) + " is given twice"};
            }
            break;
        }
        case json::parse_event_t::value: no_nul(parsed); break;
        }
        return true;
    });
}

// A whole number from `low` to `high`; nothing for any other value.
std::optional<long> integer_in(const json& value, long low, long high) {
    if (value.is_number_unsigned()) {
        const auto number = value.get<std::uint64_t>();
        if (number > static_cast<std::uint64_t>(high)) return std::nullopt;
        return low <= static_cast<long>(number) ? std::optional<long>(static_cast<long>(number)) : std::nullopt;
    }
    if (!value.is_number_integer()) return std::nullopt;
    const auto number = value.get<std::int64_t>();
    if (number < low || number > high) return std::nullopt;
    return static_cast<long>(number);
}

constexpr long max_period_ms = 86'400'000;  // a day

RunSettings read_run(const FileContext& context, const json& run) {
    const std::string expected =
        "expected {\"ticks\": N} with N from 1, or {\"until\": \"exhausted\"}, either with \"period_ms\": P from 1 "
        "to " + std::to_string(max_period_ms);
    if (!run.is_object()) context.fail("run", expected);
    context.keys(run, "run", {"ticks", "until", "period_ms"});
    RunSettings settings;
    if (run.contains("ticks") == run.contains("until")) context.fail("run", expected);
    if (run.contains("ticks")) {
        const auto ticks = integer_in(run["ticks"], 1, std::numeric_limits<long>::max());
        if (!ticks) context.fail("run", expected + "; \"ticks\" is " + json_excerpt(run["ticks"]));
        settings.ticks = *ticks;
    } else if (run["until"] != "exhausted") {
        context.fail("run", expected);
    }
    if (run.contains("period_ms")) {
        const auto period = integer_in(run["period_ms"], 1, max_period_ms);
        if (!period) context.fail("run", expected + "; \"period_ms\" is " + json_excerpt(run["period_ms"]));
        settings.period_ms = *period;
    }
    return settings;
}

// The ids of a block's parameter values in the order the block declares
// them, as a restore applies saved values (one parameter may reshape
// another); ids the block does not declare come last.
std::vector<std::string> parameter_order(BlockNode& block, const json& values) {
    std::vector<std::string> ids;
    for (const auto& parameter : block.signature().parameters().items())
        if (values.contains(parameter->GetId())) ids.push_back(parameter->GetId());
    for (const auto& [id, value] : values.items())
        if (std::find(ids.begin(), ids.end(), id) == ids.end()) ids.push_back(id);
    return ids;
}

// `path` (relative to the working directory or absolute) as a name relative
// to `folder`, which is absolute or relative to the working directory.
std::string moved_name(const std::string& path, const std::string& folder) {
    namespace fs = std::filesystem;
    const fs::path from = fs::absolute(path).lexically_normal();
    const fs::path relative = from.lexically_relative(fs::absolute(folder).lexically_normal());
    return relative.empty() ? from.string() : relative.string();
}

}  // namespace

std::unique_ptr<Patch> load_patch(const std::string& path, const std::string& default_plugin, RunSettings* run,
                                  const std::function<void(const Notification&)>& listener) {
    const FileContext context(path);
    std::ifstream in;
    const std::string reason = open_regular_file(in, path);
    if (!reason.empty()) throw PatchError(path + ": cannot open the patch file: " + reason);
    json document;
    try {
        document = parse_patch(in);
    } catch (const json::parse_error& error) {
        throw PatchError(path + ": not valid JSON: " + error.what());
    } catch (const BadDocument& bad) {
        throw PatchError(path + ": " + bad.what);
    }
    if (!document.is_object()) context.fail("", "the patch must be a JSON object");
    context.keys(document, "", {"plugins", "blocks", "links", "events", "run"});
    const std::string folder = folder_of(path);
    auto patch = std::make_unique<Patch>();
    patch->kernel().sink().listener = listener;

    std::vector<std::string> plugins;
    if (document.contains("plugins")) {
        if (!document["plugins"].is_array()) context.fail("plugins", "expected an array of library paths");
        for (const auto& entry : document["plugins"]) {
            if (!entry.is_string()) context.fail("plugins", "expected an array of library paths");
            std::string library = entry.get<std::string>();
            if (library.empty()) context.fail("plugins", "empty library path");
            if (library[0] != '/' && file_exists(folder + "/" + library)) library = folder + "/" + library;
            else if (library.find('/') == std::string::npos && !default_plugin.empty() && !file_exists(library))
                library = default_plugin;  // a bare name: the plug-in beside the tool
            plugins.push_back(library);
        }
    } else if (!default_plugin.empty()) {
        plugins.push_back(default_plugin);
    }
    for (const auto& library : plugins) {
        try {
            patch->add_plugin(library);
        } catch (const PatchError& error) {
            context.fail("plugins", error.what());
        }
    }

    const json& blocks = context.member(document, "blocks", "");
    if (!blocks.is_array() || blocks.empty()) context.fail("blocks", "expected a non-empty array");
    std::vector<std::pair<std::size_t, const json*>> parameters;
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        const std::string where = "blocks[" + std::to_string(i) + "]";
        const json& block = blocks[i];
        context.keys(block, where, {"name", "class", "datatype", "parameters", "saved"});
        const std::string name = context.text(block, "name", where);
        const std::string class_id = context.text(block, "class", where);
        const std::string datatype = block.contains("datatype") ? context.text(block, "datatype", where) : "";
        Ref<Signature> saved;
        Ref<Layout> saved_layout;
        if (block.contains("saved")) {
            saved = signature_from_json(context, block["saved"], where + ".saved");
            if (block["saved"].contains("layouts"))
                saved_layout = layout_from_json(context, block["saved"]["layouts"], where + ".saved.layouts");
        }
        if (block.contains("parameters") && !block["parameters"].is_object())
            context.fail(where, "\"parameters\" must be an object");
        try {
            patch->add_block(name, class_id, datatype, saved.get(), folder, saved_layout.get());
        } catch (const PatchError& error) {
            context.fail(where, error.what());
        }
        if (block.contains("parameters")) parameters.emplace_back(i, &block["parameters"]);
    }
    for (const auto& [index, values] : parameters) {
        const std::string name = blocks[index]["name"].get<std::string>();
        std::vector<std::pair<std::string, json>> ordered;
        for (const auto& id : parameter_order(patch->node(name), *values)) ordered.emplace_back(id, values->at(id));
        try {
            patch->set_parameters(name, ordered);
        } catch (const PatchError& error) {
            context.fail("blocks[" + std::to_string(index) + "]", error.what());
        }
    }

    if (document.contains("links")) {
        if (!document["links"].is_array()) context.fail("links", "expected an array");
        for (std::size_t i = 0; i < document["links"].size(); ++i) {
            const std::string where = "links[" + std::to_string(i) + "]";
            const json& link = document["links"][i];
            context.keys(link, where, {"from", "to"});
            const auto from = split_pin(context, context.text(link, "from", where), where);
            const auto to = split_pin(context, context.text(link, "to", where), where);
            try {
                patch->link(from.first, from.second, to.first, to.second);
            } catch (const PatchError& error) {
                context.fail(where, error.what());
            }
        }
    }

    if (document.contains("events")) {
        if (!document["events"].is_array()) context.fail("events", "expected an array");
        for (std::size_t i = 0; i < document["events"].size(); ++i) {
            const std::string where = "events[" + std::to_string(i) + "]";
            const json& entry = document["events"][i];
            context.keys(entry, where, {"at", "block", "set", "value", "fire"});
            ScheduledEvent event;
            event.origin = path + ": " + where;
            const json& at = context.member(entry, "at", where);
            if (at == "end") event.tick = 0;
            else if (auto tick = integer_in(at, 1, std::numeric_limits<long>::max())) event.tick = *tick;
            else context.fail(where, "\"at\" must be a tick number from 1, or \"end\"");
            event.block = context.text(entry, "block", where);
            if (entry.contains("set") == entry.contains("fire"))
                context.fail(where, "expected \"set\" with \"value\", or \"fire\"");
            if (entry.contains("set")) {
                event.parameter = context.text(entry, "set", where);
                event.value = context.member(entry, "value", where);
                if (event.value.is_null()) context.fail(where, "\"value\" must not be null");
            } else {
                event.parameter = context.text(entry, "fire", where);
            }
            try {
                patch->schedule(std::move(event));
            } catch (const PatchError& error) {
                context.fail(where, error.what());
            }
        }
    }

    patch->use_file("the patch file", path, false);
    try {
        patch->check_files();
    } catch (const PatchError& error) {
        context.fail("blocks", error.what());
    }
    try {
        patch->validate();
    } catch (const PatchError& error) {
        context.fail("links", error.what());
    }

    *run = document.contains("run") ? read_run(context, document["run"]) : RunSettings{};
    return patch;
}

nlohmann::json save_patch(const Patch& patch, const RunSettings& run, const std::string& target) {
    const std::string folder = target.empty() ? "" : folder_of(target);
    json document;
    // The catalog beside the tool is saved by name, so the file works from
    // any folder; other libraries keep the path they were loaded from.
    document["plugins"] = json::array();
    for (const auto& library : patch.plugin_paths()) {
        const auto slash = library.rfind('/');
        const std::string name = slash == std::string::npos ? library : library.substr(slash + 1);
        const bool moves = !folder.empty() && library[0] != '/';
        document["plugins"].push_back(name == "libMrvML.so" ? name : moves ? moved_name(library, folder) : library);
    }
    document["blocks"] = json::array();
    for (const auto& block : patch.blocks()) {
        json entry = {{"name", block->name}, {"class", block->class_id}};
        if (!block->datatype.empty()) entry["datatype"] = block->datatype;
        Signature& signature = block->signature();
        json parameters = json::object();
        for (const auto& parameter : signature.parameters().items())
            if (std::string(parameter->GetDatatypeClassId()) != "trigger")
                parameters[parameter->GetId()] = value_to_json(*parameter->GetValue());
        entry["parameters"] = parameters;
        if (!block->host_block) {
            entry["saved"] = signature_to_json(signature);
            entry["saved"]["layouts"] = layout_to_json(block->layout());
        }
        // Relative file names follow the patch to its new folder.
        for (const auto& file : folder.empty() ? std::vector<FileParameter>{} : file_parameters(*block)) {
            const std::string id = file.parameter->GetId();
            const std::string name = Mrv::interface_cast<Mrv::IString>(file.parameter->GetValue())->GetValue();
            if (name.empty() || name[0] == '/') continue;
            // The folder the block would take a name from in the new place.
            const std::string base = folder_of(block_file(*block, folder, "file"));
            const std::string moved = moved_name(block_file(*block, block->folder, name), base);
            entry["parameters"][id] = moved;
            if (entry.contains("saved"))
                for (auto& saved : entry["saved"]["parameters"])
                    if (saved["id"] == id) saved["value"] = moved;
        }
        document["blocks"].push_back(entry);
    }
    document["links"] = json::array();
    for (const auto& link : patch.links())
        document["links"].push_back({{"from", link.from_block + "." + link.from_pin}, {"to", link.to_block + "." + link.to_pin}});
    document["events"] = json::array();
    for (const auto& event : patch.events()) {
        json entry = {{"block", event.block}};
        if (event.tick == 0) entry["at"] = "end";
        else entry["at"] = event.tick;
        if (event.value.is_null()) entry["fire"] = event.parameter;
        else {
            entry["set"] = event.parameter;
            entry["value"] = event.value;
        }
        document["events"].push_back(entry);
    }
    if (run.ticks > 0) document["run"] = {{"ticks", run.ticks}};
    else document["run"] = {{"until", "exhausted"}};
    if (run.period_ms > 0) document["run"]["period_ms"] = run.period_ms;
    return document;
}

}  // namespace mrvhost
