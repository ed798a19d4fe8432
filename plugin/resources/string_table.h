// The library's string table: English texts by resource id, ascending.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Mrv {
namespace resources {

struct StringEntry {
    std::uint16_t id;
    const char* text;
};

extern const StringEntry string_table[];
extern const std::size_t string_table_size;

// Language the table's texts are in.
constexpr std::uint16_t string_table_language = 1033;

}  // namespace resources
}  // namespace Mrv
