// host.csv_source and host.constant: the values a patch starts from.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string_view>

#include <boost/algorithm/string.hpp>

#include "host/data_files.h"
#include "host/datatypes.h"
#include "host_block_kit.h"

namespace mrvhost {
namespace {

// The class a table's fields are read as.
struct FieldClass {
    explicit FieldClass(const std::string& class_id)
        : is_bool(class_id == "bool"), is_int(class_id == "int"),
          name(is_int ? "an int" : is_bool ? "a bool" : "a number") {}
    bool is_bool, is_int;
    const char* name;
};

// A data file field as a number for the given class; "true" and "false"
// count as 1 and 0 for bools.
double read_field(std::string_view field, const FieldClass& type) {
    if (type.is_bool) {
        if (boost::algorithm::iequals(field, "true")) return 1.0;
        if (boost::algorithm::iequals(field, "false")) return 0.0;
    }
    auto quoted = [&] { return "\"" + std::string(field.substr(0, 40)) + "\""; };
    // Hexadecimal is refused, as is a number beyond a double's range:
    // neither is what the file's writer meant.
    const std::size_t digits = field[0] == '-' || field[0] == '+' ? 1 : 0;
    if (field.size() > digits + 1 && field[digits] == '0' && (field[digits + 1] == 'x' || field[digits + 1] == 'X'))
        throw std::invalid_argument(quoted() + " is hexadecimal, not a decimal number");
    // The numbers strtod reads, read faster: from_chars takes no '+' (nor
    // leading blanks, which a field never holds), and says only "out of
    // range" for what strtod turns into inf or, below the smallest double,
    // into zero, which is kept.
    const std::size_t skip = field[0] == '+' && field.size() > 1 && field[1] != '-' && field[1] != '+' ? 1 : 0;
    const char* end = field.data() + field.size();
    double value = 0.0;
    const auto result = std::from_chars(field.data() + skip, end, value);
    if (result.ptr != end || (result.ec != std::errc() && result.ec != std::errc::result_out_of_range))
        throw std::invalid_argument(quoted() + " is not " + type.name);
    if (result.ec == std::errc::result_out_of_range) {
        value = std::strtod(std::string(field).c_str(), nullptr);
        if (std::isinf(value)) throw std::invalid_argument(quoted() + " is beyond the range of a double");
    }
    return value;
}

// All mode holds the whole table in memory, a double per field: a bigger
// file is refused rather than read until memory runs out. Row and window
// modes read the file as they go and take any length.
constexpr std::uintmax_t max_table_bytes = std::uintmax_t(1) << 30;

// Rows of a numeric table, sent a row, a window of rows or the whole table
// at a time; with a scalar datatype, one value of the one selected column.
//
// Init reads the file once through, checking every field and counting the
// rows, without keeping them: a fault anywhere in the table stops the patch
// before any block has run or any sink has emptied its file, and the
// progress can say how far through the table a run is ("N of M rows").
// Execute then reads the file again, a tick's rows at a time. That check
// costs a second parse of each field, a fraction of what a row costs the
// rest of the patch.
class CsvSource : public HostBlock {
public:
    using HostBlock::HostBlock;
    bool exhausted() const override { return loaded_ && (next_ >= rows_ || broken_); }
    std::string progress() const override { return std::to_string(next_) + " of " + std::to_string(rows_) + " rows"; }

protected:
    void declare(Signature& s) override {
        s.AddOutput("Output", "Output", scalar_ ? "The value of the selected column, one row per tick"
                                                              : "The rows read from the file",
                    "kernel", datatype_.c_str(), "", "", 0);
        declare_file(s, "The table to read, relative to the patch file", csv_filter, false);
        add_parameter(s, "Mode", "Mode",
                      "\"row\": one row per tick; \"window\": Window rows per tick; \"all\": the whole file at once",
                      "string");
        add_parameter(s, "Window", "Window", "Rows per tick in window mode", "int");
        add_parameter(s, "Columns", "Columns",
                      "Zero-based columns to keep, e.g. \"0,2,4-6\"; empty keeps all (a scalar datatype needs one)",
                      "string");
        add_parameter(s, "HeaderRows", "Header rows", "Rows skipped at the top of the file", "int");
        add_parameter(s, "Rows", "Rows", "Rows read after the header rows; 0 reads every row", "int");
        set_string(s, "Mode", "row");
        set_int(s, "Window", 1);
    }
    bool init() override {
        reader_.reset();
        loaded_ = false;
        const std::string file = file_parameter();
        const std::string mode = string_parameter("Mode");
        if (mode != "row" && mode != "window" && mode != "all")
            throw std::runtime_error("unknown Mode \"" + mode + "\" (row, window or all)");
        if (scalar_ && mode != "row")
            throw std::runtime_error("a " + datatype_ + " source sends one row per tick: Mode must be \"row\"");
        header_ = int_parameter("HeaderRows");
        const int window = int_parameter("Window");
        if (header_ < 0) throw std::runtime_error("HeaderRows must be from 0");
        if (int_parameter("Rows") < 0) throw std::runtime_error("Rows must be from 0");
        if (mode == "window" && window < 1) throw std::runtime_error("Window must be from 1");
        limit_ = static_cast<std::size_t>(int_parameter("Rows"));
        auto reader = std::make_unique<LineReader>(file);
        if (mode == "all" && reader->size() > max_table_bytes)
            throw std::runtime_error("\"" + file + "\" holds " + std::to_string(reader->size()) +
                                     " bytes; a table may hold at most 1 GiB");
        check(*reader);
        if (rows_ == 0) throw std::runtime_error("\"" + file + "\" holds no rows");
        if (mode == "window" && static_cast<std::size_t>(window) > rows_)
            throw std::runtime_error("Window " + std::to_string(window) + " is more than the " +
                                     std::to_string(rows_) + " rows of \"" + file + "\"");
        step_ = mode == "row" ? 1 : mode == "window" ? static_cast<std::size_t>(window) : rows_;
        reader->rewind();
        skip_header(*reader);
        reader_ = std::move(reader);
        next_ = 0;
        broken_ = false;
        loaded_ = true;
        // The shape is fixed from the start, as blocks read it at Init.
        if (!scalar_)
            convert_or_throw<Mrv::IDoubleMatrix>(output("Output"))->Reinit(static_cast<int>(step_), width());
        status_->GetExecutionRequest()->Request();
        return true;
    }
    void execute() override {
        if (exhausted()) return;
        Mrv::IDatatype* out = output("Output");
        const std::size_t count = std::min(step_, rows_ - next_);
        try {
            if (scalar_) {
                double value = 0.0;
                read_row(&value);
                assign_number(*out, value);
            } else {
                auto* matrix = convert_or_throw<Mrv::IDoubleMatrix>(out);
                if (static_cast<std::size_t>(matrix->GetHeight()) != count)
                    matrix->Reinit(static_cast<int>(count), width());
                double* cells = matrix->GetWritePointer();
                for (std::size_t r = 0; r < count; ++r) read_row(cells + r * columns_.size());
            }
            // Whatever follows the last row was there when it was counted.
            if (next_ + count == rows_ && limit_ == 0 && parse_row(*reader_, nullptr))
                throw changed();
        } catch (...) {
            broken_ = true;  // the run goes on without this source
            throw;
        }
        next_ += count;
        out->SetTimeStamp(now());
        if (!exhausted()) status_->GetExecutionRequest()->Request();
    }
    void done() override {
        reader_.reset();
        check_.reset();
    }

private:
    int width() const { return static_cast<int>(columns_.size()); }

