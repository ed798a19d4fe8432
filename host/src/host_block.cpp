#include "host/host_block.h"

#include <cmath>
#include <fstream>
#include <sstream>

#include <boost/algorithm/string.hpp>

#include "host/datatypes.h"

namespace mrvhost {

HostBlock::HostBlock(KernelServices& kernel)
    : status_(Status::create()), kernel_(kernel), signature_(Signature::create()), layout_(Layout::create()) {}

void HostBlock::InitInstance(Mrv::ISignature* saved_signature, Mrv::ILayout*, Mrv::IUnknown*) {
    declare(*signature_);
    // A saved host block keeps its declarations; only the values come back.
    if (auto* saved = dynamic_cast<Signature*>(saved_signature))
        for (const auto& parameter : signature_->parameters().items())
            if (Parameter* old = saved->find_parameter(parameter->GetId()))
                if (std::string(old->GetDatatypeClassId()) == parameter->GetDatatypeClassId())
                    parameter->GetValue()->CopyFrom(old->GetValue());
}

bool HostBlock::InitBlock(Mrv::IClock* clock, Mrv::IUnknown*, Mrv::int32, Mrv::int32) {
    clock_ = Ref<Mrv::IClock>(clock);
    try {
        return init();
    } catch (const std::exception& error) {
        report(Mrv::LevelError, error.what());
    } catch (const Mrv::IException& error) {
        report(Mrv::LevelError, error.GetDescription());
    }
    return false;
}

bool HostBlock::ExecuteBlock() {
    try {
        execute();
        return true;
    } catch (const std::exception& error) {
        report(Mrv::LevelError, error.what());
    } catch (const Mrv::IException& error) {
        report(Mrv::LevelError, error.GetDescription());
    }
    return false;
}

long long HostBlock::tick() const {
    auto* clock = dynamic_cast<const Clock*>(clock_.get());
    return clock && clock->period() > 0 ? now() / clock->period() : now();
}

void HostBlock::DoneBlock() {
    done();
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

void HostBlock::report(Mrv::int32 level, const std::string& text) {
    const std::string line = text.empty() || text.back() == '\n' ? text : text + "\n";
    kernel_.sink().Message(this, level, line.c_str());
}

namespace {

std::string resolve(const std::string& base, const std::string& file) {
    if (file.empty() || file[0] == '/' || base.empty()) return file;
    return base + "/" + file;
}

void set_string(Signature& signature, const char* id, const std::string& value) {
    convert_or_throw<Mrv::IString>(signature.find_parameter(id)->GetValue())->SetValue(value.c_str());
}
void set_int(Signature& signature, const char* id, int value) {
    convert_or_throw<Mrv::IInt>(signature.find_parameter(id)->GetValue())->SetValue(value);
}

// Parses "0,2,4-6" into zero-based column indices.
std::vector<int> parse_columns(const std::string& text) {
    std::vector<int> columns;
    std::vector<std::string> parts;
    boost::algorithm::split(parts, text, boost::algorithm::is_any_of(","));
    for (auto part : parts) {
        boost::algorithm::trim(part);
        if (part.empty()) continue;
        const auto dash = part.find('-', 1);
        try {
            if (dash == std::string::npos) {
                columns.push_back(std::stoi(part));
            } else {
                const int first = std::stoi(part.substr(0, dash)), last = std::stoi(part.substr(dash + 1));
                for (int c = first; c <= last; ++c) columns.push_back(c);
            }
        } catch (const std::exception&) {
            throw std::invalid_argument("bad column list \"" + text + "\"");
        }
    }
    for (int c : columns)
        if (c < 0) throw std::invalid_argument("bad column list \"" + text + "\"");
    return columns;
}

// Rows of a numeric table: fields separated by commas, semicolons, tabs or blanks.
class CsvSource : public HostBlock {
public:
    CsvSource(KernelServices& kernel, std::string base) : HostBlock(kernel), base_(std::move(base)) {}
    bool exhausted() const override { return loaded_ && next_ >= rows_.size(); }
    std::string progress() const override {
        return std::to_string(std::min(next_, rows_.size())) + " of " + std::to_string(rows_.size()) + " rows";
    }

protected:
    void declare(Signature& s) override {
        s.AddOutput("Output", "Output", "The rows read from the file", "kernel", "double-matrix", "", "", 0);
        s.AddParameter("File", "File", "The table to read", "kernel", "string", "", "", 0, 0);
        s.AddParameter("Mode", "Mode", "\"row\": one row per tick; \"window\": Window rows per tick; \"all\": the whole file at once",
                       "kernel", "string", "", "", 0, 0);
        s.AddParameter("Window", "Window", "Rows per tick in window mode", "kernel", "int", "", "", 0, 0);
        s.AddParameter("Columns", "Columns", "Zero-based columns to keep, e.g. \"0-3\"; empty keeps all", "kernel", "string",
                       "", "", 0, 0);
        s.AddParameter("HeaderRows", "Header rows", "Rows skipped at the top of the file", "kernel", "int", "", "", 0, 0);
        set_string(s, "Mode", "row");
        set_int(s, "Window", 1);
    }
    bool init() override {
        const std::string file = resolve(base_, string_parameter("File"));
        std::ifstream in(file);
        if (!in) throw std::runtime_error("cannot open \"" + file + "\"");
        const std::vector<int> columns = parse_columns(string_parameter("Columns"));
        rows_.clear();
        width_ = -1;
        std::string line;
        int number = 0;
        const int header = int_parameter("HeaderRows");
        while (std::getline(in, line)) {
            ++number;
            if (number <= header) continue;
            boost::algorithm::trim(line);
            if (line.empty()) continue;
            std::vector<std::string> fields;
            boost::algorithm::split(fields, line, boost::algorithm::is_any_of(",; \t"), boost::algorithm::token_compress_on);
            std::vector<double> all;
            for (const auto& field : fields) {
                char* end = nullptr;
                const double value = std::strtod(field.c_str(), &end);
                if (end == field.c_str() || *end != '\0')
                    throw std::runtime_error(file + ":" + std::to_string(number) + ": \"" + field + "\" is not a number");
                all.push_back(value);
            }
            std::vector<double> kept;
            if (columns.empty()) kept = all;
            for (int c : columns) {
                if (c >= static_cast<int>(all.size()))
                    throw std::runtime_error(file + ":" + std::to_string(number) + ": no column " + std::to_string(c));
                kept.push_back(all[static_cast<std::size_t>(c)]);
            }
            if (width_ >= 0 && static_cast<int>(kept.size()) != width_)
                throw std::runtime_error(file + ":" + std::to_string(number) + ": " + std::to_string(kept.size()) +
                                         " fields where earlier rows have " + std::to_string(width_));
            width_ = static_cast<int>(kept.size());
            rows_.push_back(std::move(kept));
        }
        if (rows_.empty()) throw std::runtime_error("\"" + file + "\" holds no rows");
        const std::string mode = string_parameter("Mode");
        if (mode == "row") step_ = 1;
        else if (mode == "window") step_ = static_cast<std::size_t>(std::max(1, int_parameter("Window")));
        else if (mode == "all") step_ = rows_.size();
        else throw std::runtime_error("unknown Mode \"" + mode + "\" (row, window or all)");
        next_ = 0;
        loaded_ = true;
        // The shape is fixed from the start, as blocks read it at Init.
        convert_or_throw<Mrv::IDoubleMatrix>(output("Output"))->Reinit(static_cast<int>(step_), width_);
        status_->GetExecutionRequest()->Request();
        return true;
    }
    void execute() override {
        if (exhausted()) return;
        auto* out = convert_or_throw<Mrv::IDoubleMatrix>(output("Output"));
        const std::size_t count = std::min(step_, rows_.size() - next_);
        if (static_cast<std::size_t>(out->GetHeight()) != count) out->Reinit(static_cast<int>(count), width_);
        double* cells = out->GetWritePointer();
        for (std::size_t r = 0; r < count; ++r)
            std::copy(rows_[next_ + r].begin(), rows_[next_ + r].end(), cells + r * static_cast<std::size_t>(width_));
        next_ += count;
        out->SetTimeStamp(now());
        if (!exhausted()) status_->GetExecutionRequest()->Request();
    }

private:
    std::string base_;
    std::vector<std::vector<double>> rows_;
    int width_ = 0;
    std::size_t next_ = 0, step_ = 1;
    bool loaded_ = false;
};

// A value of any class, sent once and again after each change.
class Constant : public HostBlock {
public:
    Constant(KernelServices& kernel, std::string datatype) : HostBlock(kernel), datatype_(std::move(datatype)) {}

protected:
    void declare(Signature& s) override {
        const std::string catalog = is_known_datatype("base", datatype_) ? "base" : "kernel";
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

private:
    std::string datatype_;
};

// Consumers of one input of any class.
class Sink : public HostBlock {
public:
    Sink(KernelServices& kernel, std::string datatype) : HostBlock(kernel), datatype_(std::move(datatype)) {
        status_->AddDrivingInput("Input", 1);
    }

protected:
    void declare(Signature& s) override {
        const std::string catalog = is_known_datatype("base", datatype_) ? "base" : "kernel";
        s.AddInput("Input", "Input", "The value consumed", catalog.c_str(), datatype_.c_str(), true, false, 0);
    }
    std::string datatype_;
};

class CsvSink : public Sink {
public:
    CsvSink(KernelServices& kernel, std::string datatype, std::string base)
        : Sink(kernel, std::move(datatype)), base_(std::move(base)) {}
    std::string progress() const override { return std::to_string(lines_) + " lines written"; }

protected:
    void declare(Signature& s) override {
        Sink::declare(s);
        s.AddParameter("File", "File", "The CSV file written, one line per row: tick, values", "kernel", "string", "",
                       "", 0, 0);
    }
    bool init() override {
        const std::string file = resolve(base_, string_parameter("File"));
        out_.open(file, std::ios::trunc);
        if (!out_) throw std::runtime_error("cannot write \"" + file + "\"");
        lines_ = 0;
        return true;
    }
    void execute() override {
        Mrv::IDatatype* value = input("Input");
        const long long number = tick();
        std::istringstream text(value_to_text(*value));
        std::string row;
        while (std::getline(text, row)) {
            boost::algorithm::replace_all(row, " ", ",");
            out_ << number << "," << row << "\n";
            ++lines_;
        }
    }
    void done() override { out_.close(); }

private:
    std::string base_;
    std::ofstream out_;
    long lines_ = 0;
};

class Printer : public Sink {
public:
    using Sink::Sink;

protected:
    void execute() override {
        std::string text = value_to_text(*input("Input"));
        boost::algorithm::replace_all(text, "\n", "; ");
        report(Mrv::LevelMessage, "tick " + std::to_string(tick()) + ": " + text);
    }
};

}  // namespace

bool is_host_block_class(const std::string& class_id) {
    return class_id == "host.csv_source" || class_id == "host.constant" || class_id == "host.csv_sink" ||
           class_id == "host.print";
}

Ref<HostBlock> create_host_block(KernelServices& kernel, const std::string& class_id, const std::string& datatype,
                                 const std::string& base_directory) {
    const std::string type = datatype.empty() ? "double-matrix" : datatype;
    if ((class_id == "host.constant" || class_id == "host.csv_sink" || class_id == "host.print") &&
        !is_known_datatype("kernel", type) && !is_known_datatype("base", type))
        throw std::invalid_argument("unknown datatype \"" + type + "\"");
    if (class_id == "host.csv_source") return Ref<HostBlock>::adopt(new CsvSource(kernel, base_directory));
    if (class_id == "host.constant") return Ref<HostBlock>::adopt(new Constant(kernel, type));
    if (class_id == "host.csv_sink") return Ref<HostBlock>::adopt(new CsvSink(kernel, type, base_directory));
    if (class_id == "host.print") return Ref<HostBlock>::adopt(new Printer(kernel, type));
    return Ref<HostBlock>();
}

}  // namespace mrvhost
