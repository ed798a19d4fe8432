// Reads a matrix written as text, one row per line, for the host's matrix
// datatype to parse: byte-order marks, comment and title lines, an
// optional "ROWSxCOLUMNS" size header and the column count of every row
// are checked here; the numbers themselves are not converted.
#pragma once

#include <cstdint>
#include <istream>
#include <string>

namespace Mrv {

// Fills `rows`, `columns` (both 0 when the stream holds no data line) and
// `text` (the accepted data lines, each ended by one line feed). Raises
// CLogicExceptionImpl for an unsupported encoding, a row of another column
// count and a row count that contradicts the header, and the conversion
// error of boost::lexical_cast (a std::exception) for a header that is not
// two whole numbers. Bytes are classified in the classic C locale whatever
// the process's locale is. A stream shorter than four bytes holds no rows;
// its first bytes are still compared with the byte-order marks, so that a
// lone UTF-16 mark is reported as such rather than as an empty file.
void ReadMatrixText(std::istream& stream, std::int32_t& rows, std::int32_t& columns, std::string& text);

}  // namespace Mrv
