#include "framework/platform/resources.h"

#include <array>
#include <map>

#include "resources/string_table.h"

namespace Mrv {
namespace platform {
namespace {

using string_block = std::array<const char*, 16>;

const std::map<unsigned, string_block>& string_blocks() {
    static const std::map<unsigned, string_block> blocks = [] {
        std::map<unsigned, string_block> built;
        for (const resources::string_entry* entry = resources::string_table(); entry; entry = entry->next) {
            auto& block = built[entry->id / 16u + 1u];  // value-initialised: all null
            block[entry->id % 16u] = entry->text;
        }
        return built;
    }();
    return blocks;
}

}  // namespace

std::string load_string(module_handle, std::uint16_t id, std::uint16_t) {
    // The library carries a single (English) table; every language gets it.
    const auto& blocks = string_blocks();
    const auto found = blocks.find(id / 16u + 1u);
    if (found == blocks.end()) return std::string();
    const char* text = found->second[id % 16u];
    return text ? std::string(text) : std::string();
}

}  // namespace platform
}  // namespace Mrv
