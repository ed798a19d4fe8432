// Printing a library's signature and a block's declarations; no per-block
// code: everything comes from the signature and the instance's metadata.
#include "host/inspect.h"

#include <iomanip>

#include <boost/algorithm/string/join.hpp>

#include "host/datatypes.h"
#include "host/host_block.h"
#include "host/signature.h"

namespace mrvhost {
namespace {

std::string quoted(const char* text) { return std::string("\"") + (text ? text : "") + "\""; }

// Multi-line texts are indented under their label.
void print_text(std::ostream& out, const char* label, const char* text) {
    out << "    " << std::left << std::setw(13) << label;
    std::string value = text ? text : "";
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
        print_text(out, "name", record->GetName());
        print_text(out, "description", record->GetDescription());
    }
}

std::string bound_text(Mrv::int32 state, const std::string& value) {
    switch (state) {
    case Mrv::BoundFlagTrue: return value + " (flag true)";
    case Mrv::BoundFlagFalse: return value + " (flag false)";
    default: return "none";
    }
}

std::string domain_text(Mrv::IDomain* domain) {
    if (!domain) return "-";
    Mrv::int32 low_state = 0, high_state = 0;
    if (auto* ints = Mrv::interface_cast<Mrv::IIntDomain>(domain)) {
        const auto low = ints->GetMinimum(&low_state), high = ints->GetMaximum(&high_state);
        return "int-domain, minimum " + bound_text(low_state, std::to_string(low)) + ", maximum " +
               bound_text(high_state, std::to_string(high));
    }
    if (auto* reals = Mrv::interface_cast<Mrv::IDoubleDomain>(domain)) {
        const auto low = reals->GetMinimum(&low_state), high = reals->GetMaximum(&high_state);
        return "double-domain, minimum " + bound_text(low_state, format_double(low)) + ", maximum " +
               bound_text(high_state, format_double(high));
    }
    return "unknown domain";
}

std::string layout_text(Mrv::IDatatypeLayout* layout) {
    if (!layout) return "-";
    if (auto* combo = Mrv::interface_cast<Mrv::IComboDatatypeLayout>(layout))
        return "combo: " + joined(combo->GetItemCount(), [&](int i) { return std::to_string(i) + "=" + quoted(combo->GetItem(i)); });
    if (auto* file = Mrv::interface_cast<Mrv::IFilenameDatatypeLayout>(layout))
        return "filename: " + quoted(file->GetFilter());
    if (auto* folder = Mrv::interface_cast<Mrv::IFoldernameDatatypeLayout>(layout))
        return std::string("foldername: option ") + (folder->GetOption() ? "on" : "off");
    if (auto* selector = Mrv::interface_cast<Mrv::IDatatypeSelectorComboLayout>(layout))
        return "datatype selector: " + joined(selector->GetPairCount(), [&](int i) {
                   return quoted(selector->GetFirst(i)) + "/" + quoted(selector->GetSecond(i));
               });
    return layout->GetClassId();
}

void print_pins(std::ostream& out, const char* title, Mrv::IPinCollection* pins, bool inputs) {
    out << "  " << title << " (" << pins->GetCount() << "):\n";
    for (int i = 0; i < pins->GetCount(); ++i) {
        Mrv::IPin* pin = pins->GetItem(i);
        out << "    " << pin->GetId() << "  " << pin->GetDatatypeCatalogId() << "/" << pin->GetDatatypeClassId();
        if (inputs) out << (pin->IsRequired() ? "  required" : "  optional");
        out << "\n      " << quoted(pin->GetName()) << " - " << pin->GetDescription() << "\n";
    }
}

void print_class_texts(std::ostream& out, Mrv::ILibraryObjectClassInfo* block) {
    print_text(out, "name", block->GetName());
    print_text(out, "description", block->GetDescription());
    print_text(out, "catalog path", block->GetCatalogPath());
    print_text(out, "bitmap", std::to_string(block->GetBitmapId()).c_str());
    print_text(out, "authors", joined(block->GetAuthorCount(), [&](int k) { return block->GetAuthor(k); }).c_str());
    print_text(out, "companies", joined(block->GetCompanyCount(), [&](int k) { return block->GetCompany(k); }).c_str());
    print_text(out, "licences", joined(block->GetLicenceCount(), [&](int k) { return block->GetLicence(k); }).c_str());
}

// What an instance declares: its pins and parameters, read from its
// signature and layout alone.
void print_declarations(std::ostream& out, Mrv::IBlock& block) {
    Mrv::ISignature* signature = block.GetSignature();
    print_pins(out, "Inputs", signature->GetInputs(), true);
    print_pins(out, "Outputs", signature->GetOutputs(), false);
    Mrv::IParameterCollection* parameters = signature->GetParameters();
    out << "  Parameters (" << parameters->GetCount() << "):\n";
    for (int i = 0; i < parameters->GetCount(); ++i) {
        Mrv::IParameter* parameter = parameters->GetItem(i);
        out << "    " << parameter->GetId() << "  " << parameter->GetDatatypeCatalogId() << "/"
            << parameter->GetDatatypeClassId() << "\n";
        out << "      " << quoted(parameter->GetName()) << " - " << parameter->GetDescription() << "\n";
        out << "      default     " << value_to_text(*parameter->GetValue()) << "\n";
        out << "      domain      " << domain_text(parameter->GetDomain()) << "\n";
        out << "      layout      " << layout_text(block.GetLayout()->GetLayout(parameter->GetId())) << "\n";
        out << "      attributes  ";
        for (int attribute = Mrv::AttrVisible; attribute <= Mrv::AttrRunStructural; ++attribute)
            out << attribute << "=" << (parameter->GetAttribute(attribute) ? "yes" : "no") << " ";
        out << "value=" << parameter->GetIntAttribute() << "\n";
    }
}

}  // namespace

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
    print_text(out, "name", signature->GetCatalogName());
    print_text(out, "description", signature->GetCatalogDescription());
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

