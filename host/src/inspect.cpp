// Printing a library's signature and a block's declarations; no per-block
// code: everything comes from the signature and the instance's metadata
// (the block reference adds the hand-written notes it is given).
#include "host/inspect.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iomanip>
#include <map>
#include <sstream>

#include <boost/algorithm/string/join.hpp>

#include "host/datatypes.h"
#include "host/host_block.h"
#include "host/names.h"
#include "host/signature.h"

namespace mrvhost {
namespace {

std::string quoted(const char* text) { return std::string("\"") + (text ? text : "") + "\""; }

// Multi-line texts are indented under their label.
void print_text(std::ostream& out, const char* label, const std::string& value) {
    out << "    " << std::left << std::setw(13) << label;
    std::string::size_type start = 0;
    bool first = true;
    while (true) {
        const auto end = value.find('\n', start);
        const std::string line = value.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!first) out << "    " << std::string(13, ' ');
        out << line << "\n";
        first = false;
        if (end == std::string::npos || end + 1 == value.size()) break;
        start = end + 1;
    }
}

std::string text_of(const char* text) { return text ? text : ""; }

template <class Getter>
std::string joined(int count, Getter get) {
    std::string result;
    for (int i = 0; i < count; ++i) result += (i ? ", " : "") + std::string(get(i));
    return result.empty() ? "-" : result;
}

void print_records(std::ostream& out, const char* title, Mrv::IObjectClassCollection<Mrv::IObjectClassInfo>* records) {
    out << title << " (" << records->GetCount() << "):\n";
    for (int i = 0; i < records->GetCount(); ++i) {
        Mrv::IObjectClassInfo* record = records->GetItem(i);
        out << "  " << record->GetClassId() << "\n";
        print_text(out, "name", text_of(record->GetName()));
        print_text(out, "description", text_of(record->GetDescription()));
    }
}

std::string layout_text(Mrv::IDatatypeLayout* layout) {
    if (!layout) return "-";
    if (auto* combo = Mrv::interface_cast<Mrv::IComboDatatypeLayout>(layout))
        return "combo: " + joined(combo->GetItemCount(), [&](int i) { return std::to_string(i) + "=" + quoted(combo->GetItem(i)); });
    if (auto* file = Mrv::interface_cast<Mrv::IFilenameDatatypeLayout>(layout))
        return "file name (" + std::string(file->GetOption(0) ? "written" : "read") + "), filter " +
               quoted(file->GetFilter());
    if (auto* folder = Mrv::interface_cast<Mrv::IFoldernameDatatypeLayout>(layout))
        return std::string("folder name: option ") + (folder->GetOption() ? "on" : "off");
    if (auto* selector = Mrv::interface_cast<Mrv::IDatatypeSelectorComboLayout>(layout))
        return "datatype selector: " + joined(selector->GetPairCount(), [&](int i) {
                   return quoted(selector->GetFirst(i)) + "/" + quoted(selector->GetSecond(i));
               });
    return layout->GetClassId();
}

// Matrices of more cells than this are shown by shape and first values.
constexpr Mrv::int32 shown_cells = 16;

// How much of a large matrix to show: all of it, its first values, or
// only its shape (the reference: a map's random weights are no default
// worth reading).
enum class Shown { all, first, shape };

template <class M, class Format>
std::string matrix_text(M& matrix, Shown shown_as, Format format) {
    const bool full = shown_as == Shown::all;
    const Mrv::int32 rows = matrix.GetHeight(), columns = matrix.GetWidth();
    const std::string shape = std::to_string(rows) + " x " + std::to_string(columns);
    if (rows == 0 || columns == 0) return shape + " (empty)";
    const bool cut = !full && rows * columns > shown_cells;
    if (cut && shown_as == Shown::shape) return shape + " matrix";
    std::string text = shape + (cut ? ", first values: " : ": ");
    Mrv::int32 shown = 0;
    for (Mrv::int32 r = 0; r < rows; ++r) {
        if (r) text += " | ";
        for (Mrv::int32 c = 0; c < columns; ++c, ++shown) {
            if (cut && shown == 8) return text + " ... (--full shows every value)";
            text += (c ? " " : "") + format(matrix.GetAt(r, c));
        }
    }
    return text;
}

// A value on one line: a large matrix by its shape and first values.
std::string value_line(Mrv::IDatatype& value, Shown shown) {
    if (auto* m = Mrv::interface_cast<Mrv::IDoubleMatrix>(&value))
        return matrix_text(*m, shown, [](double x) { return format_double(x); });
    if (auto* m = Mrv::interface_cast<Mrv::IIntMatrix>(&value))
        return matrix_text(*m, shown, [](Mrv::int32 x) { return std::to_string(x); });
    if (auto* set = Mrv::interface_cast<Mrv::ILabelledSet>(&value))
        return std::to_string(set->GetCount()) + " elements";
    std::string text = value_to_text(value);
    for (char& c : text)
        if (c == '\n') c = ' ';
    return text;
}

// What the block may change about a parameter, in words.
std::string attribute_words(Mrv::IParameter& parameter) {
    const bool design = parameter.GetAttribute(Mrv::AttrDesignChange);
    const bool running = parameter.GetAttribute(Mrv::AttrRunChange);
    std::string words = parameter.GetAttribute(Mrv::AttrVisible) ? "visible" : "hidden";
    if (std::string(parameter.GetDatatypeClassId()) == "trigger")
        return words + (design && running ? ", may fire while running"
                        : design          ? ", may not fire while running"
                        : running         ? ", fires only while running"
                                          : ", may not fire");
    words += design && running ? ", may change while running"
             : design          ? ", may not change while running"
             : running         ? ", may change only while running"
                               : ", may not be changed";
    const bool shape_design = parameter.GetAttribute(Mrv::AttrDesignStructural);
    const bool shape_running = parameter.GetAttribute(Mrv::AttrRunStructural);
    if (std::string(parameter.GetDatatypeClassId()).find("matrix") != std::string::npos ||
        std::string(parameter.GetDatatypeClassId()) == "labeled_set")
        words += shape_design && shape_running ? ", its shape may change while running"
                 : shape_design                ? ", its shape may change while stopped only"
                                               : ", its shape is fixed";
    if (parameter.GetIntAttribute() != 0) words += ", host value " + std::to_string(parameter.GetIntAttribute());
    return words;
}

struct PinFacts {
    std::string id, name, description, datatype;
    bool required = false, driving = false;
};

struct ParameterFacts {
    std::string id, name, description, datatype, value, domain, layout, attributes;
    std::vector<std::string> items;  // combo items
};

struct BlockFacts {
    std::vector<PinFacts> inputs, outputs;
    std::vector<ParameterFacts> parameters;
};

BlockFacts facts_of(Mrv::IBlock& block, Shown shown) {
    BlockFacts facts;
    Mrv::ISignature* signature = block.GetSignature();
    std::vector<std::string> driving;
    if (auto* status = dynamic_cast<Status*>(block.GetStatus()))
        for (const auto& entry : status->driving_inputs()) driving.push_back(entry.first);
    auto pins = [&](Mrv::IPinCollection* collection, std::vector<PinFacts>& into) {
        for (int i = 0; i < collection->GetCount(); ++i) {
            Mrv::IPin* pin = collection->GetItem(i);
            into.push_back({pin->GetId(), text_of(pin->GetName()), text_of(pin->GetDescription()),
                            std::string(pin->GetDatatypeCatalogId()) + "/" + pin->GetDatatypeClassId(),
                            pin->IsRequired(),
                            std::find(driving.begin(), driving.end(), pin->GetId()) != driving.end()});
        }
    };
    pins(signature->GetInputs(), facts.inputs);
    pins(signature->GetOutputs(), facts.outputs);
    Mrv::IParameterCollection* parameters = signature->GetParameters();
    for (int i = 0; i < parameters->GetCount(); ++i) {
        Mrv::IParameter* parameter = parameters->GetItem(i);
        ParameterFacts entry;
        entry.id = parameter->GetId();
        entry.name = text_of(parameter->GetName());
        entry.description = text_of(parameter->GetDescription());
        entry.datatype = std::string(parameter->GetDatatypeCatalogId()) + "/" + parameter->GetDatatypeClassId();
        entry.value = value_line(*parameter->GetValue(), shown);
        entry.domain = parameter->GetDomain() ? domain_words(parameter->GetDomain()) : "-";
        Mrv::IDatatypeLayout* layout = block.GetLayout()->GetLayout(parameter->GetId());
        entry.layout = layout_text(layout);
        if (auto* combo = Mrv::interface_cast<Mrv::IComboDatatypeLayout>(layout))
            for (int k = 0; k < combo->GetItemCount(); ++k) entry.items.push_back(combo->GetItem(k));
        entry.attributes = attribute_words(*parameter);
        facts.parameters.push_back(std::move(entry));
    }
    return facts;
}

// A description's further lines, indented under its first.
std::string indented(const std::string& text) {
    std::string result;
    for (char c : text) result += c == '\n' ? std::string("\n        ") : std::string(1, c);
    return result;
}

void print_pins(std::ostream& out, const char* title, const std::vector<PinFacts>& pins, bool inputs) {
    out << "  " << title << " (" << pins.size() << "):\n";
    for (const auto& pin : pins) {
        out << "    " << pin.id << "  " << pin.datatype;
        if (inputs) out << (pin.required ? "  required" : "  optional") << (pin.driving ? ", drives execution" : "");
        out << "\n      \"" << pin.name << "\" - " << indented(pin.description) << "\n";
    }
}

void print_class_texts(std::ostream& out, Mrv::ILibraryObjectClassInfo* block) {
    print_text(out, "name", text_of(block->GetName()));
    print_text(out, "description", text_of(block->GetDescription()));
    print_text(out, "catalog path", text_of(block->GetCatalogPath()));
    print_text(out, "bitmap", std::to_string(block->GetBitmapId()));
    print_text(out, "authors", joined(block->GetAuthorCount(), [&](int k) { return block->GetAuthor(k); }));
    print_text(out, "companies", joined(block->GetCompanyCount(), [&](int k) { return block->GetCompany(k); }));
    print_text(out, "licences", joined(block->GetLicenceCount(), [&](int k) { return block->GetLicence(k); }));
}

void print_facts(std::ostream& out, const BlockFacts& facts) {
    print_pins(out, "Inputs", facts.inputs, true);
    print_pins(out, "Outputs", facts.outputs, false);
    out << "  Parameters (" << facts.parameters.size() << "):\n";
    for (const auto& parameter : facts.parameters) {
        out << "    " << parameter.id << "  " << parameter.datatype << "\n";
        out << "      \"" << parameter.name << "\" - " << indented(parameter.description) << "\n";
        out << "      value       " << parameter.value << "\n";
        out << "      domain      " << parameter.domain << "\n";
        out << "      layout      " << parameter.layout << "\n";
        out << "      attributes  " << parameter.attributes << "\n";
    }
}

// ---- Markdown ---------------------------------------------------------------

// A table cell: one line, no bar breaking the table.
std::string cell(std::string text) {
    std::string result;
    for (char c : text) {
        if (c == '\n' || c == '\r') result += ' ';
        else if (c == '|') result += "\\|";
        else result += c;
    }
    while (!result.empty() && result.back() == ' ') result.pop_back();
    return result.empty() ? "-" : result;
}

std::string code(const std::string& text) { return "`" + text + "`"; }

void markdown_facts(std::ostream& out, const BlockFacts& facts) {
    auto pins = [&](const char* title, const std::vector<PinFacts>& list, bool inputs) {
        out << "**" << title << "**";
        if (list.empty()) {
            out << ": none.\n\n";
            return;
        }
        out << "\n\n| id | name | datatype |" << (inputs ? " required | drives execution |" : "") << " description |\n"
            << "|---|---|---|" << (inputs ? "---|---|" : "") << "---|\n";
        for (const auto& pin : list) {
            out << "| " << code(pin.id) << " | " << cell(pin.name) << " | " << pin.datatype << " |";
            if (inputs) out << " " << (pin.required ? "yes" : "no") << " | " << (pin.driving ? "yes" : "no") << " |";
            out << " " << cell(pin.description) << " |\n";
        }
        out << "\n";
    };
    pins("Inputs", facts.inputs, true);
    pins("Outputs", facts.outputs, false);
    out << "**Parameters**";
    if (facts.parameters.empty()) {
        out << ": none.\n\n";
        return;
    }
    out << "\n\n| id | name | type | default | domain, items | attributes | description |\n"
        << "|---|---|---|---|---|---|---|\n";
    for (const auto& parameter : facts.parameters) {
        std::string choices = parameter.domain;
        if (!parameter.items.empty()) {
            choices.clear();
            for (std::size_t k = 0; k < parameter.items.size(); ++k)
                choices += (k ? ", " : "") + std::to_string(k) + " " + code(parameter.items[k]);
        } else if (parameter.layout != "-") {
            choices = parameter.domain == "-" ? parameter.layout : parameter.domain + "; " + parameter.layout;
        }
        out << "| " << code(parameter.id) << " | " << cell(parameter.name) << " | " << parameter.datatype << " | "
            << cell(parameter.value) << " | " << cell(choices) << " | " << cell(parameter.attributes) << " | "
            << cell(parameter.description) << " |\n";
    }
    out << "\n";
}

// The notes file: "## CLASS_ID" headings, each followed by its paragraphs.
std::map<std::string, std::string> read_notes(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot read the notes file \"" + path + "\"");
    std::map<std::string, std::string> notes;
    std::string line, current;
    while (std::getline(in, line)) {
        if (line.rfind("## ", 0) == 0) {
            current = line.substr(3);
            notes[current];
        } else if (!current.empty()) {
            notes[current] += line + "\n";
        }
    }
    for (auto& [id, text] : notes) {
        while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
        while (!text.empty() && text.front() == '\n') text.erase(0, 1);
    }
    return notes;
}