    void skip_header(LineReader& reader) {
        std::string_view line;
        while (reader.number() < header_ && reader.next(line)) {}
    }

    // The first pass: every field checked, the rows counted, the column
    // list checked against the first row's width.
    void check(LineReader& reader) {
        skip_header(reader);
        columns_.clear();
        fields_per_row_ = 0;
        rows_ = 0;
        while ((limit_ == 0 || rows_ < limit_) && parse_row(reader, nullptr)) ++rows_;
    }

    void read_row(double* out) {
        if (!parse_row(*reader_, out)) throw changed();
    }

    // The next data row's selected fields, into `out` unless it is null;
    // false after the last row. The first row fixes the columns.
    bool parse_row(LineReader& reader, double* out) {
        std::string_view line;
        do {
            if (!reader.next(line)) return false;
            try {
                split_fields(line, fields_);
            } catch (const std::invalid_argument& error) {
                throw fail(reader, error.what());
            }
        } while (fields_.empty());
        if (fields_per_row_ == 0) {
            fields_per_row_ = fields_.size();
            try {
                columns_ = parse_column_list(string_parameter("Columns"), static_cast<int>(fields_per_row_));
            } catch (const std::invalid_argument& error) {
                throw fail(reader, error.what());
            }
            if (scalar_ && columns_.size() != 1)
                throw fail(reader, "a " + datatype_ + " source reads one column, not " +
                                       std::to_string(columns_.size()) + " (choose one with Columns)");
            check_ = Ref<Mrv::IDatatype>::adopt(create_datatype("kernel", scalar_ ? datatype_ : "double"));
        } else if (fields_.size() != fields_per_row_) {
            throw fail(reader, std::to_string(fields_.size()) + " fields where earlier rows have " +
                                   std::to_string(fields_per_row_));
        }
        for (std::size_t i = 0; i < columns_.size(); ++i) {
            try {
                const double value = read_field(fields_[static_cast<std::size_t>(columns_[i])], type_);
                // Only ints and bools can refuse a number that parsed.
                if (type_.is_int || type_.is_bool) assign_number(*check_, value);
                if (out) out[i] = value;
            } catch (const std::invalid_argument& error) {
                throw fail(reader, error.what());
            }
        }
        return true;
    }

