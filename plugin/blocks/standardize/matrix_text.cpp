#include "blocks/standardize/matrix_text.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <locale>

#include <boost/algorithm/string/classification.hpp>
#include <boost/algorithm/string/predicate.hpp>
#include <boost/lexical_cast.hpp>
#include <boost/tokenizer.hpp>

#include "framework/exceptions.h"

namespace Mrv {
namespace {

const char* const utf32_be_message = "UTF-32 (BE) encoded files are not supported";
const char* const utf32_le_message = "UTF-32 (LE) encoded files are not supported";
const char* const utf16_le_message = "UTF-16 (LE) encoded files are not supported";
const char* const utf16_be_message = "UTF-16 (BE) encoded files are not supported";
const char* const utf7_message = "UTF-7 encoded files are not supported";
const char* const utf1_message = "UTF-1 encoded files are not supported";
const char* const utf_ebcdic_message = "UTF-EBDIC encoded files are not supported";
const char* const scsu_message = "SCSU encoded files are not supported";
const char* const bocu1_message = "BOCU-1 encoded files are not supported";
const char* const column_count_message = "The matrix has %d colums but the matrix parser has extracted %d columns";

struct byte_order_mark {
    const char* bytes;
    std::size_t length;
    const char* refusal;  // null: UTF-8, skipped
};

// Compared from the top; the first match decides. FF FE 00 00 comes before
// the bare FF FE it starts with.
const byte_order_mark byte_order_marks[] = {
    {"\xEF\xBB\xBF", 3, nullptr},
    {"\x00\x00\xFE\xFF", 4, utf32_be_message},
    {"\xFF\xFE\x00\x00", 4, utf32_le_message},
    {"\xFF\xFE", 2, utf16_le_message},
    {"\xFE\xFF", 2, utf16_be_message},
    {"\x2B\x2F\x76\x38", 4, utf7_message},
    {"\x2B\x2F\x76\x39", 4, utf7_message},
    {"\x2B\x2F\x76\x2B", 4, utf7_message},
    {"\x2B\x2F\x76\x2F", 4, utf7_message},
    {"\xF7\x64\x4C", 3, utf1_message},
    {"\xDD\x73\x66\x73", 4, utf_ebcdic_message},
    {"\x0E\xFE\xFF", 3, scsu_message},
    {"\xFB\xEE\x28", 3, bocu1_message},
};

// Which bytes may appear in a data line: digits, punctuation, whitespace
// and control characters of the classic C locale, plus the letters that a
// size header (before the first data line) or an exponent may hold. Built
// once with Boost's classification predicates so that each line costs one
// table look-up per byte.
using byte_table = std::array<bool, 256>;

byte_table allowed_bytes(const char* letters) {
    const std::locale& classic = std::locale::classic();
    const auto number_text = boost::algorithm::is_digit(classic) || boost::algorithm::is_punct(classic) ||
                             boost::algorithm::is_space(classic) || boost::algorithm::is_cntrl(classic) ||
                             boost::algorithm::is_any_of(letters);
    byte_table table{};
    for (int byte = 0; byte < 256; ++byte) table[byte] = number_text(static_cast<char>(byte));
    return table;
}

const byte_table& before_first_row() {
    static const byte_table table = allowed_bytes("xXeE");
    return table;
}
const byte_table& after_first_row() {
    static const byte_table table = allowed_bytes("eE");
    return table;
}

// Empty lines, comments and lines of titles or other text.
bool skipped(const std::string& line, const byte_table& allowed) {
    if (line.empty()) return true;
    if (boost::algorithm::starts_with(line, "//") || line[0] == '#' || line[0] == ';') return true;
    return !std::all_of(line.begin(), line.end(),
                        [&](char byte) { return allowed[static_cast<unsigned char>(byte)]; });
}

// Fields are only counted, so a token records nothing.
struct uncounted_field {
    template <class Iterator>
    void assign(Iterator, Iterator) {}
};
using field_tokenizer =
    boost::tokenizer<boost::char_separator<char>, std::string::const_iterator, uncounted_field>;

std::int32_t count_fields(const std::string& line) {
    static const boost::char_separator<char> blanks_and_tabs(" \t");
    const field_tokenizer fields(line, blanks_and_tabs);
    std::int32_t count = 0;
    for (auto field = fields.begin(); field != fields.end(); ++field) ++count;
    return count;
}

// An optional sign and digits, nothing else. Checked before the conversion
// because lexical_cast would accept the thousands separators of a user's
// locale.
std::int32_t whole_number(const std::string& part) {
    const std::size_t first = !part.empty() && (part[0] == '+' || part[0] == '-') ? 1 : 0;
    const bool digits_only = part.size() > first && std::all_of(part.begin() + first, part.end(), [](char byte) {
                                 return byte >= '0' && byte <= '9';
                             });
    if (!digits_only) throw boost::bad_lexical_cast(typeid(std::string), typeid(std::int32_t));
    return boost::lexical_cast<std::int32_t>(part);
}

// Reads one line without its line end; false when the stream delivers none.
bool next_line(std::istream& stream, std::string& line) {
    if (!std::getline(stream, line)) return false;
    // A carriage return before the line feed belongs to the line end; at
    // the end of the file there is no line feed and it stays.
    if (!stream.eof() && !line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

// Skips a UTF-8 mark, raises for the marks of other encodings. False when
// the stream is shorter than a mark can be: such a file holds no lines.
bool pass_byte_order_mark(std::istream& stream) {
    char first[4] = {};
    stream.read(first, sizeof first);
    const std::size_t length = static_cast<std::size_t>(stream.gcount());
    std::size_t skip = 0;
    for (const byte_order_mark& mark : byte_order_marks) {
        if (mark.length > length || std::memcmp(first, mark.bytes, mark.length) != 0) continue;
        if (mark.refusal) throw CLogicExceptionImpl(mark.refusal);
        skip = mark.length;
        break;
    }
    if (length < sizeof first) return false;
    stream.clear();
    stream.seekg(static_cast<std::streamoff>(skip), std::ios_base::beg);
    return static_cast<bool>(stream);
}

void add_row(const std::string& line, std::int32_t& columns, std::int32_t& counted, std::string& text) {
    const std::int32_t fields = count_fields(line);
    if (fields == 0) return;
    if (columns == 0) {
        columns = fields;
    } else if (fields != columns) {
        char message[160];
        std::snprintf(message, sizeof message, column_count_message, columns, fields);
        throw CLogicExceptionImpl(message);
    }
    text.append(line).push_back('\n');
    ++counted;
}

}  // namespace

void ReadMatrixText(std::istream& stream, std::int32_t& rows, std::int32_t& columns, std::string& text) {
    rows = 0;
    columns = 0;
    text.clear();
    if (!pass_byte_order_mark(stream)) return;

    std::string line;
    bool found = false;
    while (!found && next_line(stream, line)) found = !skipped(line, before_first_row());
    if (!found) return;

    std::int32_t counted = 0;
    const std::size_t x = line.find('x');
    if (x != std::string::npos) {
        rows = whole_number(line.substr(0, x));
        columns = whole_number(line.substr(x + 1));
    } else {
        add_row(line, columns, counted, text);
    }
    while (next_line(stream, line))
        if (!skipped(line, after_first_row())) add_row(line, columns, counted, text);

    if (rows == 0) rows = counted;
    else if (rows != counted) throw CLogicExceptionImpl();  // its default message
}

}  // namespace Mrv
