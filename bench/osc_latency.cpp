// Round trips through a live patch over the loopback interface: a steady
// stream of OSC messages (1,000 a second by default, for 10 s) into
// host.osc_source, through the patch, and back out of host.osc_sink.
// Reports the latency from sending a message to receiving its answer (p50,
// p99, max) and the messages that got no answer.
//
//   Rescale: source -> VectorRescaler -> sink (four numbers, the first the
//            message's sequence number, rescaled onto themselves).
//   Digits:  source (64 pixels) -> VectorRescaler -> SVM Predict (an RBF
//            model of the digits) -> sink. The answers carry only the
//            digit; the patch answers in order, so the k-th answer is
//            the k-th message's (exact when none is lost).
#include <benchmark/benchmark.h>

#include <lo/lo.h>
#include <libsvm/svm.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "digits_model.h"
#include "host/patch.h"

namespace {

using clock_type = std::chrono::steady_clock;
using nlohmann::json;
constexpr int pixels = 64;

// OSC aligns arguments on 4 bytes only: copied out, not read as lo_arg.
template <class T>
T first_argument(lo_message message) {
    T value;
    std::memcpy(&value, lo_message_get_argv(message)[0], sizeof value);
    return value;
}

std::vector<std::vector<double>> digit_rows() {
    std::vector<std::vector<double>> rows;
    std::ifstream in(MRV_EXAMPLES "/data/digits.csv");
    for (std::string line; std::getline(in, line);) {
        std::vector<double> row;
        std::istringstream fields(line);
        for (std::string field; std::getline(fields, field, ',');) row.push_back(std::stod(field));
        rows.push_back(row);
    }
    return rows;
}

// An RBF model of the digits, pixels scaled from [0, 16] onto [-1, 1].
std::string digits_model(const std::vector<std::vector<double>>& rows) {
    std::vector<std::vector<svm_node>> samples;
    std::vector<double> labels;
    for (const auto& row : rows) {
        std::vector<svm_node> nodes;
        for (int j = 0; j < pixels; ++j)
            if (const double x = row[j] / 8 - 1; x != 0.0) nodes.push_back({j + 1, x});
        nodes.push_back({-1, 0.0});
        samples.push_back(nodes);
        labels.push_back(row[pixels]);
    }
    return bench::save_digits_model(std::move(samples), std::move(labels), pixels, false,
                                    "/tmp/mrv-osc-latency-" + std::to_string(::getpid()) + ".model");
}

// A UDP socket on the loopback interface, on a port of its own.
struct Peer {
    Peer() {
        socket = ::socket(AF_INET, SOCK_DGRAM, 0);
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address);
        socklen_t length = sizeof address;
        ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length);
        const int buffer = 4 << 20;
        ::setsockopt(socket, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    }
    ~Peer() { ::close(socket); }
    int port() const { return ntohs(address.sin_port); }
    int socket;
    sockaddr_in address{};
};

// The patch's source port, from its "listening on" report.
int source_port(mrvhost::Patch& patch) {
    for (const auto& n : patch.kernel().sink().events())
        if (auto at = n.text.find(" port "); n.text.rfind("listening on", 0) == 0 && at != std::string::npos)
            return std::stoi(n.text.substr(at + 6));
    return 0;
}

void add(mrvhost::Patch& patch, const std::string& name, const std::string& class_id, const std::string& datatype,
         const json& parameters) {
    patch.add_block(name, class_id, datatype);
    for (const auto& [id, value] : parameters.items()) patch.set_parameter(name, id, value);
}

