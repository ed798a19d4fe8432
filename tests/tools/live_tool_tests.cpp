// mrv-run on a live patch, as a user runs it: OSC in, answers out, stopped
// with SIGINT.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <regex>
#include <thread>

#include <nlohmann/json.hpp>

#include "common/files.h"
#include "common/osc_peer.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// mrv-run in the background, its output (stdout and stderr) on a pipe.
class Running {
public:
    explicit Running(const std::vector<std::string>& arguments) {
        int ends[2];
        if (::pipe(ends) != 0) throw std::runtime_error("no pipe");
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(ends[1], 1);
            ::dup2(ends[1], 2);
            std::vector<char*> argv{const_cast<char*>(MRV_RUN)};
            for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
            argv.push_back(nullptr);
            ::execv(MRV_RUN, argv.data());
            ::_exit(127);
        }
        ::close(ends[1]);
        output_ = ends[0];
    }
    ~Running() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        ::close(output_);
    }
    // Reads output until `pattern` matches a line (at most 5 s); its match.
    std::smatch wait_for(const std::string& pattern) {
        const std::regex wanted(pattern);
        std::smatch match;
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < give_up) {
            for (std::size_t end; (end = pending_.find('\n', scanned_)) != std::string::npos; scanned_ = end + 1) {
                line_ = pending_.substr(scanned_, end - scanned_);
                if (std::regex_search(line_, match, wanted)) {
                    scanned_ = end + 1;
                    return match;
                }
            }
            pollfd watched{output_, POLLIN, 0};
            char buffer[4096];
            if (::poll(&watched, 1, 100) > 0) {
                const ssize_t size = ::read(output_, buffer, sizeof buffer);
                if (size <= 0) break;
                pending_.append(buffer, static_cast<std::size_t>(size));
            }
        }
        ADD_FAILURE() << "no line matching " << pattern << " in:\n" << pending_;
        return match;
    }
    void signal(int number) { ::kill(pid_, number); }
    // The exit status, waiting at most 10 s (then -1); all output read.
    int finish() {
        const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        int status = 0;
        while (::waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > give_up) return -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        pid_ = 0;
        char buffer[4096];
        for (ssize_t size; (size = ::read(output_, buffer, sizeof buffer)) > 0;)
            pending_.append(buffer, static_cast<std::size_t>(size));
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    const std::string& output() const { return pending_; }

private:
    pid_t pid_ = 0;
    int output_ = -1;
    std::string pending_, line_;
    std::size_t scanned_ = 0;
};

class LiveRun : public ::testing::Test {
protected:
    void SetUp() override { folder = fresh_test_folder("mrv-live"); }
    void TearDown() override { fs::remove_all(folder); }

    // OSC in (four numbers) -> VectorRescaler from [0, 10] onto [-1, 1] -> OSC out (doubles) to `port`.
    fs::path rescaling_patch(int port) {
        const json patch = {
            {"blocks",
             {{{"name", "in"}, {"class", "host.osc_source"}, {"parameters", {{"Port", 0}, {"Width", 4}}}},
              {{"name", "ranges"}, {"class", "host.constant"},
               {"parameters", {{"Value", {{0, 10}, {0, 10}, {0, 10}, {0, 10}}}}}},
              {{"name", "scale"}, {"class", "VectorRescaler"}},
              {{"name", "out"}, {"class", "host.osc_sink"}, {"parameters", {{"Port", port}, {"Type", "d"}}}}}},
            {"links",
             {{{"from", "in.Output"}, {"to", "scale.InputVector"}},
              {{"from", "ranges.Output"}, {"to", "scale.InputRanges"}},
              {{"from", "scale.OutputVector"}, {"to", "out.Input"}}}},
            {"events", {{{"at", "end"}, {"block", "scale"}, {"set", "OutputHighBound"}, {"value", 2.0}}}},
            {"run", {{"until", "stopped"}}}};
        std::ofstream(folder / "live.json") << patch.dump(2);
        return folder / "live.json";
    }

    fs::path folder;
    OscPeer peer;
};

TEST_F(LiveRun, AnswersEachMessageUntilSigint) {
    Running mrv_run({rescaling_patch(peer.port()).string(), "--save", (folder / "saved.json").string()});
    const int port = std::stoi(mrv_run.wait_for("\\[message\\] in: listening on 127\\.0\\.0\\.1 port (\\d+) for /mrv/input")[1]);
    int answered = 0;
    for (int k = 0; k < 200; ++k) {
        const double x = k % 11;
        peer.send(port, "/mrv/input", numbers_message("fdih", {x, 10 - x, 5, 0}));
        const OscMessage answer = peer.receive();
        const std::vector<double> expected{x / 5 - 1, (10 - x) / 5 - 1, 0, -1};
        bool right = answer.path == "/mrv/output" && answer.numbers.size() == expected.size();
        for (std::size_t i = 0; right && i < expected.size(); ++i) right = std::abs(answer.numbers[i] - expected[i]) < 1e-12;
        answered += right;
    }
    EXPECT_EQ(answered, 200);
    mrv_run.signal(SIGINT);
    ASSERT_EQ(mrv_run.finish(), 0) << mrv_run.output();
    EXPECT_NE(mrv_run.output().find("stopped by SIGINT; in: 200 messages, out: 200 messages sent"), std::string::npos)
        << mrv_run.output();
    const json saved = json::parse(read_file(folder / "saved.json"));
    EXPECT_EQ(saved["run"], json({{"until", "stopped"}}));
    // The end event fired before the patch was saved.
    EXPECT_EQ(saved["blocks"][2]["parameters"]["OutputHighBound"], 2.0);
    EXPECT_EQ(saved["blocks"][0]["parameters"]["Width"], 4);
}

TEST_F(LiveRun, SigtermEndsTheRunAsSigintDoes) {
    Running mrv_run({rescaling_patch(peer.port()).string()});
    mrv_run.wait_for("listening on");
    mrv_run.signal(SIGTERM);
    EXPECT_EQ(mrv_run.finish(), 0) << mrv_run.output();
    EXPECT_NE(mrv_run.output().find("stopped by SIGTERM"), std::string::npos) << mrv_run.output();
}

}  // namespace
