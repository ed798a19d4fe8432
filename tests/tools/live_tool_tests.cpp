// mrv-run on a live patch, as a user runs it: OSC in, answers out, stopped
// with SIGINT or SIGTERM.
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <regex>

#include "common/osc_peer.h"
#include "tool_test.h"

namespace {

using nlohmann::json;
using Clock = std::chrono::steady_clock;

// mrv-run in the background, its output (stdout and stderr) on a pipe.
class Running {
public:
    // The shell says its process id, then becomes mrv-run.
    explicit Running(const std::string& arguments)
        : pipe_(::popen(("echo $$; exec " MRV_RUN " " + arguments + " 2>&1").c_str(), "r")) {
        pid_ = std::stoi(wait_for("^(\\d+)$"));
    }
    ~Running() {
        if (pid_ > 0) ::kill(pid_, SIGKILL);
        if (pipe_) ::pclose(pipe_);
    }
    // Reads output until a line matches `pattern` (at most 5 s); the match's
    // first group.
    std::string wait_for(const std::string& pattern) {
        const std::regex wanted(pattern);
        const auto give_up = Clock::now() + std::chrono::seconds(5);
        do {
            for (std::size_t end; (end = text_.find('\n', scanned_)) != std::string::npos;) {
                const std::string line = text_.substr(scanned_, end - scanned_);
                scanned_ = end + 1;
                if (std::smatch match; std::regex_search(line, match, wanted)) return match[1];
            }
        } while (read_more(give_up));
        ADD_FAILURE() << "no line matching " << pattern << " in:\n" << text_;
        return "";
    }
    void signal(int number) { ::kill(pid_, number); }
    // The exit status once all output is read (at most 10 s, then -1).
    int finish() {
        const auto give_up = Clock::now() + std::chrono::seconds(10);
        while (read_more(give_up)) {
        }
        if (Clock::now() > give_up) return -1;
        const int status = ::pclose(pipe_);
        pipe_ = nullptr;
        pid_ = 0;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    const std::string& output() const { return text_; }

private:
    // Reads one more piece of output; false at its end or after `give_up`.
    bool read_more(Clock::time_point give_up) {
        pollfd watched{::fileno(pipe_), POLLIN, 0};
        while (::poll(&watched, 1, 100) == 0)
            if (Clock::now() > give_up) return false;
        char buffer[4096];
        const ssize_t size = ::read(::fileno(pipe_), buffer, sizeof buffer);
        if (size > 0) text_.append(buffer, static_cast<std::size_t>(size));
        return size > 0;
    }

    FILE* pipe_;
    pid_t pid_ = 0;
    std::string text_;
    std::size_t scanned_ = 0;
};

using LiveRun = ToolTest;

// OSC in (four numbers) -> VectorRescaler from [0, 10] onto [-1, 1] -> OSC
// out (doubles), answering each message until a signal ends the run; the
// end event fires before the patch is saved.
TEST_F(LiveRun, AnswersEachMessageUntilSigintOrSigterm) {
    OscPeer peer;
    json patch = json::parse(R"({
        "blocks": [{"name": "in", "class": "host.osc_source", "parameters": {"Port": 0, "Width": 4}},
                   {"name": "ranges", "class": "host.constant", "parameters": {"Value": [[0, 10], [0, 10], [0, 10], [0, 10]]}},
                   {"name": "scale", "class": "VectorRescaler"},
                   {"name": "out", "class": "host.osc_sink", "parameters": {"Type": "d"}}],
        "links": [{"from": "in.Output", "to": "scale.InputVector"}, {"from": "ranges.Output", "to": "scale.InputRanges"},
                  {"from": "scale.OutputVector", "to": "out.Input"}],
        "events": [{"at": "end", "block": "scale", "set": "OutputHighBound", "value": 2.0}],
        "run": {"until": "stopped"}})");
    patch["blocks"][3]["parameters"]["Port"] = peer.port();
    const std::string file = write_patch("live.json", patch), saved = (folder / "saved.json").string();
    for (const auto& [signal, name] : {std::pair{SIGINT, "SIGINT"}, std::pair{SIGTERM, "SIGTERM"}}) {
        Running mrv_run(file + " --save " + saved);
        const int port = std::stoi(mrv_run.wait_for("\\[message\\] in: listening on 127\\.0\\.0\\.1 port (\\d+) for /mrv/input"));
        for (int k = 0; k < 200; ++k) {
            const double x = k % 11;
            peer.send(port, "/mrv/input", numbers_message("fdih", {x, 10 - x, 5, 0}));
            const OscMessage answer = peer.receive();
            const std::vector<double> expected{x / 5 - 1, (10 - x) / 5 - 1, 0, -1};
            ASSERT_EQ(answer.path, "/mrv/output") << name << " message " << k;
            ASSERT_EQ(answer.numbers.size(), 4u) << name << " message " << k;
            for (std::size_t i = 0; i < 4; ++i) ASSERT_NEAR(answer.numbers[i], expected[i], 1e-12) << name << " " << k;
        }
        mrv_run.signal(signal);
        ASSERT_EQ(mrv_run.finish(), 0) << mrv_run.output();
        EXPECT_HAS(mrv_run.output(), std::string("stopped by ") + name + "; in: 200 messages, out: 200 messages sent");
        const json document = json::parse(read_file(saved));
        EXPECT_EQ(document["run"], json({{"until", "stopped"}}));
        EXPECT_EQ(document["blocks"][2]["parameters"]["OutputHighBound"], 2.0);
        EXPECT_EQ(document["blocks"][0]["parameters"]["Width"], 4);
        std::filesystem::remove(saved);
    }
}

}  // namespace