// Streams `rate` messages a second for `seconds` through a started live
// patch; `message(k)` is the k-th message's numbers (its sequence number
// among them), `sequence_of` finds the sequence number in an answer (or -1
// for an answer that is not timed).
void stream(benchmark::State& state, mrvhost::Patch& patch, Peer& answers,
            const std::function<std::vector<double>(long)>& message,
            const std::function<long(const char* path, lo_message)>& sequence_of) {
    const long rate = state.range(0), seconds = state.range(1), count = rate * seconds;
    std::vector<clock_type::time_point> sent(static_cast<std::size_t>(count)), answered(sent.size());
    std::vector<bool> got(sent.size(), false);
    std::thread engine([&] { patch.run(0, nullptr, true); });
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    target.sin_port = htons(static_cast<std::uint16_t>(source_port(patch)));
    std::atomic<bool> sending{true};
    std::thread collector([&] {
        std::vector<char> data(65536);
        for (;;) {
            pollfd watched{answers.socket, POLLIN, 0};
            if (::poll(&watched, 1, 200) <= 0) {
                if (!sending.load()) return;
                continue;
            }
            const ssize_t size = ::recv(answers.socket, data.data(), data.size(), 0);
            const auto now = clock_type::now();
            int result = 0;
            lo_message answer = lo_message_deserialise(data.data(), static_cast<std::size_t>(size), &result);
            if (!answer) continue;
            const long k = sequence_of(data.data(), answer);
            lo_message_free(answer);
            if (k >= 0 && k < count && !got[static_cast<std::size_t>(k)]) {
                got[static_cast<std::size_t>(k)] = true;
                answered[static_cast<std::size_t>(k)] = now;
            }
        }
    });
    Peer sender;
    for (auto _ : state) {
        const auto begun = clock_type::now();
        for (long k = 0; k < count; ++k) {
            std::this_thread::sleep_until(begun + std::chrono::nanoseconds(1'000'000'000LL * k / rate));
            lo_message m = lo_message_new();
            for (double number : message(k)) lo_message_add_double(m, number);
            std::size_t size = 0;
            void* data = lo_message_serialise(m, "/mrv/input", nullptr, &size);
            sent[static_cast<std::size_t>(k)] = clock_type::now();
            ::sendto(sender.socket, data, size, 0, reinterpret_cast<sockaddr*>(&target), sizeof target);
            std::free(data);
            lo_message_free(m);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(500));  // the last answers
        sending.store(false);
    }
    collector.join();
    patch.request_stop();
    engine.join();
    std::vector<double> latencies;
    for (std::size_t k = 0; k < sent.size(); ++k)
        if (got[k]) latencies.push_back(std::chrono::duration<double, std::micro>(answered[k] - sent[k]).count());
    std::sort(latencies.begin(), latencies.end());
    auto at = [&](double share) {
        return latencies.empty() ? 0.0 : latencies[std::min(latencies.size() - 1, static_cast<std::size_t>(share * latencies.size()))];
    };
    state.counters["p50_us"] = at(0.50);
    state.counters["p99_us"] = at(0.99);
    state.counters["max_us"] = latencies.empty() ? 0.0 : latencies.back();
    state.counters["lost"] = static_cast<double>(count - static_cast<long>(latencies.size()));
    state.counters["sent"] = static_cast<double>(count);
}

void Rescale(benchmark::State& state) {
    Peer answers;
    mrvhost::Patch patch;
    patch.add_plugin(MRV_PLUGIN);
    add(patch, "in", "host.osc_source", "", {{"Port", 0}, {"Width", 4}});
    add(patch, "ranges", "host.constant", "double-matrix", {{"Value", {{0, 1e6}, {0, 1e6}, {0, 1e6}, {0, 1e6}}}});
    add(patch, "scale", "VectorRescaler", "", {{"OutputLowBound", 0.0}, {"OutputHighBound", 1e6}});
    add(patch, "out", "host.osc_sink", "double-matrix", {{"Port", answers.port()}, {"Type", "d"}});
    patch.link("in", "Output", "scale", "InputVector");
    patch.link("ranges", "Output", "scale", "InputRanges");
    patch.link("scale", "OutputVector", "out", "Input");
    if (!patch.start()) return state.SkipWithError(patch.failure().c_str());
    stream(
        state, patch, answers, [](long k) { return std::vector<double>{double(k), 1, 2, 3}; },
        [](const char*, lo_message answer) {
            return lo_message_get_argc(answer) == 4 ? std::lround(first_argument<double>(answer)) : -1L;
        });
}
BENCHMARK(Rescale)->Args({1000, 10})->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void Digits(benchmark::State& state) {
    const auto rows = digit_rows();
    const std::string model = digits_model(rows);
    Peer answers;
    mrvhost::Patch patch;
    patch.add_plugin(MRV_PLUGIN);
    add(patch, "in", "host.osc_source", "", {{"Port", 0}, {"Width", pixels}});
    add(patch, "ranges", "host.constant", "double-matrix", {{"Value", std::vector<std::vector<double>>(pixels, {0, 16})}});
    add(patch, "scale", "VectorRescaler", "", json::object());
    add(patch, "svm", "SVM", "", {{"ModelFileName", model}});
    add(patch, "digit", "host.osc_sink", "double-matrix", {{"Port", answers.port()}});
    patch.link("in", "Output", "scale", "InputVector");
    patch.link("ranges", "Output", "scale", "InputRanges");
    patch.link("scale", "OutputVector", "svm", "InputMatrix");
    patch.link("svm", "OutputVector", "digit", "Input");
    if (!patch.start()) return state.SkipWithError(patch.failure().c_str());
    long answered = 0, right = 0;
    stream(
        state, patch, answers,
        [&](long k) {
            const auto& row = rows[static_cast<std::size_t>(k) % rows.size()];
            return std::vector<double>(row.begin(), row.begin() + pixels);
        },
        [&](const char*, lo_message answer) {
            const long k = answered++;
            right += first_argument<float>(answer) == rows[static_cast<std::size_t>(k) % rows.size()][pixels];
            return k;
        });
    state.counters["right"] = static_cast<double>(right);
    std::remove(model.c_str());
}
BENCHMARK(Digits)->Args({1000, 10})->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
