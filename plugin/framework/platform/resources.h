// The module's string table, looked up as Windows lays string resources
// out: in blocks of sixteen, block id / 16 + 1, entry id mod 16.
#pragma once

#include <cstdint>
#include <string>

#include "framework/platform/module.h"

namespace Mrv {
namespace platform {

// The text of string resource `id` in `language` (falling back to the
// table's own language); empty when the id has no text.
std::string load_string(module_handle module, std::uint16_t id, std::uint16_t language);

}  // namespace platform
}  // namespace Mrv
