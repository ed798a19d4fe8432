// host.osc_source and host.osc_sink: a live patch's input and output.
//
// The source listens on a UDP socket of its own (bound to Bind, the
// loopback interface unless another is named) on a thread of its own, so
// that the socket is drained while the patch runs; it queues what it
// receives and asks for an execution. The engine then ticks once per
// message, or on its clock taking only the newest.
#include <lo/lo.h>
#include <netdb.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include "host/datatypes.h"
#include "host/osc.h"

namespace mrvhost {
namespace {

// Reports, each given once per run, then counted in the summary.
const char* const other_address_text = "messages for other addresses are ignored and counted; the first was for ";
const char* const not_numeric_text =
    "messages with arguments that are not numbers are ignored and counted; the first had the type tags ";
const char* const wrong_count_text = "messages without %1% are ignored and counted; the first had %2% arguments";
const char* const not_of_class_text = "messages whose first argument is not %1% are ignored and counted; the first was ";
const char* const malformed_text = "datagrams that are not OSC are ignored and counted; in the first, ";
const char* const dropped_text =
    "the patch falls behind the messages: the oldest waiting ones are dropped and counted";
const char* const send_failed_text = "cannot send to %1% port %2%: %3%; failed sends are counted";
const char* const listening_text = "listening on %1% port %2% for %3%";

std::string fill(std::string text, const std::vector<std::string>& values) {
    for (std::size_t i = 0; i < values.size(); ++i) {
        const std::string mark = "%" + std::to_string(i + 1) + "%";
        const auto at = text.find(mark);
        if (at != std::string::npos) text.replace(at, mark.size(), values[i]);
    }
    return text;
}

bool is_scalar(const std::string& class_id) { return class_id == "double" || class_id == "int" || class_id == "bool"; }

void add_parameter(Signature& s, const char* id, const char* description, const char* class_id) {
    s.AddParameter(id, id, description, "kernel", class_id, "", "", 0, 0);
}
void set_string(Signature& s, const char* id, const char* value) {
    convert_or_throw<Mrv::IString>(s.find_parameter(id)->GetValue())->SetValue(value);
}
void set_int(Signature& s, const char* id, int value) {
    convert_or_throw<Mrv::IInt>(s.find_parameter(id)->GetValue())->SetValue(value);
}

// The Address parameter: an OSC address starts with a slash.
std::string osc_address(const std::string& address) {
    if (address.empty() || address[0] != '/')
        throw std::runtime_error("Address \"" + address + "\" must start with \"/\"");
    return address;
}

int port_parameter(int port, int low) {
    if (port < low || port > 65535)
        throw std::runtime_error("Port must be from " + std::to_string(low) + " to 65535, not " + std::to_string(port));
    return port;
}

// A host and port as socket addresses; an interface to listen on must be
// given as its address. Throws the resolver's reason.
struct Resolved {
    explicit Resolved(const std::string& host, int port, bool listening) {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_DGRAM;
        hints.ai_flags = AI_NUMERICSERV | (listening ? AI_PASSIVE | AI_NUMERICHOST : 0);
        const int error = host.empty() ? EAI_NONAME : ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list);
        if (error != 0) throw std::runtime_error(::gai_strerror(error));
    }
    ~Resolved() {
        if (list) ::freeaddrinfo(list);
    }
    Resolved(const Resolved&) = delete;
    Resolved& operator=(const Resolved&) = delete;
    std::string numeric_host() const {
        char text[NI_MAXHOST] = "";
        ::getnameinfo(list->ai_addr, list->ai_addrlen, text, sizeof text, nullptr, 0, NI_NUMERICHOST);
        return text;
    }
    addrinfo* list = nullptr;
};

// Messages waiting for the engine at most; beyond, the oldest go.
constexpr std::size_t max_waiting = 1024;
// A UDP datagram's largest payload, and one byte to notice a larger one.
constexpr std::size_t datagram_size = 65536;

class OscSource : public HostBlock {
public:
    using HostBlock::HostBlock;
    ~OscSource() override { close(); }
    bool exhausted() const override { return false; }
    bool live() const override { return true; }
    long messages_in() const override { return received_.load(); }
    std::string progress() const override {
        std::lock_guard<std::mutex> lock(mutex_);
        std::string text = std::to_string(received_.load()) + " messages";
        auto add = [&](long count, const char* what) {
            if (count > 0) text += ", " + std::to_string(count) + " " + what;
        };
        if (intake_) {
            add(intake_->count(OscIntake::other_address), "for other addresses");
            add(intake_->count(OscIntake::not_numeric), "not numeric");
            add(intake_->count(OscIntake::wrong_count), is_scalar(datatype_) ? "without arguments" : "of another width");
            add(intake_->count(OscIntake::not_of_class), ("not " + article() + datatype_).c_str());
            add(intake_->count(OscIntake::malformed), "malformed");
        }
        add(superseded_, "superseded");
        add(dropped_, "dropped");
        return text;
    }

protected:
    void declare(Signature& s) override {
        s.AddOutput("Output", "Output",
                    is_scalar(datatype_) ? "The first argument of each message"
                                         : "The numeric arguments of each message, as one row",
                    "kernel", datatype_.c_str(), "", "", 0);
        add_parameter(s, "Port", "The UDP port listened on; 0 picks a free one (reported when the run starts)", "int");
        add_parameter(s, "Address", "The OSC address of the messages taken", "string");
        add_parameter(s, "Bind", "The address of the interface listened on", "string");
        add_parameter(s, "Width", "The numbers each message carries (double-matrix: the output is a 1 x Width row)",
                      "int");
        set_string(s, "Address", "/mrv/input");
        set_string(s, "Bind", "127.0.0.1");
        set_int(s, "Width", 1);
    }
    bool init() override {
        close();
        const int port = port_parameter(int_parameter("Port"), 0);
        const std::string address = osc_address(string_parameter("Address"));
        const int width = int_parameter("Width");
        if (!is_scalar(datatype_) && width < 1) throw std::runtime_error("Width must be from 1");
        listen(string_parameter("Bind"), port);
        intake_ = std::make_unique<OscIntake>(address, datatype_, width);
        received_ = 0;
        superseded_ = dropped_ = 0;
        reported_.fill(false);
        queue_.clear();
        if (!is_scalar(datatype_)) convert_or_throw<Mrv::IDoubleMatrix>(output("Output"))->Reinit(1, width);
        return true;
    }
    void start() override {
        stop_ = ::eventfd(0, EFD_CLOEXEC);
        if (stop_ < 0) throw std::runtime_error(std::string("cannot create an event descriptor: ") + std::strerror(errno));
        receiver_ = std::thread([this] { receive(); });
    }
    void execute() override {
        std::vector<std::string> reports;
        std::vector<double> value;
        bool taken = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            for (int kind = 0; kind < OscIntake::kinds; ++kind)
                if (!reported_[kind] && intake_->count(static_cast<OscIntake::Kind>(kind)) > 0) {
                    reported_[kind] = true;
                    reports.push_back(describe(static_cast<OscIntake::Kind>(kind)));
                }
            if (dropped_ > 0 && !reported_[OscIntake::kinds]) {
                reported_[OscIntake::kinds] = true;
                reports.push_back(dropped_text);
            }
            if (!queue_.empty()) {
                taken = true;
                if (paced_) {
                    // On the clock, the newest message stands for those before it.
                    superseded_ += static_cast<long>(queue_.size()) - 1;
                    value = std::move(queue_.back());
                    queue_.clear();
                } else {
                    value = std::move(queue_.front());
                    queue_.pop_front();
                    if (!queue_.empty()) status_->GetExecutionRequest()->Request();
                }
            }
        }
        for (const auto& text : reports) report(Mrv::LevelWarning, text);
        if (!taken) return;
        Mrv::IDatatype* out = output("Output");
        if (auto* matrix = Mrv::interface_cast<Mrv::IDoubleMatrix>(out)) {
            std::copy(value.begin(), value.end(), matrix->GetWritePointer());
        } else if (auto* d = Mrv::interface_cast<Mrv::IDouble>(out)) {
            d->SetValue(value[0]);
        } else if (auto* i = Mrv::interface_cast<Mrv::IInt>(out)) {
            i->SetValue(static_cast<Mrv::int32>(value[0]));
        } else {
            convert_or_throw<Mrv::IBool>(out)->SetValue(value[0] != 0.0);
        }
        out->SetTimeStamp(now());
    }
    void done() override { close(); }

private:
    std::string article() const { return datatype_ == "int" ? "an " : "a "; }
    std::string describe(OscIntake::Kind kind) {
        const std::string& first = intake_->first(kind);
        switch (kind) {
        case OscIntake::other_address: return other_address_text + first;
        case OscIntake::not_numeric: return not_numeric_text + first;
        case OscIntake::wrong_count:
            return fill(wrong_count_text,
                        {is_scalar(datatype_) ? "arguments" : std::to_string(int_parameter("Width")) + " numbers", first});
        case OscIntake::not_of_class: return fill(not_of_class_text, {article() + datatype_}) + first;
        default: return malformed_text + first;
        }
    }

