#include "resources/string_table.h"

namespace Mrv {
namespace resources {
namespace {

// Constant-initialised, so entries of every translation unit can join in
// any order while the library loads; nothing to release at unload.
const string_entry* last_entry = nullptr;

}  // namespace

string_entry::string_entry(std::uint16_t entry_id, const char* entry_text)
    : id(entry_id), text(entry_text), next(last_entry) {
    last_entry = this;
}

const string_entry* string_table() { return last_entry; }

}  // namespace resources
}  // namespace Mrv
