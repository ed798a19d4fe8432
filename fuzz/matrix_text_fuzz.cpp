// libFuzzer target for the matrix text-file reader: any bytes either raise
// one of the reader's exceptions or give a result the blocks can trust.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include <boost/tokenizer.hpp>

#include "blocks/standardize/matrix_text.h"
#include "framework/exceptions.h"

namespace {

std::int32_t fields_of(const std::string& line) {
    const boost::tokenizer<boost::char_separator<char>> fields(line, boost::char_separator<char>(" \t"));
    std::int32_t count = 0;
    for (auto field = fields.begin(); field != fields.end(); ++field) ++count;
    return count;
}

// What the blocks rely on after a call that did not raise: one text line
// per row, each with the column count.
void check(std::int32_t rows, std::int32_t columns, const std::string& text) {
    if (rows < 0) __builtin_trap();
    std::istringstream lines(text);
    std::int32_t counted = 0;
    for (std::string line; std::getline(lines, line); ++counted)
        if (fields_of(line) != columns) __builtin_trap();
    if (counted != rows) __builtin_trap();
    if (!text.empty() && text.back() != '\n') __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::istringstream stream(std::string(reinterpret_cast<const char*>(data), size));
    std::int32_t rows = -1, columns = -1;
    std::string text = "stale";
    try {
        Mrv::ReadMatrixText(stream, rows, columns, text);
    } catch (const Mrv::IException&) {
        return 0;
    } catch (const std::exception&) {
        return 0;
    }
    check(rows, columns, text);
    return 0;
}