    static std::runtime_error fail(const LineReader& reader, const std::string& what) {
        return std::runtime_error(reader.path() + ":" + std::to_string(reader.number()) + ": " + what);
    }
    // Rows that were counted and are no longer there, or the reverse, in a
    // file of the same size.
    std::runtime_error changed() const {
        return std::runtime_error("\"" + reader_->path() + "\" changed while it was read");
    }

    std::unique_ptr<LineReader> reader_;
    std::vector<int> columns_;
    std::vector<std::string_view> fields_;
    std::size_t fields_per_row_ = 0;
    Ref<Mrv::IDatatype> check_;
    const FieldClass type_{datatype_};
    const bool scalar_ = is_scalar(datatype_);
    int header_ = 0;
    std::size_t rows_ = 0, limit_ = 0, next_ = 0, step_ = 1;
    bool loaded_ = false, broken_ = false;
};

// A value of any class, sent once and again after each change.
class Constant : public HostBlock {
public:
    using HostBlock::HostBlock;

protected:
    void declare(Signature& s) override {
        const std::string catalog = catalog_of(datatype_);
        s.AddOutput("Output", "Output", "The constant", catalog.c_str(), datatype_.c_str(), "", "", 0);
        s.AddParameter("Value", "Value", "The value sent", catalog.c_str(), datatype_.c_str(), "", "", 0, 0);
    }
    bool init() override {
        output("Output")->CopyFrom(parameter("Value"));
        status_->GetExecutionRequest()->Request();
        return true;
    }
    void execute() override {
        output("Output")->CopyFrom(parameter("Value"));
        output("Output")->SetTimeStamp(now());
    }
};

}  // namespace

std::vector<HostBlockClass> source_block_classes() {
    std::vector<std::string> constants = all_datatypes_but_trigger();
    constants.push_back("trigger");
    return {
        {"host.csv_source", "Reads a table of numbers from a text file and sends it a row, a window of rows or "
                            "the whole table at a time; with a scalar datatype, one value of one column per row",
         {"double-matrix", "double", "int", "bool"}, make<CsvSource>},
        {"host.constant", "Sends its Value once, and again after each change", constants, make<Constant>},
    };
}

}  // namespace mrvhost