void print_block_class(std::ostream& out, Plugin& plugin, const std::string& class_id, Mrv::uint32 language) {
    Mrv::ILibraryObjectClassInfo* info = plugin.find_class(class_id, language);
    out << "Block class " << info->GetClassId() << "\n";
    print_class_texts(out, info);
    out << "\n";

    // A real instance declares its pins and parameters.
    BlockHarness instance(info, "inspect");
    instance.init_instance();
    print_declarations(out, *instance.block());
}

void print_host_block_class(std::ostream& out, const std::string& class_id) {
    const HostBlockClass* host_class = find_host_block_class(class_id);
    if (!host_class) throw std::invalid_argument("no host block class \"" + class_id + "\"");
    out << "Block class " << host_class->id << " (host block)\n";
    print_text(out, "description", host_class->description.c_str());
    const std::string datatypes = boost::algorithm::join(host_class->datatypes, ", ");
    print_text(out, "datatypes", (datatypes + " (\"datatype\" in the patch; " + host_class->datatypes.front() +
                                  " when omitted, as shown below)").c_str());
    out << "\n";
    Ref<KernelServices> kernel = KernelServices::create();
    Ref<HostBlock> instance = create_host_block(*kernel, class_id, "", "");
    instance->InitInstance(nullptr, nullptr, nullptr);
    print_declarations(out, *instance);
    instance->DoneInstance();
}

void print_host_blocks(std::ostream& out) {
    const auto& classes = host_block_classes();
    out << "Host blocks (" << classes.size() << "):\n";
    for (const auto& host_class : classes) out << "  " << host_class.id << "\n";
    for (const auto& host_class : classes) {
        out << "\n";
        print_host_block_class(out, host_class.id);
    }
}

}  // namespace mrvhost
