// mrv-inspect: prints what a Morvane user library offers, read from its
// exports and signature alone. With a class id, prints that block's pins
// and parameters as a real instance declares them; the host's own blocks
// (host.*) are described the same way.
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "host/harness.h"
#include "host/host_block.h"
#include "host/inspect.h"
#include "host/patch.h"

namespace {

const char* const usage =
    "usage: mrv-inspect [--lang ID] [--full] LIBRARY [CLASS_ID]\n"
    "       mrv-inspect [--full] [LIBRARY] HOST_CLASS_ID\n"
    "       mrv-inspect [--full] PATCH.json BLOCK\n"
    "       mrv-inspect --host\n"
    "       mrv-inspect --markdown LIBRARY NOTES.md\n"
    "  LIBRARY        path of the user library (libMrvML.so)\n"
    "  CLASS_ID       a block class to describe in full\n"
    "  HOST_CLASS_ID  one of the host's own blocks (host.csv_source, ...)\n"
    "  PATCH.json     a patch file: describe its block BLOCK as configured there, with its run-time pins\n"
    "  --host         describe every host block\n"
    "  --markdown     print the block reference (every catalog and host block) with the notes of NOTES.md\n"
    "  --full         print every value of large matrices\n"
    "  --lang ID      language of the texts (1033 English, 1040 Italian); default 1033\n";

bool ends_with(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> positional;
    Mrv::uint32 language = 1033;
    bool host = false, full = false, markdown = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            std::cout << usage;
            return 0;
        }
        if (argument == "--lang") {
            if (i + 1 >= argc) {
                std::cerr << "mrv-inspect: --lang needs a language id\n" << usage;
                return 2;
            }
            char* end = nullptr;
            language = static_cast<Mrv::uint32>(std::strtoul(argv[++i], &end, 10));
            if (*end != '\0' || language == 0 || language > 0xFFFF) {
                std::cerr << "mrv-inspect: bad language id '" << argv[i] << "'\n";
                return 2;
            }
            continue;
        }
        if (argument == "--host" || argument == "--full" || argument == "--markdown") {
            (argument == "--host" ? host : argument == "--full" ? full : markdown) = true;
            continue;
        }
        if (!argument.empty() && argument[0] == '-') {
            std::cerr << "mrv-inspect: unknown option '" << argument << "'\n" << usage;
            return 2;
        }
        positional.push_back(argument);
    }
    const bool bad = host       ? !positional.empty()
                     : markdown ? positional.size() != 2
                                : positional.empty() || positional.size() > 2;
    if (bad) {
        std::cerr << usage;
        return 2;
    }
    try {
        if (host) {
            mrvhost::print_host_blocks(std::cout);
            return 0;
        }
        if (markdown) {
            mrvhost::Plugin plugin(positional[0]);
            mrvhost::print_markdown(std::cout, plugin, positional[1]);
            return 0;
        }
        if (ends_with(positional[0], ".json")) {
            if (positional.size() != 2) {
                std::cerr << "mrv-inspect: name the block of " << positional[0] << " to describe\n";
                return 2;
            }
            mrvhost::RunSettings run;
            auto patch = mrvhost::load_patch(positional[0], mrvhost::Plugin::default_path(), &run);
            mrvhost::print_configured_block(std::cout, patch->node(positional[1]), positional[0], full);
            return 0;
        }
        // host.* names a host block, whether or not there is one of that name.
        if (positional.back().rfind("host.", 0) == 0) {
            // A library named beside a host block must still be one.
            if (positional.size() == 2) mrvhost::Plugin plugin(positional[0]);
            mrvhost::print_host_block_class(std::cout, positional.back(), full);
            return 0;
        }
        mrvhost::Plugin plugin(positional[0]);
        if (positional.size() == 1) {
            mrvhost::print_library(std::cout, plugin, positional[0], language);
        } else {
            mrvhost::print_block_class(std::cout, plugin, positional[1], language, full);
        }
    } catch (const Mrv::IException& error) {
        std::cerr << "mrv-inspect: " << error.GetDescription();
        return 1;
    } catch (const std::exception& error) {
        std::cerr << "mrv-inspect: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