std::string anchor(const std::string& id) {
    std::string result;
    for (char c : id)
        if (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_') result += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return result;
}

}  // namespace

std::string domain_words(Mrv::IDomain* domain) {
    if (!domain) return "any value";
    Mrv::int32 low_state = 0, high_state = 0;
    std::string low, high;
    if (auto* ints = Mrv::interface_cast<Mrv::IIntDomain>(domain)) {
        low = std::to_string(ints->GetMinimum(&low_state));
        high = std::to_string(ints->GetMaximum(&high_state));
    } else if (auto* reals = Mrv::interface_cast<Mrv::IDoubleDomain>(domain)) {
        low = format_double(reals->GetMinimum(&low_state));
        high = format_double(reals->GetMaximum(&high_state));
    } else {
        return "an unknown domain";
    }
    if (low_state == Mrv::BoundFlagTrue && high_state == Mrv::BoundFlagTrue) return "from " + low + " to " + high;
    std::string words;
    if (low_state != Mrv::BoundAbsent) words = (low_state == Mrv::BoundFlagTrue ? "at least " : "above ") + low;
    if (high_state != Mrv::BoundAbsent)
        words += (words.empty() ? "" : " and ") + std::string(high_state == Mrv::BoundFlagTrue ? "at most " : "below ") + high;
    return words.empty() ? "any value" : words;
}

