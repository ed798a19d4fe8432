#include "host/host_block.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <limits>

#include <boost/algorithm/string.hpp>

#include "host/data_files.h"
#include "host/datatypes.h"
#include "host/picture.h"

namespace mrvhost {

HostBlock::HostBlock(KernelServices& kernel, std::string datatype, std::string base_directory)
    : status_(Status::create()), datatype_(std::move(datatype)), kernel_(kernel), signature_(Signature::create()),
      layout_(Layout::create()), base_directory_(std::move(base_directory)) {}

void HostBlock::InitInstance(Mrv::ISignature* saved_signature, Mrv::ILayout*, Mrv::IUnknown*) {
    declare(*signature_);
    // A saved host block keeps its declarations; only the values come back.
    if (auto* saved = dynamic_cast<Signature*>(saved_signature))
        for (const auto& parameter : signature_->parameters().items())
            if (Parameter* old = saved->find_parameter(parameter->GetId()))
                if (std::string(old->GetDatatypeClassId()) == parameter->GetDatatypeClassId())
                    parameter->GetValue()->CopyFrom(old->GetValue());
}

template <class Step>
bool HostBlock::guarded(Step&& step, bool executing) {
    std::string error;
    try {
        step();
        if (executing) last_execute_error_.clear();
        return true;
    } catch (const std::exception& e) {
        error = e.what();
    } catch (const Mrv::IException& e) {
        error = e.GetDescription();
    }
    if (!executing || error != last_execute_error_) report(Mrv::LevelError, error);
    if (executing) last_execute_error_ = error;
    return false;
}

bool HostBlock::InitBlock(Mrv::IClock* clock, Mrv::IUnknown*, Mrv::int32, Mrv::int32) {
    clock_ = Ref<Mrv::IClock>(clock);
    last_execute_error_.clear();
    bool initialised = false;
    return guarded([&] { initialised = init(); }, false) && initialised;
}

bool HostBlock::StartBlock() {
    return guarded([&] { start(); }, false);
}

bool HostBlock::ExecuteBlock() {
    return guarded([&] { execute(); }, true);
}

long long HostBlock::tick() const {
    auto* clock = dynamic_cast<const Clock*>(clock_.get());
    return clock && clock->period() > 0 ? now() / clock->period() : now();
}

void HostBlock::DoneBlock() {
    guarded([&] { done(); }, false);
    clock_.reset();
}

bool HostBlock::HandleEvent(Mrv::IEvent* event) {
    if (!event || event->GetKind() != Mrv::EventParameterChange || !event->GetParameter()) return false;
    try {
        event->GetParameter()->GetValue()->CopyFrom(event->GetNewValue());
        status_->GetExecutionRequest()->Request();
        return true;
    } catch (const Mrv::IException& error) {
        report(Mrv::LevelWarning, error.GetDescription());
        return false;
    }
}

Mrv::IDatatype* HostBlock::output(const std::string& id) { return signature_->find_output(id)->GetDatatype(); }
Mrv::IDatatype* HostBlock::input(const std::string& id) { return signature_->find_input(id)->GetDatatype(); }
Mrv::IDatatype* HostBlock::parameter(const std::string& id) { return signature_->find_parameter(id)->GetValue(); }
std::string HostBlock::string_parameter(const std::string& id) {
    return convert_or_throw<Mrv::IString>(parameter(id))->GetValue();
}
int HostBlock::int_parameter(const std::string& id) { return convert_or_throw<Mrv::IInt>(parameter(id))->GetValue(); }
std::string HostBlock::file_parameter() { return resolve_path(base_directory_, string_parameter("File")); }

void HostBlock::declare_file(Signature& s, const char* description, const char* filter, bool written) {
    s.AddParameter("File", "File", description, "kernel", "string", "", "", 0, 0);
    auto* layout = Mrv::interface_cast<Mrv::IFilenameDatatypeLayout>(layout_->SetLayout("File", "kernel", "filename"));
    layout->SetFilter(filter);
    layout->SetOptions(written, !written, false);
}

void HostBlock::report(Mrv::int32 level, const std::string& text) {
    const std::string line = text.empty() || text.back() == '\n' ? text : text + "\n";
    kernel_.sink().Message(this, level, line.c_str());
}

namespace {

void set_string(Signature& signature, const char* id, const std::string& value) {
    convert_or_throw<Mrv::IString>(signature.find_parameter(id)->GetValue())->SetValue(value.c_str());
}
void set_int(Signature& signature, const char* id, int value) {
    convert_or_throw<Mrv::IInt>(signature.find_parameter(id)->GetValue())->SetValue(value);
}
void add_parameter(Signature& s, const char* id, const char* name, const char* description, const char* class_id) {
    s.AddParameter(id, name, description, "kernel", class_id, "", "", 0, 0);
}

const char* const csv_filter = "CSV files (*.csv)|*.csv|Text files (*.txt)|*.txt|All files (*.*)|*.*||";

bool is_scalar(const std::string& class_id) { return class_id == "double" || class_id == "int" || class_id == "bool"; }

// A number as a scalar of the target's class: an int must be whole and in
// range; a bool is any number but NaN, non-zero being true.
void assign_number(Mrv::IDatatype& target, double value) {
    if (auto* d = Mrv::interface_cast<Mrv::IDouble>(&target)) return d->SetValue(value);
    if (auto* i = Mrv::interface_cast<Mrv::IInt>(&target)) {
        if (!(std::trunc(value) == value && value >= std::numeric_limits<Mrv::int32>::min() &&
              value <= std::numeric_limits<Mrv::int32>::max()))
            throw std::invalid_argument(format_double(value) + " is not an int");
        return i->SetValue(static_cast<Mrv::int32>(value));
    }
    if (auto* b = Mrv::interface_cast<Mrv::IBool>(&target)) {
        if (std::isnan(value)) throw std::invalid_argument("nan is not a bool");
        return b->SetValue(value != 0.0);
    }
    throw_cast();
}

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
        for (std::string line; std::getline(in, line);) {
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

// Blocks driven by one input; they act once it carries a value.
class Consumer : public HostBlock {
public:
    Consumer(KernelServices& kernel, std::string datatype, std::string base)
        : HostBlock(kernel, std::move(datatype), std::move(base)) {
        status_->AddDrivingInput("Input", 1);
    }

protected:
    bool init() override {
        consumed_ = 0;
        return true;
    }
    void execute() final {
        Mrv::IDatatype* value = input("Input");
        const Mrv::TimeStamp stamp = value->GetTimeStamp();
        // A parameter change asks for an execution too; a consumer of values
        // does not take the same value twice.
        if (stamp == 0 || (stamp == consumed_ && only_new_values())) return;
        consumed_ = stamp;
        consume(*value);
    }
    virtual bool only_new_values() const { return true; }
    virtual void consume(Mrv::IDatatype& value) = 0;

private:
    Mrv::TimeStamp consumed_ = 0;
};

// One element of a matrix as a scalar, or some of its columns as a matrix.
class Pick : public Consumer {
public:
    using Consumer::Consumer;

protected:
    void declare(Signature& s) override {
        s.AddInput("Input", "Input", "The matrix picked from", "kernel", "double-matrix", true, false, 0);
        s.AddOutput("Output", "Output",
                    is_scalar(datatype_) ? "The element at Row, Column" : "The input's Columns, every row", "kernel",
                    datatype_.c_str(), "", "", 0);
        add_parameter(s, "Row", "Row", "Zero-based row of the element picked (scalar output)", "int");
        add_parameter(s, "Column", "Column", "Zero-based column of the element picked (scalar output)", "int");
        add_parameter(s, "Columns", "Columns",
                      "Zero-based columns kept, e.g. \"0,2-3\" (matrix output); empty keeps all", "string");
    }
    bool init() override {
        // Upstream blocks have shaped their outputs by now.
        auto* matrix = convert_or_throw<Mrv::IDoubleMatrix>(input("Input"));
        if (matrix->GetHeight() > 0 && matrix->GetWidth() > 0) check_shape(*matrix);
        return Consumer::init();
    }
    // A changed Row, Column or Columns picks again from the same input.
    bool only_new_values() const override { return false; }
    void consume(Mrv::IDatatype& value) override {
        pick(*convert_or_throw<Mrv::IDoubleMatrix>(&value));
        output("Output")->SetTimeStamp(now());
    }

private:
    // The columns kept (matrix output), after checking that the element or
    // the columns are there.
    std::vector<int> check_shape(const Mrv::IDoubleMatrix& matrix) {
        const int rows = matrix.GetHeight(), columns = matrix.GetWidth();
        if (!is_scalar(datatype_)) return parse_column_list(string_parameter("Columns"), columns);
        const int row = int_parameter("Row"), column = int_parameter("Column");
        if (row < 0 || row >= rows || column < 0 || column >= columns)
            throw std::runtime_error(element() + " is outside the " + std::to_string(rows) + "x" +
                                     std::to_string(columns) + " input");
        return {};
    }
    std::string element() {
        return "Row " + std::to_string(int_parameter("Row")) + ", Column " + std::to_string(int_parameter("Column"));
    }
    void pick(const Mrv::IDoubleMatrix& matrix) {
        const std::vector<int> kept = check_shape(matrix);
        if (is_scalar(datatype_)) {
            try {
                assign_number(*output("Output"), matrix.GetAt(int_parameter("Row"), int_parameter("Column")));
            } catch (const std::invalid_argument& error) {
                throw std::runtime_error(element() + ": " + error.what());
            }
            return;
        }
        auto* out = convert_or_throw<Mrv::IDoubleMatrix>(output("Output"));
        out->Reinit(matrix.GetHeight(), static_cast<int>(kept.size()));
        for (int r = 0; r < matrix.GetHeight(); ++r)
            for (std::size_t k = 0; k < kept.size(); ++k) out->SetAt(r, static_cast<int>(k), matrix.GetAt(r, kept[k]));
    }
};

// Consumers of one input of the block's datatype.
class Sink : public Consumer {
public:
    using Consumer::Consumer;

protected:
    void declare(Signature& s) override {
        s.AddInput("Input", "Input", "The value consumed", catalog_of(datatype_).c_str(), datatype_.c_str(), true,
                   false, 0);
    }
};

class CsvSink : public Sink {
public:
    using Sink::Sink;
    std::string progress() const override { return std::to_string(lines_) + " lines written"; }

protected:
    void declare(Signature& s) override {
        Sink::declare(s);
        declare_file(s, "The CSV file written: per tick, the tick and then the value's fields", csv_filter, true);
    }
    bool init() override {
        lines_ = 0;
        check_output_file(file_parameter());  // a missing folder, a device or a FIFO is refused now
        return Consumer::init();
    }
    // Opened only once every block has initialised, so a patch that fails
    // to start leaves the last run's output as it was.
    void start() override { writer_ = std::make_unique<TickWriter>(file_parameter()); }
    void consume(Mrv::IDatatype& value) override {
        // After a failed write the file is given up, not retried every tick.
        if (!writer_) return;
        const std::string number = std::to_string(tick());
        const std::vector<std::string> lines = csv_lines(value);
        std::string text;
        for (const auto& line : lines) text += number + (line.empty() ? "" : "," + line) + "\n";
        try {
            writer_->write(text);
        } catch (const std::exception&) {
            writer_.reset();
            throw;
        }
        lines_ += static_cast<long>(lines.size());
    }
    void done() override {
        if (auto writer = std::move(writer_)) writer->close();
    }

private:
    std::unique_ptr<TickWriter> writer_;
    long lines_ = 0;
};

class Printer : public Sink {
public:
    using Sink::Sink;

protected:
    void consume(Mrv::IDatatype& value) override {
        std::string text = value_to_text(value);
        boost::algorithm::replace_all(text, "\n", "; ");
        report(Mrv::LevelMessage, "tick " + std::to_string(tick()) + ": " + text);
    }
};

// Sinks that draw the latest value as a PNG picture: at the end of the run
// and, with EveryTicks, every so many ticks. Each picture replaces the last
// in one step, so a viewer never sees half of one.
class PictureSink : public Consumer {
public:
    using Consumer::Consumer;
    std::string progress() const override { return std::to_string(pictures_) + " pictures written"; }

protected:
    void declare(Signature& s) override {
        declare_file(s, "The PNG file written, relative to the patch file", "PNG files (*.png)|*.png||", true);
        add_parameter(s, "EveryTicks", "Every ticks",
                      "Also draw a new value once this many ticks have passed since the last picture (the first at "
                      "once); 0 draws only when the run ends",
                      "int");
    }
    bool init() override {
        check_output_file(file_parameter());
        if (int_parameter("EveryTicks") < 0) throw std::runtime_error("EveryTicks must be from 0");
        pictures_ = 0;
        drawn_at_ = 0;
        holding_ = false;
        return Consumer::init();
    }
    void consume(Mrv::IDatatype& value) override {
        take(value);
        holding_ = true;
        // The sink runs only on new values, so "every N ticks" counts from
        // the last picture.
        const int every = int_parameter("EveryTicks");
        if (every > 0 && (pictures_ == 0 || tick() - drawn_at_ >= every)) draw_picture();
    }
    void done() override {
        if (holding_) draw_picture();
        holding_ = false;
    }
    // Keeps what the next picture needs of the value.
    virtual void take(Mrv::IDatatype& value) = 0;
    virtual void draw(const std::string& path) = 0;

private:
    void draw_picture() {
        draw(file_parameter());
        ++pictures_;
        drawn_at_ = tick();
    }
    long pictures_ = 0;
    long long drawn_at_ = 0;
    bool holding_ = false;
};

MatrixView view_of(const Mrv::IDatatype& value) {
    MatrixView view;
    if (auto* reals = Mrv::interface_cast<Mrv::IDoubleMatrix>(const_cast<Mrv::IDatatype*>(&value))) {
        view.reals = reals->GetReadPointer();
        view.rows = reals->GetHeight();
        view.cols = reals->GetWidth();
    } else {
        auto* ints = convert_or_throw<Mrv::IIntMatrix>(const_cast<Mrv::IDatatype*>(&value));
        view.ints = ints->GetReadPointer();
        view.rows = ints->GetHeight();
        view.cols = ints->GetWidth();
    }
    if (view.rows <= 0 || view.cols <= 0) view.rows = view.cols = 0;
    return view;
}

// A heatmap of a matrix (or of each element of a labelled set), its planes
// side by side, or the index of each cell's largest plane.
class ImageSink : public PictureSink {
public:
    using PictureSink::PictureSink;

protected:
    void declare(Signature& s) override {
        s.AddInput("Input", "Input", "The matrix or labelled set drawn", "kernel", datatype_.c_str(), true, false, 0);
        PictureSink::declare(s);
        add_parameter(s, "Planes", "Planes",
                      "The matrix is this many planes stacked vertically, drawn side by side", "int");
        add_parameter(s, "Mode", "Mode",
                      "\"values\": a viridis heatmap with its colour bar; \"argmax\": each cell's largest plane "
                      "in a categorical palette, ties grey",
                      "string");
        add_parameter(s, "PlaneNames", "Plane names",
                      "Comma-separated names of the planes, e.g. \"setosa,versicolor,virginica\"; empty: plane 0, "
                      "plane 1, ...",
                      "string");
        set_int(s, "Planes", 1);
        set_string(s, "Mode", "values");
    }
    bool init() override {
        const std::string mode = string_parameter("Mode");
        const int planes = int_parameter("Planes");
        if (mode != "values" && mode != "argmax")
            throw std::runtime_error("unknown Mode \"" + mode + "\" (values or argmax)");
        if (planes < 1) throw std::runtime_error("Planes must be from 1");
        if (mode == "argmax" && planes < 2) throw std::runtime_error("Mode \"argmax\" needs Planes from 2");
        planes_ = planes;
        argmax_ = mode == "argmax";
        return PictureSink::init();
    }
    // A value that cannot be drawn leaves the last picture's value as it was.
    void take(Mrv::IDatatype& value) override {
        auto next = std::make_unique<Heatmap>(planes_, argmax_);
        std::vector<std::string> names;
        const std::string listed = string_parameter("PlaneNames");
        if (!listed.empty()) boost::algorithm::split(names, listed, boost::algorithm::is_any_of(","));
        for (auto& name : names) boost::algorithm::trim(name);
        next->name_planes(std::move(names));
        if (auto* set = Mrv::interface_cast<Mrv::ILabelledSet>(&value)) {
            for (int i = 0; i < set->GetCount(); ++i) next->add(set->GetName(i), view_of(*set->GetItem(i)));
        } else {
            next->add("", view_of(value));
        }
        heatmap_ = std::move(next);
    }
    void draw(const std::string& path) override { HeatmapPicture(*heatmap_, name()).write(path); }

private:
    std::unique_ptr<Heatmap> heatmap_;
    int planes_ = 1;
    bool argmax_ = false;
};

// A bar or line chart of a vector, or of each row of a matrix, over the
// optional X values.
class PlotSink : public PictureSink {
public:
    using PictureSink::PictureSink;

protected:
    void declare(Signature& s) override {
        s.AddInput("Input", "Input", "A row or column vector, or a matrix whose rows are series", "kernel",
                   "double-matrix", true, false, 0);
        s.AddInput("X", "X values", "Optional x value of each point (e.g. a histogram's bin centres)", "kernel",
                   "double-matrix", false, false, 0);
        PictureSink::declare(s);
        add_parameter(s, "Style", "Style", "\"bar\" or \"line\"", "string");
        set_string(s, "Style", "bar");
    }
    bool init() override {
        const std::string style = string_parameter("Style");
        if (style != "bar" && style != "line") throw std::runtime_error("unknown Style \"" + style + "\" (bar or line)");
        chart_ = Chart{};
        chart_.title = name();
        chart_.bars = style == "bar";
        return PictureSink::init();
    }
    void take(Mrv::IDatatype& value) override {
        const MatrixView matrix = view_of(value);
        chart_.series.clear();
        if (matrix.rows == 1 || matrix.cols == 1) {
            chart_.series.emplace_back(matrix.reals, matrix.reals + static_cast<std::size_t>(matrix.rows) * matrix.cols);
        } else {
            for (int r = 0; r < matrix.rows; ++r)
                chart_.series.emplace_back(matrix.reals + static_cast<std::size_t>(r) * matrix.cols,
                                           matrix.reals + static_cast<std::size_t>(r + 1) * matrix.cols);
        }
    }
    // The X values are read as the picture is drawn: a source may send them
    // once, before or after the series.
    void draw(const std::string& path) override {
        chart_.x.clear();
        Mrv::IDatatype* xs = input("X");
        const MatrixView x = xs ? view_of(*xs) : MatrixView{};
        const std::size_t points = chart_.series.empty() ? 0 : chart_.series.front().size();
        if (x.rows > 0) {
            if (x.rows != 1 && x.cols != 1) throw std::runtime_error("X must be a row or column vector");
            if (static_cast<std::size_t>(x.rows) * static_cast<std::size_t>(x.cols) != points)
                throw std::runtime_error(std::to_string(x.rows * x.cols) + " X values for " + std::to_string(points) +
                                         " points");
            chart_.x.assign(x.reals, x.reals + points);
        }
        write_chart(chart_, path);
    }

private:
    Chart chart_;
};

template <class Block>
HostBlock* make(KernelServices& kernel, const std::string& datatype, const std::string& base) {
    return new Block(kernel, datatype, base);
}

std::vector<std::string> all_datatypes_but_trigger() {
    std::vector<std::string> classes;
    for (const auto& id : known_datatypes())
        if (is_csv_writable(id)) classes.push_back(id);
    // The matrix a table becomes is the usual choice.
    std::stable_partition(classes.begin(), classes.end(), [](const std::string& id) { return id == "double-matrix"; });
    return classes;
}

}  // namespace

const std::vector<HostBlockClass>& host_block_classes() {
    static const std::vector<HostBlockClass> classes = [] {
        std::vector<std::string> constants = all_datatypes_but_trigger();
        constants.push_back("trigger");
        return std::vector<HostBlockClass>{
            {"host.csv_source", "Reads a table of numbers from a text file and sends it a row, a window of rows or "
                                "the whole table at a time; with a scalar datatype, one value of one column per row",
             {"double-matrix", "double", "int", "bool"}, make<CsvSource>},
            {"host.constant", "Sends its Value once, and again after each change", constants, make<Constant>},
            {"host.pick", "Turns a matrix into a scalar (the element at Row, Column) or a smaller matrix (its Columns)",
             {"double", "int", "bool", "double-matrix"}, make<Pick>},
            {"host.csv_sink", "Writes each value it receives to a CSV file, a line per row or element, the tick first",
             all_datatypes_but_trigger(), make<CsvSink>},
            {"host.print", "Prints each value it receives as a message", constants, make<Printer>},
            {"host.image_sink", "Draws the latest matrix or labelled set as a PNG heatmap with a colour bar, or each "
                                "cell's largest plane (Mode argmax), when the run ends and every EveryTicks ticks",
             {"double-matrix", "int-matrix", "labeled_set"}, make<ImageSink>},
            {"host.plot_sink", "Draws the latest vector, or each row of a matrix, as a PNG bar or line chart over "
                               "the optional X values, when the run ends and every EveryTicks ticks",
             {"double-matrix"}, make<PlotSink>},
        };
    }();
    return classes;
}

const HostBlockClass* find_host_block_class(const std::string& class_id) {
    for (const auto& host_class : host_block_classes())
        if (host_class.id == class_id) return &host_class;
    return nullptr;
}

bool is_host_block_class(const std::string& class_id) { return find_host_block_class(class_id) != nullptr; }

Ref<HostBlock> create_host_block(KernelServices& kernel, const std::string& class_id, const std::string& datatype,
                                 const std::string& base_directory) {
    const HostBlockClass* host_class = find_host_block_class(class_id);
    if (!host_class) throw std::invalid_argument("no host block class \"" + class_id + "\"");
    const std::string type = datatype.empty() ? host_class->datatypes.front() : datatype;
    const auto& accepted = host_class->datatypes;
    if (std::find(accepted.begin(), accepted.end(), type) == accepted.end())
        throw std::invalid_argument(class_id + " carries no datatype \"" + type + "\" (" +
                                    boost::algorithm::join(accepted, ", ") + ")");
    return Ref<HostBlock>::adopt(host_class->create(kernel, type, base_directory));
}

}  // namespace mrvhost
