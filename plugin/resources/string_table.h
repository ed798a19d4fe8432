// The library's string table: English texts by resource id. Each block
// names the entries it uses beside its declaration table; an entry joins
// the table when the library is loaded.
#pragma once

#include <cstdint>

namespace Mrv {
namespace resources {

class string_entry {
public:
    string_entry(std::uint16_t id, const char* text);
    string_entry(const string_entry&) = delete;
    string_entry& operator=(const string_entry&) = delete;

    const std::uint16_t id;
    const char* const text;
    // The entry that joined the table before this one; null for the first.
    const string_entry* const next;
};

// The entry that joined the table last; the others follow through next.
const string_entry* string_table();

// Language the table's texts are in.
constexpr std::uint16_t string_table_language = 1033;

}  // namespace resources
}  // namespace Mrv