void print_library(std::ostream& out, Plugin& plugin, const std::string& path, Mrv::uint32 language) {
    PluginLibrary& library = plugin.library();
    Mrv::IDllSignature* signature = plugin.signature(language);
    out << "Library      " << path << "\n"
        << "Identifier   " << library.GetDllIdentifier() << "\n"
        << "SDK version  " << library.GetSDKVersion() << "\n"
        << "Debug build  " << (library.IsDebugBuild() ? "yes" : "no") << "\n"
        << "Languages    " << joined(static_cast<int>(library.GetDllLanguageIDCount()),
                                     [&](int i) { return std::to_string(library.GetDllLanguageID(i)); })
        << "\n\n";
    out << "Catalog " << signature->GetCatalogClassId() << " (language " << signature->GetLanguageId() << ")\n";
    print_text(out, "name", text_of(signature->GetCatalogName()));
    print_text(out, "description", text_of(signature->GetCatalogDescription()));
    out << "    bitmap       " << signature->GetCatalogBitmapId() << "\n\n";

    auto* blocks = signature->GetBlockClasses();
    out << "Block classes (" << blocks->GetCount() << "):\n";
    out << "  " << std::left << std::setw(26) << "CLASS ID" << std::setw(26) << "NAME" << "CATALOG PATH\n";
    for (int i = 0; i < blocks->GetCount(); ++i) {
        Mrv::ILibraryObjectClassInfo* block = blocks->GetItem(i);
        out << "  " << std::left << std::setw(26) << block->GetClassId() << std::setw(26) << block->GetName()
            << block->GetCatalogPath() << "\n";
    }
    out << "\n";
    for (int i = 0; i < blocks->GetCount(); ++i) {
        Mrv::ILibraryObjectClassInfo* block = blocks->GetItem(i);
        out << "  " << block->GetClassId() << "\n";
        print_class_texts(out, block);
    }
    out << "\n";
    print_records(out, "Companies", signature->GetCompanies());
    print_records(out, "Authors", signature->GetAuthors());
    print_records(out, "Licences", signature->GetLicences());
}

