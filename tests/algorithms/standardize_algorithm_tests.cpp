// The Standardize blocks' algorithms, linked directly: the statistics and
// rounding against hand-computed values; the matrix text-file reader on
// the files users write by hand or export from other programs, and the
// ones it must refuse.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <locale>
#include <sstream>
#include <vector>

#include "blocks/standardize/matrix_text.h"
#include "blocks/standardize/statistics.h"
#include "framework/exceptions.h"

namespace {

using namespace Mrv::standardize;

TEST(StandardizeStatistics, ColumnMeansAndSampleVariances) {
    // Columns 1, 2, 3 (mean 2, variance 1) and 10, 10, 16 (mean 12, variance 12).
    const std::vector<double> training{1, 10, 2, 10, 3, 16};
    std::vector<double> means(2, -1.0), variances(2, -1.0);
    column_statistics(training.data(), 3, 2, means.data(), variances.data());
    EXPECT_EQ(means, (std::vector<double>{2, 12}));
    EXPECT_EQ(variances, (std::vector<double>{1, 12}));

    // One row divides 0 by 0, no rows gives means of 0/0: not a number.
    column_statistics(training.data(), 1, 2, means.data(), variances.data());
    EXPECT_EQ(means[1], 10.0);
    EXPECT_TRUE(std::isnan(variances[0]));
    column_statistics(training.data(), 0, 2, means.data(), variances.data());
    EXPECT_TRUE(std::isnan(means[0]));
}

TEST(StandardizeStatistics, ColumnDigitsAreTheLargestOfEachColumn) {
    const std::vector<std::int32_t> digits{1, 5, 3, 2, 2, 4};
    std::vector<std::int32_t> maxima(2, 0);
    column_maxima(digits.data(), 3, 2, maxima.data());
    EXPECT_EQ(maxima, (std::vector<std::int32_t>{3, 5}));
    column_maxima(digits.data(), 0, 2, maxima.data());
    EXPECT_EQ(maxima, (std::vector<std::int32_t>{3, 5}));
}

TEST(StandardizeStatistics, ZScoreAgainstTheTrainingSetAugmentedByTheInput) {
    // Training column 1, 2, 3: n = 3, mean 2, sample variance 1.
    EXPECT_EQ(z_score(2, 3, 2, 1), 0.0);
    // Input 6: augmented mean 3, variance 14/3 (that of 1, 2, 3, 6 over n).
    EXPECT_DOUBLE_EQ(z_score(6, 3, 2, 1), 3 / std::sqrt(14.0 / 3.0));
    // Input -2: augmented mean 1, variance ((-4) * (-3) + 2) / 3, the mirror image.
    EXPECT_DOUBLE_EQ(z_score(-2, 3, 2, 1), -3 / std::sqrt(14.0 / 3.0));
    // A constant column equal to the input: no spread, 0.0 rather than 0/0.
    EXPECT_EQ(z_score(5, 4, 5, 0), 0.0);
    EXPECT_EQ(rounded_z_score(5, 4, 5, 0, 3), 0.0);
    // One training row: the variance is not a number, and so is the result.
    EXPECT_TRUE(std::isnan(z_score(4, 1, 3, std::nan(""))));
    EXPECT_TRUE(std::isnan(rounded_z_score(4, 1, 3, std::nan(""), 2)));
}

TEST(StandardizeStatistics, RoundingToSignificantDigits) {
    const struct {
        double value;
        int digits;
        double rounded;
    } cases[] = {
        {123.456, 2, 120.0}, {-0.0123456, 3, -123 * 0.0001}, {0.0, -2, 0.0}, {0.0, 0, 0.0}, {0.0, 1, 0.0}, {0.0, 7, 0.0},
        // Halves go away from zero, on both sides.
        {2.5, 1, 3.0}, {-2.5, 1, -3.0}, {1234.5, 4, 1235.0}, {-1234.5, 4, -1235.0}, {-2.4, 1, -2.0},
        {99.96, 3, 100.0}, {7.0, 0, 10.0},  // rounding up can add a digit
    };
    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ(round_significant(c.value, c.digits), c.rounded) << c.value << " to " << c.digits << " digits";
    EXPECT_TRUE(std::isnan(round_significant(std::nan(""), 3)));
}

TEST(StandardizeStatistics, RoundedZScoreRoundsMeanDeviationAndResult) {
    // Training 1, 2, 3 and input 6: mean 3, deviation sqrt(14/3) = 2.1602...
    // 3 digits: 3 / 2.16 = 1.3888... -> 1.39.
    EXPECT_DOUBLE_EQ(rounded_z_score(6, 3, 2, 1, 3), 1.39);
    // 2 digits: 3 / 2.2 = 1.3636... -> 1.4.
    EXPECT_DOUBLE_EQ(rounded_z_score(6, 3, 2, 1, 2), 1.4);

    // A row takes the larger of the feature's and the column's digits.
    const double features[] = {6, 6};
    const double means[] = {2, 2}, variances[] = {1, 1};
    const std::int32_t feature_digits[] = {1, 2}, column_digits[] = {3, 1};
    double out[2];
    standardize_row(features, 2, 3, means, variances, feature_digits, column_digits, out);
    EXPECT_DOUBLE_EQ(out[0], 1.39);
    EXPECT_DOUBLE_EQ(out[1], 1.4);
    standardize_row(features, 2, 3, means, variances, nullptr, column_digits, out);
    EXPECT_DOUBLE_EQ(out[1], 3 / std::sqrt(14.0 / 3.0));
}

struct Read {
    std::int32_t rows = -1, columns = -1;
    std::string text = "stale";
    std::string error;  // the exception's message, empty when none
    bool std_error = false;
};

Read read_stream(std::istream& stream) {
    Read result;
    try {
        Mrv::ReadMatrixText(stream, result.rows, result.columns, result.text);
    } catch (const Mrv::IException& error) {
        result.error = error.GetDescription();
    } catch (const std::exception& error) {
        result.error = error.what();
        result.std_error = true;
    }
    return result;
}

Read read(const std::string& bytes) {
    std::istringstream stream(bytes);
    return read_stream(stream);
}

struct Accepted {
    const char* what;
    std::string bytes;
    std::int32_t rows, columns;
    std::string text;
};

TEST(MatrixText, AcceptsWhatUsersWrite) {
    const std::string three_rows = "1 2\n3 4\n5 6\n";
    const Accepted cases[] = {
        {"size header", "3x2\n1 2\n3 4\n5 6\n", 3, 2, three_rows},
        {"no header", three_rows, 3, 2, three_rows},
        {"UTF-8 mark", "\xEF\xBB\xBF" "3x2\n1 2\n3 4\n5 6\n", 3, 2, three_rows},
        {"CRLF line ends", "3x2\r\n1 2\r\n3 4\r\n5 6\r\n", 3, 2, three_rows},
        {"last line without its line feed keeps its carriage return", "1 2\r\n3 4\r", 2, 2, "1 2\n3 4\r\n"},
        {"comments anywhere", "// made by hand\n# x\n; y\n1 2\n# between\n3 4\n;\n5 6\n", 3, 2, three_rows},
        {"comment marks only at the line start", " ;1 2\n3 4\n", 2, 2, " ;1 2\n3 4\n"},
        {"titles before and between rows", "width height\n1 2\nsecond block\n3 4\n5 6\n", 3, 2, three_rows},
        {"a later line with x is text", "1 2\n3x4\n5 6\n", 2, 2, "1 2\n5 6\n"},
        {"blank line ends the search; the header after it is text", "   \n3x2\n1 2\n3 4\n", 2, 2, "1 2\n3 4\n"},
        {"tabs and runs of blanks", "1\t\t2   3\n  4 5\t6  \n", 2, 3, "1\t\t2   3\n  4 5\t6  \n"},
        {"exponents", "1.5e-3 -2E+4\n1.5d-3 7\n", 1, 2, "1.5e-3 -2E+4\n"},
        {"fields are counted, not parsed", "1,5 2,5\n1,2,3 4\n", 2, 2, "1,5 2,5\n1,2,3 4\n"},
        {"header with 0 columns", "2x0\n1 2 3\n4 5 6\n", 2, 3, "1 2 3\n4 5 6\n"},
        {"header with 0 rows", "0x3\n1 2 3\n4 5 6\n", 2, 3, "1 2 3\n4 5 6\n"},
        {"signed header", "+2x+2\n1 2\n3 4\n", 2, 2, "1 2\n3 4\n"},
        {"empty file", "", 0, 0, ""},
        {"only comments", "# nothing\n// here\n;\n\n", 0, 0, ""},
        {"header without rows", "0x0\n", 0, 0, ""},
        {"shorter than a mark", "1 2", 0, 0, ""},
        {"UTF-7 lookalike without its fourth byte", "+/vA 1\n2 3\n", 1, 2, "2 3\n"},
        {"bytes above 127 make a text line", "caf\xC3\xA9\n1 2\n\xE9 3\n", 1, 2, "1 2\n"},
    };
    for (const auto& accepted : cases) {
        SCOPED_TRACE(accepted.what);
        const Read result = read(accepted.bytes);
        EXPECT_EQ(result.error, "");
        EXPECT_EQ(result.rows, accepted.rows);
        EXPECT_EQ(result.columns, accepted.columns);
        EXPECT_EQ(result.text, accepted.text);
    }
}

TEST(MatrixText, RefusesOtherEncodingsByTheirMarks) {
    const std::pair<std::string, const char*> cases[] = {
        {std::string("\x00\x00\xFE\xFF", 4) + "1 2\n", "UTF-32 (BE) encoded files are not supported"},
        {std::string("\xFF\xFE\x00\x00", 4) + "1 2\n", "UTF-32 (LE) encoded files are not supported"},
        {std::string("\xFF\xFE" "1\x00 \x00", 6), "UTF-16 (LE) encoded files are not supported"},
        {std::string("\xFE\xFF\x00" "1", 4), "UTF-16 (BE) encoded files are not supported"},
        {"+/v8 1 2\n", "UTF-7 encoded files are not supported"},
        {"+/v9 1 2\n", "UTF-7 encoded files are not supported"},
        {"+/v+ 1 2\n", "UTF-7 encoded files are not supported"},
        {"+/v/ 1 2\n", "UTF-7 encoded files are not supported"},
        {"\xF7\x64\x4C 1 2\n", "UTF-1 encoded files are not supported"},
        {"\xDD\x73\x66\x73 1 2\n", "UTF-EBDIC encoded files are not supported"},
        {"\x0E\xFE\xFF 1 2\n", "SCSU encoded files are not supported"},
        {"\xFB\xEE\x28 1 2\n", "BOCU-1 encoded files are not supported"},
        // A file shorter than four bytes still names its mark.
        {"\xFF\xFE", "UTF-16 (LE) encoded files are not supported"},
    };
    for (const auto& [bytes, message] : cases) {
        SCOPED_TRACE(message);
        const Read result = read(bytes);
        EXPECT_EQ(result.error, message);
        EXPECT_FALSE(result.std_error);
        EXPECT_EQ(result.rows, 0);
        EXPECT_EQ(result.text, "");
    }
}

TEST(MatrixText, RefusesInconsistentRowsAndHeadersKeepingWhatWasRead) {
    Read result = read("3x2\n1 2\n3 4\n");
    EXPECT_EQ(result.error, "ILogicException");
    EXPECT_EQ(result.rows, 3);
    EXPECT_EQ(result.text, "1 2\n3 4\n");

    result = read("3x2\n1 2\n1 2 3\n");
    EXPECT_EQ(result.error, "The matrix has 2 colums but the matrix parser has extracted 3 columns");
    EXPECT_EQ(result.columns, 2);
    EXPECT_EQ(result.text, "1 2\n");

    result = read("1 2 3\n4 5\n");
    EXPECT_EQ(result.error, "The matrix has 3 colums but the matrix parser has extracted 2 columns");

    result = read("-1x2\n");
    EXPECT_EQ(result.error, "ILogicException");

    // Headers that are not two whole numbers raise the conversion error.
    for (const char* header : {"3 x 2\n1 2\n", "3x2 \n", "x2\n1 2\n", "3x\n1 2\n", "1.5x2\n", "99999999999x2\n", "3x2x\n"}) {
        SCOPED_TRACE(header);
        result = read(header);
        EXPECT_TRUE(result.std_error);
        EXPECT_NE(result.error, "");
    }
}

// A user's locale classifies bytes and groups digits its own way; a file
// must mean the same under every locale.
TEST(MatrixText, ReadsTheSameUnderAnyGlobalLocale) {
    struct accented_ctype : std::ctype<char> {
        static const mask* table() {
            static std::vector<mask> own(classic_table(), classic_table() + table_size);
            own[0xE9] = punct;  // as if é were punctuation
            return own.data();
        }
        accented_ctype() : std::ctype<char>(table()) {}
    };
    struct grouping_numpunct : std::numpunct<char> {
        char do_thousands_sep() const override { return ','; }
        std::string do_grouping() const override { return "\3"; }
    };
    const std::locale previous = std::locale::global(
        std::locale(std::locale(std::locale::classic(), new accented_ctype), new grouping_numpunct));
    const Read text_line = read("1 2\xE9\n3 4\n");
    const Read grouped_header = read("1,000x2\n1 2\n");
    std::locale::global(previous);

    EXPECT_EQ(text_line.rows, 1);
    EXPECT_EQ(text_line.text, "3 4\n");
    EXPECT_TRUE(grouped_header.std_error);
}

TEST(MatrixText, StreamsThatDeliverNothingGiveNoMatrix) {
    std::ifstream directory(std::filesystem::temp_directory_path());
    Read result = read_stream(directory);
    EXPECT_EQ(result.error, "");
    EXPECT_EQ(result.rows, 0);
    EXPECT_EQ(result.columns, 0);

    std::ifstream missing("/nonexistent-directory/missing.txt");
    result = read_stream(missing);
    EXPECT_EQ(result.rows, 0);
    EXPECT_EQ(result.text, "");
}

}  // namespace
