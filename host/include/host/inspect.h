// What mrv-inspect prints, as functions the tests can call too.
#pragma once

#include <ostream>
#include <string>

#include "host/harness.h"

namespace mrvhost {

void print_library(std::ostream& out, Plugin& plugin, const std::string& path, Mrv::uint32 language);
// Throws std::invalid_argument for an unknown class id.
void print_block_class(std::ostream& out, Plugin& plugin, const std::string& class_id, Mrv::uint32 language);
// The host's own blocks, described from an instance as catalog blocks are;
// throws std::invalid_argument for an id that is not a host block class.
void print_host_block_class(std::ostream& out, const std::string& class_id);
void print_host_blocks(std::ostream& out);

}  // namespace mrvhost