Mrv::ILibraryObjectClassInfo* find_block_class(Plugin& plugin, const std::string& class_id, Mrv::uint32 language) {
    auto* blocks = plugin.signature(language)->GetBlockClasses();
    std::vector<std::string> ids;
    for (Mrv::int32 i = 0; i < blocks->GetCount(); ++i) {
        if (class_id == blocks->GetItem(i)->GetClassId()) return blocks->GetItem(i);
        ids.push_back(blocks->GetItem(i)->GetClassId());
    }
    throw std::invalid_argument("no block class " + json_excerpt(class_id) + " in the library" +
                                did_you_mean(class_id, ids, "block classes"));
}

void print_block_class(std::ostream& out, Plugin& plugin, const std::string& class_id, Mrv::uint32 language,
                       bool full) {
    Mrv::ILibraryObjectClassInfo* info = find_block_class(plugin, class_id, language);
    out << "Block class " << info->GetClassId() << "\n";
    print_class_texts(out, info);
    out << "\n";

    // A real instance declares its pins and parameters.
    BlockHarness instance(info, "inspect");
    instance.init_instance();
    print_facts(out, facts_of(*instance.block(), full ? Shown::all : Shown::first));
}

const HostBlockClass& host_block_class(const std::string& class_id) {
    if (const HostBlockClass* host_class = find_host_block_class(class_id)) return *host_class;
    std::vector<std::string> ids;
    for (const auto& host_class : host_block_classes()) ids.push_back(host_class.id);
    throw std::invalid_argument("there is no host block " + json_excerpt(class_id) +
                                did_you_mean(class_id, ids, "host blocks"));
}

