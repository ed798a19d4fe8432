// libFuzzer target for what an OSC source makes of a datagram: any bytes
// are either values of the source's shape and class or a counted rejection.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "host/osc.h"

namespace {

struct Source {
    const char* datatype;
    int width;
};
const Source sources[] = {{"double-matrix", 3}, {"double", 1}, {"int", 1}, {"bool", 1}};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static std::vector<std::unique_ptr<mrvhost::OscIntake>> intakes = [] {
        std::vector<std::unique_ptr<mrvhost::OscIntake>> made;
        for (const auto& source : sources)
            made.push_back(std::make_unique<mrvhost::OscIntake>("/mrv/input", source.datatype, source.width));
        return made;
    }();
    for (std::size_t s = 0; s < intakes.size(); ++s) {
        std::vector<char> datagram(data, data + size);  // liblo may rewrite it
        long before = 0, after = 0;
        for (int kind = 0; kind < mrvhost::OscIntake::kinds; ++kind)
            before += intakes[s]->count(static_cast<mrvhost::OscIntake::Kind>(kind));
        std::vector<std::vector<double>> values;
        intakes[s]->take(datagram.data(), datagram.size(), values);
        for (int kind = 0; kind < mrvhost::OscIntake::kinds; ++kind)
            after += intakes[s]->count(static_cast<mrvhost::OscIntake::Kind>(kind));
        if (values.empty() && after == before && size > 0) {
            // A valid bundle may be empty; anything else is taken or counted.
            if (size < 8 || std::memcmp(data, "#bundle", 8) != 0) __builtin_trap();
        }
        for (const auto& value : values) {
            if (value.size() != static_cast<std::size_t>(sources[s].width)) __builtin_trap();
            const std::string type = sources[s].datatype;
            if (type == "int" && value[0] != std::trunc(value[0])) __builtin_trap();
            if (type == "bool" && std::isnan(value[0])) __builtin_trap();
        }
    }
    return 0;
}
