// host.csv_source and host.constant: the values a patch starts from.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <filesystem>

#include <boost/algorithm/string.hpp>

#include "host/data_files.h"
#include "host/datatypes.h"
#include "host_block_kit.h"

namespace mrvhost {
namespace {

// A data file field as a number for the given class; "true" and "false"
// count as 1 and 0 for bools.
double read_field(const std::string& field, const std::string& class_id) {
    if (class_id == "bool") {
        if (boost::algorithm::iequals(field, "true")) return 1.0;
        if (boost::algorithm::iequals(field, "false")) return 0.0;
    }
    const std::string quoted = "\"" + field.substr(0, 40) + "\"";
    // strtod also reads hexadecimal, and turns a number beyond a double's
    // range into inf: neither is what the file's writer meant.
    const std::size_t digits = field[0] == '-' || field[0] == '+' ? 1 : 0;
    if (field.compare(digits, 2, "0x") == 0 || field.compare(digits, 2, "0X") == 0)
        throw std::invalid_argument(quoted + " is hexadecimal, not a decimal number");
    const char* begin = field.c_str();
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(begin, &end);
    if (end == begin || end != begin + field.size())
        throw std::invalid_argument(quoted + " is not " +
                                    (class_id == "int" ? "an int" : class_id == "bool" ? "a bool" : "a number"));
    if (errno == ERANGE && std::isinf(value)) throw std::invalid_argument(quoted + " is beyond the range of a double");
    return value;
}

// The whole table is held in memory, a double per field: a bigger file is
// refused rather than read until memory runs out.
constexpr std::uintmax_t max_table_bytes = std::uintmax_t(1) << 30;

// Rows of a numeric table, sent a row, a window of rows or the whole table
// at a time; with a scalar datatype, one value of the one selected column.
class CsvSource : public HostBlock {
public:
    using HostBlock::HostBlock;
    bool exhausted() const override { return loaded_ && next_ >= rows_.size(); }
    std::string progress() const override {
        return std::to_string(std::min(next_, rows_.size())) + " of " + std::to_string(rows_.size()) + " rows";
    }

protected:
    void declare(Signature& s) override {
        s.AddOutput("Output", "Output", is_scalar(datatype_) ? "The value of the selected column, one row per tick"
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
        const std::string file = file_parameter();
        const std::string mode = string_parameter("Mode");
        if (mode != "row" && mode != "window" && mode != "all")
            throw std::runtime_error("unknown Mode \"" + mode + "\" (row, window or all)");
        if (is_scalar(datatype_) && mode != "row")
            throw std::runtime_error("a " + datatype_ + " source sends one row per tick: Mode must be \"row\"");
        const int header = int_parameter("HeaderRows"), window = int_parameter("Window");
        if (header < 0) throw std::runtime_error("HeaderRows must be from 0");
        if (int_parameter("Rows") < 0) throw std::runtime_error("Rows must be from 0");
        if (mode == "window" && window < 1) throw std::runtime_error("Window must be from 1");
        read(file, header);
        if (rows_.empty()) throw std::runtime_error("\"" + file + "\" holds no rows");
        if (mode == "window" && static_cast<std::size_t>(window) > rows_.size())
            throw std::runtime_error("Window " + std::to_string(window) + " is more than the " +
                                     std::to_string(rows_.size()) + " rows of \"" + file + "\"");
        step_ = mode == "row" ? 1 : mode == "window" ? static_cast<std::size_t>(window) : rows_.size();
        next_ = 0;
        loaded_ = true;
        // The shape is fixed from the start, as blocks read it at Init.
        if (!is_scalar(datatype_))
            convert_or_throw<Mrv::IDoubleMatrix>(output("Output"))->Reinit(static_cast<int>(step_), width_);
        status_->GetExecutionRequest()->Request();
        return true;
    }
    void execute() override {
        if (exhausted()) return;
        Mrv::IDatatype* out = output("Output");
        const std::size_t count = std::min(step_, rows_.size() - next_);
        if (is_scalar(datatype_)) {
            assign_number(*out, rows_[next_][0]);
        } else {
            auto* matrix = convert_or_throw<Mrv::IDoubleMatrix>(out);
            if (static_cast<std::size_t>(matrix->GetHeight()) != count) matrix->Reinit(static_cast<int>(count), width_);
            double* cells = matrix->GetWritePointer();
            for (std::size_t r = 0; r < count; ++r)
                std::copy(rows_[next_ + r].begin(), rows_[next_ + r].end(),
                          cells + r * static_cast<std::size_t>(width_));
        }
        next_ += count;
        out->SetTimeStamp(now());
        if (!exhausted()) status_->GetExecutionRequest()->Request();
    }

private:
    void read(const std::string& file, int header) {
        std::ifstream in = open_data_file(file);
        std::error_code error;
        if (const auto bytes = std::filesystem::file_size(file, error); !error && bytes > max_table_bytes)
            throw std::runtime_error("\"" + file + "\" holds " + std::to_string(bytes) +
                                     " bytes; a table may hold at most 1 GiB");
        const Ref<Mrv::IDatatype> check = Ref<Mrv::IDatatype>::adopt(
            create_datatype("kernel", is_scalar(datatype_) ? datatype_ : "double"));
        // Only ints and bools can refuse a number that parsed.
        const bool check_each = datatype_ == "int" || datatype_ == "bool";
        rows_.clear();
        std::vector<int> columns;
        std::size_t fields_per_row = 0;
        long number = 0;
        auto fail = [&](const std::string& what) -> std::runtime_error {
            return std::runtime_error(file + ":" + std::to_string(number) + ": " + what);
        };
        const auto limit = static_cast<std::size_t>(int_parameter("Rows"));
        for (std::string line; (limit == 0 || rows_.size() < limit) && std::getline(in, line);) {
            if (++number <= header) continue;
            std::vector<std::string> fields;
            try {
                fields = split_fields(line);
            } catch (const std::invalid_argument& error) {
                throw fail(error.what());
            }
            if (fields.empty()) continue;
            if (rows_.empty()) {
                // The first row fixes the width the column list is checked against.
                fields_per_row = fields.size();
                try {
                    columns = parse_column_list(string_parameter("Columns"), static_cast<int>(fields_per_row));
                } catch (const std::invalid_argument& error) {
                    throw fail(error.what());
                }
                if (is_scalar(datatype_) && columns.size() != 1)
                    throw fail("a " + datatype_ + " source reads one column, not " + std::to_string(columns.size()) +
                               " (choose one with Columns)");
            } else if (fields.size() != fields_per_row) {
                throw fail(std::to_string(fields.size()) + " fields where earlier rows have " +
                           std::to_string(fields_per_row));
            }
            std::vector<double> row;
            row.reserve(columns.size());
            for (int c : columns) {
                try {
                    row.push_back(read_field(fields[static_cast<std::size_t>(c)], datatype_));
                    if (check_each) assign_number(*check, row.back());
                } catch (const std::invalid_argument& error) {
                    throw fail(error.what());
                }
            }
            rows_.push_back(std::move(row));
        }
        width_ = static_cast<int>(columns.size());
    }

    std::vector<std::vector<double>> rows_;
    int width_ = 0;
    std::size_t next_ = 0, step_ = 1;
    bool loaded_ = false;
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
