// host.csv_sink and host.print: values written out as text.
#include <memory>
#include <utility>

#include <boost/algorithm/string.hpp>

#include "host/data_files.h"
#include "host/datatypes.h"
#include "host_block_kit.h"

namespace mrvhost {
namespace {

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

// Lines are gathered in pieces of about 64 KiB, each handed to the system
// whole at a tick's end: one write per tick made the system's writes most
// of a long run's time. The engine flushes the sink before it waits (a
// paced or live run, a tick driven from outside), and Done writes the rest,
// so a run that ends or is stopped by a signal keeps every line.
class CsvSink : public Sink {
public:
    using Sink::Sink;
    std::string progress() const override {
        return std::to_string(lines_) + (lines_ == 1 ? " line written" : " lines written");
    }

protected:
    void flush() override {
        if (!writer_ || pending_.empty()) return;
        try {
            writer_->write(pending_);
        } catch (const std::exception&) {
            // After a failed write the file is given up, not retried every tick.
            writer_.reset();
            pending_.clear();
            pending_lines_ = 0;
            throw;
        }
        pending_.clear();
        lines_ += std::exchange(pending_lines_, 0);
    }
    void declare(Signature& s) override {
        Sink::declare(s);
        declare_file(s, "The CSV file written: per tick, the tick and then the value's fields", csv_filter, true);
    }
    bool init() override {
        lines_ = pending_lines_ = 0;
        pending_.clear();
        check_output_file(file_parameter());  // a missing folder, a device or a FIFO is refused now
        return Consumer::init();
    }
    // Opened only once every block has initialised, so a patch that fails
    // to start leaves the last run's output as it was.
    void start() override {
        writer_ = std::make_unique<TickWriter>(file_parameter());
        pending_.reserve(piece + piece / 4);
    }
    void consume(Mrv::IDatatype& value) override {
        if (!writer_) return;
        pending_lines_ += static_cast<long>(append_csv_lines(pending_, std::to_string(tick()), value));
        if (pending_.size() >= piece) flush();
    }
    void done() override {
        flush();
        if (auto writer = std::move(writer_)) writer->close();
        pending_ = std::string();
    }

private:
    static constexpr std::size_t piece = 64 * 1024;
    std::unique_ptr<TickWriter> writer_;
    std::string pending_;
    long lines_ = 0, pending_lines_ = 0;
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

}  // namespace

std::vector<HostBlockClass> text_sink_classes() {
    std::vector<std::string> printed = all_datatypes_but_trigger();
    printed.push_back("trigger");
    return {
        {"host.csv_sink", "Writes each value it receives to a CSV file, a line per row or element, the tick first",
         all_datatypes_but_trigger(), make<CsvSink>},
        {"host.print", "Prints each value it receives as a message", printed, make<Printer>},
    };
}

}  // namespace mrvhost