    void listen(const std::string& bind, int port) {
        const std::string where = bind + " port " + std::to_string(port);
        std::unique_ptr<Resolved> resolved;
        try {
            resolved = std::make_unique<Resolved>(bind, port, true);
        } catch (const std::runtime_error& error) {
            throw std::runtime_error("Bind \"" + bind + "\" is not an IP address: " + error.what());
        }
        const addrinfo& first = *resolved->list;
        socket_ = ::socket(first.ai_family, first.ai_socktype | SOCK_CLOEXEC, first.ai_protocol);
        if (socket_ < 0 || ::bind(socket_, first.ai_addr, first.ai_addrlen) != 0) {
            const int error = errno;
            close();
            throw std::runtime_error("cannot listen on " + where + ": " + std::strerror(error));
        }
        // Room for bursts while the engine is busy (the system may give less).
        const int buffer = 4 << 20;
        ::setsockopt(socket_, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
        sockaddr_storage bound{};
        socklen_t length = sizeof bound;
        ::getsockname(socket_, reinterpret_cast<sockaddr*>(&bound), &length);
        char service[NI_MAXSERV] = "";
        ::getnameinfo(reinterpret_cast<sockaddr*>(&bound), length, nullptr, 0, service, sizeof service, NI_NUMERICSERV);
        report(Mrv::LevelMessage, fill(listening_text, {resolved->numeric_host(), service, string_parameter("Address")}));
    }

    // The receiving thread: drains the socket until Done.
    void receive() {
        std::vector<char> datagram(datagram_size);
        std::vector<std::vector<double>> values;
        for (;;) {
            pollfd watched[2] = {{socket_, POLLIN, 0}, {stop_, POLLIN, 0}};
            if (::poll(watched, 2, -1) < 0 && errno != EINTR) return;
            if (watched[1].revents != 0) return;
            // A bounded batch, then the stop descriptor is looked at again.
            for (int batch = 0; batch < 256; ++batch) {
                const ssize_t size = ::recv(socket_, datagram.data(), datagram.size(), MSG_DONTWAIT | MSG_TRUNC);
                if (size < 0) break;
                values.clear();
                std::lock_guard<std::mutex> lock(mutex_);
                const long rejected = rejections();
                intake_->take(datagram.data(), std::min(static_cast<std::size_t>(size), datagram.size()), values);
                for (auto& value : values) {
                    if (queue_.size() == max_waiting) {
                        queue_.pop_front();
                        ++dropped_;
                    }
                    queue_.push_back(std::move(value));
                }
                received_ += static_cast<long>(values.size());
                // Rejections ask too, so that the engine reports them.
                if (!values.empty() || rejections() != rejected) status_->GetExecutionRequest()->Request();
            }
        }
    }
    long rejections() const {
        long count = 0;
        for (int kind = 0; kind < OscIntake::kinds; ++kind) count += intake_->count(static_cast<OscIntake::Kind>(kind));
        return count;
    }

    void close() {
        if (receiver_.joinable()) {
            const std::uint64_t one = 1;
            [[maybe_unused]] const ssize_t written = ::write(stop_, &one, sizeof one);
            receiver_.join();
        }
        for (int* fd : {&socket_, &stop_})
            if (*fd >= 0) {
                ::close(*fd);
                *fd = -1;
            }
    }

    int socket_ = -1, stop_ = -1;
    std::thread receiver_;
    mutable std::mutex mutex_;  // guards what follows, shared with the receiving thread
    std::unique_ptr<OscIntake> intake_;
    std::deque<std::vector<double>> queue_;
    long superseded_ = 0, dropped_ = 0;
    std::array<bool, OscIntake::kinds + 1> reported_{};  // the last: dropped
    std::atomic<long> received_{0};
};

// Sends each new value on Input as OSC messages.
class OscSink : public HostBlock {
public:
    OscSink(KernelServices& kernel, std::string datatype, std::string base)
        : HostBlock(kernel, std::move(datatype), std::move(base)) {
        status_->AddDrivingInput("Input", 1);
    }
    ~OscSink() override { close(); }
    long messages_out() const override { return sent_; }
    std::string progress() const override {
        return std::to_string(sent_) + " messages sent" + (failed_ ? ", " + std::to_string(failed_) + " failed" : "");
    }

protected:
    void declare(Signature& s) override {
        s.AddInput("Input", "Input", "The value sent", catalog_of(datatype_).c_str(), datatype_.c_str(), true, false, 0);
        add_parameter(s, "Host", "The host sent to", "string");
        add_parameter(s, "Port", "The UDP port sent to", "int");
        add_parameter(s, "Address", "The OSC address of the messages", "string");
        add_parameter(s, "Type", "Numbers as \"f\" (32-bit floats) or \"d\" (doubles)", "string");
        set_string(s, "Host", "127.0.0.1");
        set_string(s, "Address", "/mrv/output");
        set_string(s, "Type", "f");
    }
    bool init() override {
        close();
        const int port = port_parameter(int_parameter("Port"), 1);
        address_ = osc_address(string_parameter("Address"));
        const std::string type = string_parameter("Type");
        if (type != "f" && type != "d") throw std::runtime_error("unknown Type \"" + type + "\" (f or d)");
        doubles_ = type == "d";
        const std::string host = string_parameter("Host");
        try {
            host_ = Resolved(host, port, false).numeric_host();
        } catch (const std::runtime_error& error) {
            throw std::runtime_error("unknown Host \"" + host + "\": " + error.what());
        }
        port_ = std::to_string(port);
        target_ = lo_address_new(host_.c_str(), port_.c_str());
        if (!target_) throw std::runtime_error("liblo cannot send to " + host_ + " port " + port_);
        sent_ = failed_ = 0;
        consumed_ = 0;
        return true;
    }
    void execute() override {
        Mrv::IDatatype* value = input("Input");
        const Mrv::TimeStamp stamp = value->GetTimeStamp();
        if (stamp == 0 || stamp == consumed_) return;
        consumed_ = stamp;
        send_value(*value);
    }
    void done() override { close(); }

private:
    void send_value(Mrv::IDatatype& value) {
        if (auto* d = Mrv::interface_cast<Mrv::IDouble>(&value)) return send({d->GetValue()});
        if (auto* i = Mrv::interface_cast<Mrv::IInt>(&value)) return send({static_cast<double>(i->GetValue())});
        if (auto* b = Mrv::interface_cast<Mrv::IBool>(&value)) return send({b->GetValue() ? 1.0 : 0.0});
        if (auto* s = Mrv::interface_cast<Mrv::IString>(&value)) {
            lo_message message = lo_message_new();
            lo_message_add_string(message, s->GetValue());
            return send(message);
        }
        if (auto* m = Mrv::interface_cast<Mrv::IDoubleMatrix>(&value)) {
            const double* cells = m->GetReadPointer();
            for (Mrv::int32 r = 0; r < m->GetHeight(); ++r)
                send(std::vector<double>(cells + r * m->GetWidth(), cells + (r + 1) * m->GetWidth()));
            return;
        }
        if (auto* m = Mrv::interface_cast<Mrv::IIntMatrix>(&value)) {
            for (Mrv::int32 r = 0; r < m->GetHeight(); ++r) {
                lo_message message = lo_message_new();
                for (Mrv::int32 c = 0; c < m->GetWidth(); ++c) lo_message_add_int32(message, m->GetAt(r, c));
                send(message);
            }
            return;
        }
        if (auto* set = Mrv::interface_cast<Mrv::ILabelledSet>(&value)) {
            for (Mrv::int32 i = 0; i < set->GetCount(); ++i) {
                lo_message message = lo_message_new();
                lo_message_add_string(message, set->GetName(i));
                const Mrv::IDoubleMatrix* element = set->GetItem(i);
                const double* cells = element->GetReadPointer();
                add_numbers(message, std::vector<double>(cells, cells + element->GetHeight() * element->GetWidth()));
                send(message);
            }
            return;
        }
        auto* temporal = convert_or_throw<Mrv::ITemporalData>(&value);
        for (Mrv::int32 channel = 0; channel < temporal->GetChannelCount(); ++channel) {
            lo_message message = lo_message_new();
            lo_message_add_int32(message, channel);
            const double* samples = temporal->GetChannel(channel);
            std::vector<double> numbers{sample_rate(*temporal)};
            numbers.insert(numbers.end(), samples, samples + temporal->GetSampleCount());
            add_numbers(message, numbers);
            send(message);
        }
    }
    void add_numbers(lo_message message, const std::vector<double>& numbers) {
        for (double number : numbers) {
            if (doubles_) lo_message_add_double(message, number);
            else lo_message_add_float(message, static_cast<float>(number));
        }
    }
    void send(const std::vector<double>& numbers) {
        lo_message message = lo_message_new();
        add_numbers(message, numbers);
        send(message);
    }
    // Sends and frees the message; a failure is reported the first time.
    void send(lo_message message) {
        const int result = lo_send_message(target_, address_.c_str(), message);
        lo_message_free(message);
        if (result >= 0) {
            ++sent_;
            return;
        }
        if (failed_++ == 0) report(Mrv::LevelWarning, fill(send_failed_text, {host_, port_, lo_address_errstr(target_)}));
    }
    void close() {
        if (target_) lo_address_free(target_);
        target_ = nullptr;
    }

    lo_address target_ = nullptr;
    std::string address_, host_, port_;
    bool doubles_ = false;
    long sent_ = 0, failed_ = 0;
    Mrv::TimeStamp consumed_ = 0;
};

template <class Block>
HostBlock* make(KernelServices& kernel, const std::string& datatype, const std::string& base) {
    return new Block(kernel, datatype, base);
}

}  // namespace

std::vector<HostBlockClass> osc_block_classes() {
    return {
        {"host.osc_source",
         "Listens for OSC messages on a UDP port and sends each one's numbers as a row, or its first argument as a "
         "scalar; a patch with one runs live",
         {"double-matrix", "double", "int", "bool"}, make<OscSource>},
        {"host.osc_sink", "Sends each value it receives as OSC messages over UDP: a message per row, element or channel",
         {"double-matrix", "double", "int", "bool", "string", "int-matrix", "labeled_set", "temporal_data"},
         make<OscSink>},
    };
}

}  // namespace mrvhost
