// Patch files: JSON in, JSON out.
#include <algorithm>
#include <fstream>
#include <sstream>

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

Ref<Signature> signature_from_json(const FileContext& context, const json& saved, const std::string& where) {
    Ref<Signature> signature = Signature::create();
    try {
        for (const auto& pin : context.member(saved, "inputs", where))
            signature->AddInput(context.text(pin, "id", where).c_str(), pin.value("name", "").c_str(),
                                pin.value("description", "").c_str(), context.text(pin, "catalog", where).c_str(),
                                context.text(pin, "class", where).c_str(), pin.value("required", false), false, 0);
        for (const auto& pin : context.member(saved, "outputs", where))
            signature->AddOutput(context.text(pin, "id", where).c_str(), pin.value("name", "").c_str(),
                                 pin.value("description", "").c_str(), context.text(pin, "catalog", where).c_str(),
                                 context.text(pin, "class", where).c_str(), "", "", 0);
        for (const auto& entry : context.member(saved, "parameters", where)) {
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
    } catch (const std::exception& error) {
        context.fail(where, std::string("bad saved signature: ") + error.what());
    }
    return signature;
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

}  // namespace

std::unique_ptr<Patch> load_patch(const std::string& path, const std::string& default_plugin, long* ticks) {
    const FileContext context(path);
    std::ifstream in(path);
    if (!in) throw PatchError(path + ": cannot open the patch file");
    json document;
    try {
        document = json::parse(in);
    } catch (const json::parse_error& error) {
        throw PatchError(path + ": not valid JSON: " + error.what());
    }
    if (!document.is_object()) context.fail("", "the patch must be a JSON object");
    const std::string folder = folder_of(path);
    auto patch = std::make_unique<Patch>();

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
    std::vector<std::pair<std::string, json>> parameters;
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        const std::string where = "blocks[" + std::to_string(i) + "]";
        const json& block = blocks[i];
        const std::string name = context.text(block, "name", where);
        const std::string class_id = context.text(block, "class", where);
        const std::string datatype = block.contains("datatype") ? context.text(block, "datatype", where) : "";
        Ref<Signature> saved;
        if (block.contains("saved")) saved = signature_from_json(context, block["saved"], where + ".saved");
        try {
            patch->add_block(name, class_id, datatype, saved.get(), folder);
        } catch (const PatchError& error) {
            context.fail(where, error.what());
        }
        if (block.contains("parameters")) {
            if (!block["parameters"].is_object()) context.fail(where, "\"parameters\" must be an object");
            parameters.emplace_back(name, block["parameters"]);
        }
    }
    for (const auto& [name, values] : parameters)
        for (const auto& id : parameter_order(patch->node(name), values)) {
            try {
                patch->set_parameter(name, id, values[id]);
            } catch (const PatchError& error) {
                context.fail("blocks", error.what());
            }
        }

    if (document.contains("links")) {
        if (!document["links"].is_array()) context.fail("links", "expected an array");
        for (std::size_t i = 0; i < document["links"].size(); ++i) {
            const std::string where = "links[" + std::to_string(i) + "]";
            const json& link = document["links"][i];
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
            ScheduledEvent event;
            const json& at = context.member(entry, "at", where);
            if (at.is_string() && at.get<std::string>() == "end") event.tick = 0;
            else if (at.is_number_integer() && at.get<long>() >= 1) event.tick = at.get<long>();
            else context.fail(where, "\"at\" must be a tick number from 1, or \"end\"");
            event.block = context.text(entry, "block", where);
            if (entry.contains("set")) {
                event.parameter = context.text(entry, "set", where);
                event.value = context.member(entry, "value", where);
            } else if (entry.contains("fire")) {
                event.parameter = context.text(entry, "fire", where);
            } else {
                context.fail(where, "expected \"set\" with \"value\", or \"fire\"");
            }
            try {
                Parameter* target = patch->node(event.block).signature().find_parameter(event.parameter);
                if (!target) context.fail(where, "block \"" + event.block + "\" has no parameter \"" + event.parameter + "\"");
                if (entry.contains("fire") && std::string(target->GetDatatypeClassId()) != "trigger")
                    context.fail(where, "\"" + event.parameter + "\" is not a trigger");
            } catch (const PatchError& error) {
                context.fail(where, error.what());
            }
            patch->schedule(std::move(event));
        }
    }

    try {
        patch->validate();
    } catch (const PatchError& error) {
        context.fail("links", error.what());
    }

    *ticks = 0;
    if (document.contains("run")) {
        const json& run = document["run"];
        if (run.is_object() && run.contains("ticks") && run["ticks"].is_number_integer() && run["ticks"].get<long>() > 0)
            *ticks = run["ticks"].get<long>();
        else if (!(run.is_object() && run.value("until", "") == "exhausted"))
            context.fail("run", "expected {\"ticks\": N} with N from 1, or {\"until\": \"exhausted\"}");
    }
    return patch;
}

nlohmann::json save_patch(const Patch& patch, long ticks) {
    json document;
    // The catalog beside the tool is saved by name, so the file works from
    // any folder; other libraries keep the path they were loaded from.
    document["plugins"] = json::array();
    for (const auto& library : patch.plugin_paths()) {
        const auto slash = library.rfind('/');
        const std::string name = slash == std::string::npos ? library : library.substr(slash + 1);
        document["plugins"].push_back(name == "libMrvML.so" ? name : library);
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
        if (!block->host_block) entry["saved"] = signature_to_json(signature);
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
    if (ticks > 0) document["run"] = {{"ticks", ticks}};
    else document["run"] = {{"until", "exhausted"}};
    return document;
}

}  // namespace mrvhost
