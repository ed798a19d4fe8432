// What mrv-inspect prints, as functions the tests can call too.
#pragma once

#include <ostream>
#include <string>

#include "host/harness.h"
#include "host/patch.h"

namespace mrvhost {

// A domain in words: "from 1 to 100", "at least 1", "above 0 and at most 1".
std::string domain_words(Mrv::IDomain* domain);

// Values are shown on one line; `full` prints large matrices whole rather
// than by shape and first values.
void print_library(std::ostream& out, Plugin& plugin, const std::string& path, Mrv::uint32 language);
// Throws std::invalid_argument for an unknown class id, naming near ones.
Mrv::ILibraryObjectClassInfo* find_block_class(Plugin& plugin, const std::string& class_id, Mrv::uint32 language);
void print_block_class(std::ostream& out, Plugin& plugin, const std::string& class_id, Mrv::uint32 language,
                       bool full = false);
// The host's own blocks, described from an instance as catalog blocks are;
// throws std::invalid_argument for an id that is not a host block class.
void print_host_block_class(std::ostream& out, const std::string& class_id, bool full = false);
void print_host_blocks(std::ostream& out);
// A block as a loaded patch configured it, with the pins its parameters add.
void print_configured_block(std::ostream& out, const BlockNode& node, const std::string& patch_path, bool full);
// The block reference (Markdown): every catalog and host block, each with
// its note from `notes_path` ("## CLASS_ID" headings; every block needs one).
void print_markdown(std::ostream& out, Plugin& plugin, const std::string& notes_path);

}  // namespace mrvhost