void print_host_block_class(std::ostream& out, const std::string& class_id, bool full) {
    const HostBlockClass& host_class = host_block_class(class_id);
    out << "Block class " << host_class.id << " (host block)\n";
    print_text(out, "description", host_class.description);
    const std::string datatypes = boost::algorithm::join(host_class.datatypes, ", ");
    print_text(out, "datatypes", datatypes + " (\"datatype\" in the patch; " + host_class.datatypes.front() +
                                     " when omitted, as shown below)");
    out << "\n";
    Ref<KernelServices> kernel = KernelServices::create();
    Ref<HostBlock> instance = create_host_block(*kernel, class_id, "", "");
    instance->InitInstance(nullptr, nullptr, nullptr);
    print_facts(out, facts_of(*instance, full ? Shown::all : Shown::first));
    instance->DoneInstance();
}

void print_host_blocks(std::ostream& out) {
    const auto& classes = host_block_classes();
    out << "Host blocks (" << classes.size() << "):\n";
    for (const auto& host_class : classes) out << "  " << host_class.id << "\n";
    for (const auto& host_class : classes) {
        out << "\n";
        print_host_block_class(out, host_class.id, false);
    }
}

void print_configured_block(std::ostream& out, const BlockNode& node, const std::string& patch_path, bool full) {
    out << "Block \"" << node.name << "\" (class " << node.class_id
        << (node.datatype.empty() ? "" : ", datatype " + node.datatype) << ") as " << patch_path
        << " configures it\n\n";
    print_facts(out, facts_of(*node.block, full ? Shown::all : Shown::first));
}

void print_markdown(std::ostream& out, Plugin& plugin, const std::string& notes_path) {
    std::map<std::string, std::string> notes = read_notes(notes_path);
    auto note = [&](const std::string& id) {
        auto found = notes.find(id);
        if (found == notes.end() || found->second.empty())
            throw std::runtime_error(notes_path + ": no note for block class \"" + id + "\"");
        std::string text = found->second;
        notes.erase(found);
        return text;
    };
    Mrv::IDllSignature* signature = plugin.signature(1033);
    auto* blocks = signature->GetBlockClasses();
    const auto& host_classes = host_block_classes();

    out << "# Block reference\n\n"
        << "<!-- Generated by `mrv-inspect --markdown` from the blocks' own declarations and the notes in\n"
        << "     docs/block-notes.md; edit those and run `cmake --build build --target block-docs`. -->\n\n"
        << "Every block of the catalog " << code(signature->GetCatalogClassId()) << " (\""
        << text_of(signature->GetCatalogName()) << "\") and every block of the host, as a new instance declares "
        << "it. In a patch, `class` is the class id; parameters are set by id (combo items by index or by "
        << "label); links name `block.pin`. Inputs that drive execution make the block run when a new value "
        << "arrives on them. A parameter that \"may not change while running\" is refused by events during a "
        << "run. `mrv-inspect PATCH.json BLOCK` shows a block as a patch configures it, with the pins its "
        << "parameters add.\n\n";
    out << "| class id | name | what it does |\n|---|---|---|\n";
    std::vector<std::pair<std::string, std::string>> summaries;
    for (Mrv::int32 i = 0; i < blocks->GetCount(); ++i) {
        Mrv::ILibraryObjectClassInfo* info = blocks->GetItem(i);
        const std::string text = notes.count(info->GetClassId()) ? notes[info->GetClassId()] : "";
        out << "| [" << code(info->GetClassId()) << "](#" << anchor(info->GetClassId()) << ") | "
            << cell(text_of(info->GetName())) << " | " << cell(text.substr(0, text.find('\n'))) << " |\n";
    }
    for (const auto& host_class : host_classes) {
        const std::string text = notes.count(host_class.id) ? notes[host_class.id] : "";
        out << "| [" << code(host_class.id) << "](#" << anchor(host_class.id) << ") | (host block) | "
            << cell(text.substr(0, text.find('\n'))) << " |\n";
    }
    out << "\n## Catalog blocks\n\n";
    for (Mrv::int32 i = 0; i < blocks->GetCount(); ++i) {
        Mrv::ILibraryObjectClassInfo* info = blocks->GetItem(i);
        const std::string id = info->GetClassId();
        out << "### " << id << "\n\n"
            << "Class id " << code(id) << ", name \"" << text_of(info->GetName()) << "\", catalog path "
            << code(text_of(info->GetCatalogPath())) << ".\n\n"
            << "> " << cell(text_of(info->GetDescription())) << "\n\n"
            << note(id) << "\n\n";
        BlockHarness instance(info, "inspect");
        instance.init_instance();
        markdown_facts(out, facts_of(*instance.block(), Shown::shape));
    }
    out << "## Host blocks\n\n";
    for (const auto& host_class : host_classes) {
        out << "### " << host_class.id << "\n\n"
            << "Class id " << code(host_class.id) << "; `datatype` "
            << boost::algorithm::join(host_class.datatypes, ", ") << " (" << host_class.datatypes.front()
            << " when omitted; the tables show it).\n\n"
            << "> " << cell(host_class.description) << "\n\n"
            << note(host_class.id) << "\n\n";
        Ref<KernelServices> kernel = KernelServices::create();
        Ref<HostBlock> instance = create_host_block(*kernel, host_class.id, "", "");
        instance->InitInstance(nullptr, nullptr, nullptr);
        markdown_facts(out, facts_of(*instance, Shown::shape));
        instance->DoneInstance();
    }
    if (!notes.empty())
        throw std::runtime_error(notes_path + ": a note for \"" + notes.begin()->first + "\", which is no block class");
}

}  // namespace mrvhost
