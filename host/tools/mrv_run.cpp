// mrv-run: loads a patch file, runs it tick by tick and prints what the
// blocks report.
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <limits>
#include <string>

#include "host/data_files.h"
#include "host/patch.h"

namespace {

const char* const usage =
    "usage: mrv-run [options] PATCH.json\n"
    "  --ticks N        run N ticks (default: the patch's own \"run\", else until the sources are exhausted);\n"
    "                   the patch's \"period_ms\" still paces them\n"
    "  --save OUT.json  write the patch back after the run, with every parameter's value\n"
    "  --trace-level N  set the trace level of every catalog block (log lines go to stderr)\n"
    "  --plugin PATH    the catalog library to use when the patch names none\n"
    "  --quiet          print only errors and the summary\n";

const char* level_name(int level) {
    switch (level) {
    case Mrv::LevelTrace: return "trace";
    case Mrv::LevelMessage: return "message";
    case Mrv::LevelWarning: return "warning";
    case Mrv::LevelError: return "error";
    default: return "fatal";
    }
}

// Whole lines, each handed to the system in one write: with stdout and
// stderr in one file no line lands inside another, and a run that is killed
// keeps every line it printed.
void print_line(int fd, std::string line) {
    if (line.empty() || line.back() != '\n') line += '\n';
    for (std::size_t done = 0; done < line.size();) {
        const ssize_t n = ::write(fd, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

// The catalog built beside this tool: ../lib/libMrvML.so.
std::string plugin_beside(const char* argv0) {
    char self[4096];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string path = length > 0 ? std::string(self, static_cast<std::size_t>(length)) : std::string(argv0);
    const auto slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
    return folder + "/../lib/libMrvML.so";
}

// The running patch, for the signal handler.
std::atomic<mrvhost::Patch*> running_patch{nullptr};
volatile std::sig_atomic_t stop_signal = 0;

// The first SIGINT or SIGTERM lets the tick in progress finish, then the
// run ends as it would have (end events, --save, summary, and the CSV
// sinks write the lines they gathered); a second SIGINT ends the process
// at once, and the lines a CSV sink gathered since the engine last waited
// (up to 64 KiB) are lost.
extern "C" void on_stop_signal(int signal_number) {
    if (stop_signal != 0 && signal_number == SIGINT) _exit(130);
    stop_signal = signal_number;
    if (mrvhost::Patch* patch = running_patch.load()) patch->request_stop();
}

void catch_stop_signals() {
    struct sigaction action {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

// A whole number from `low`, read whole and within range.
bool parse_number(const char* text, long low, long& value) {
    const char* end = text + std::char_traits<char>::length(text);
    const auto result = std::from_chars(text, end, value);
    return result.ec == std::errc() && result.ptr == end && value >= low;
}

// Written beside the target and renamed, so a failed save leaves nothing
// half-written.
bool save(const mrvhost::Patch& patch, const mrvhost::RunSettings& run, const std::string& path) {
    try {
        const std::string text = mrvhost::save_patch(patch, run, path).dump(2) + "\n";
        mrvhost::replace_file(path, [&](std::FILE* file) { std::fwrite(text.data(), 1, text.size(), file); });
        return true;
    } catch (const std::exception& error) {
        print_line(STDERR_FILENO, std::string("mrv-run: ") + error.what());
        return false;
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::string patch_path, save_path, plugin = plugin_beside(argv[0]);
    long ticks_option = -1, trace_level = -1;
    bool quiet = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        auto value = [&](const char* option) -> const char* {
            if (i + 1 >= argc) {
                std::cerr << "mrv-run: " << option << " needs a value\n" << usage;
                std::exit(2);
            }
            return argv[++i];
        };
        if (argument == "--help" || argument == "-h") {
            std::cout << usage;
            return 0;
        } else if (argument == "--ticks") {
            if (!parse_number(value("--ticks"), 1, ticks_option)) {
                std::cerr << "mrv-run: --ticks needs a number from 1 to " << std::numeric_limits<long>::max() << "\n";
                return 2;
            }
        } else if (argument == "--trace-level") {
            if (!parse_number(value("--trace-level"), 0, trace_level) || trace_level > 1000) {
                std::cerr << "mrv-run: --trace-level needs a number from 0 to 1000\n";
                return 2;
            }
        } else if (argument == "--save") {
            save_path = value("--save");
        } else if (argument == "--plugin") {
            plugin = value("--plugin");
        } else if (argument == "--quiet") {
            quiet = true;
        } else if (!argument.empty() && argument[0] == '-') {
            std::cerr << "mrv-run: unknown option '" << argument << "'\n" << usage;
            return 2;
        } else if (patch_path.empty()) {
            patch_path = argument;
        } else {
            std::cerr << usage;
            return 2;
        }
    }
    if (patch_path.empty()) {
        std::cerr << usage;
        return 2;
    }

    // Every relative file name in a patch, a host block's or a catalog
    // block's, names a file in the patch's folder: the patch runs there.
    // Names given on the command line are the user's, from where they are.
    std::string patch_file = patch_path;
    if (!save_path.empty()) save_path = std::filesystem::absolute(save_path).string();
    plugin = std::filesystem::absolute(plugin).string();
    const std::string folder = std::filesystem::path(patch_path).parent_path().string();
    if (!folder.empty()) {
        if (::chdir(folder.c_str()) != 0) {
            print_line(STDERR_FILENO, "mrv-run: " + patch_path + ": cannot open the patch file: cannot enter its folder: " +
                                          std::strerror(errno));
            return 1;
        }
        patch_file = std::filesystem::path(patch_path).filename().string();
    }

    catch_stop_signals();
    const auto started = std::chrono::steady_clock::now();
    long errors = 0, warnings = 0;
    try {
        // Everything a block reports is heard, from its creation on.
        auto listener = [&](const mrvhost::Notification& n) {
            if (n.kind != mrvhost::Notification::Message) return;
            if (n.level >= Mrv::LevelError) ++errors;
            else if (n.level == Mrv::LevelWarning) ++warnings;
            if (quiet && n.level < Mrv::LevelError) return;
            std::string text = n.text;
            while (!text.empty() && text.back() == '\n') text.pop_back();
            print_line(STDOUT_FILENO, "[" + std::string(level_name(n.level)) + "] " + n.instance_name + ": " + text);
        };
        mrvhost::RunSettings run;
        std::unique_ptr<mrvhost::Patch> patch = mrvhost::load_patch(patch_file, plugin, &run, listener, patch_path);
        if (ticks_option > 0) run.ticks = ticks_option;
        if (!save_path.empty()) {
            // Refused now rather than after the run: a target that is no
            // file, or a file a block uses.
            patch->use_file("--save", save_path, true);
            try {
                mrvhost::check_output_file(save_path);
                patch->check_files();
            } catch (const std::exception& error) {
                throw mrvhost::PatchError(patch_path + ": " + error.what());
            }
        }
        patch->set_period(std::chrono::milliseconds(run.period_ms));
        if (trace_level >= 0) {
            patch->set_trace_level(static_cast<int>(trace_level));
            patch->kernel().log().echo = [](const mrvhost::LogLine& line) { print_line(STDERR_FILENO, line.text); };
        }
        if (!patch->start()) {
            patch->stop();
            print_line(STDERR_FILENO, "mrv-run: " + patch_path + ": " + patch->failure() + "; the run is stopped");
            return 1;
        }
        const bool show_progress = isatty(STDERR_FILENO) && !quiet;
        auto last_report = started;
        long last_in = 0, last_out = 0;
        running_patch.store(patch.get());
        if (stop_signal != 0) patch->request_stop();
        patch->run(run.ticks, [&](long tick) {
            if (!show_progress) return;
            const auto now = std::chrono::steady_clock::now();
            if (now - started < std::chrono::seconds(1) || now - last_report < std::chrono::milliseconds(200)) return;
            const double elapsed = std::chrono::duration<double>(now - last_report).count();
            last_report = now;
            std::cerr << "\rtick " << tick << "  ";
            // A live patch shows its traffic.
            const long in = patch->messages_in(), out = patch->messages_out();
            if (in + out > 0)
                std::fprintf(stderr, "in %.0f/s  out %.0f/s  ", (in - last_in) / elapsed, (out - last_out) / elapsed);
            last_in = in;
            last_out = out;
            std::cerr << patch->progress() << "  " << std::chrono::duration<double>(now - started).count() << " s   "
                      << std::flush;
        }, run.until_stopped && ticks_option <= 0);
        running_patch.store(nullptr);
        patch->stop();
        if (show_progress && std::chrono::steady_clock::now() - started >= std::chrono::seconds(1)) std::cerr << "\n";
        if (!save_path.empty() && !save(*patch, run, save_path)) return 1;
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        char numbers[160];
        std::snprintf(numbers, sizeof numbers, "%ld ticks, %zu blocks, %ld errors, %ld warnings, %.3f s",
                      patch->ticks_done(), patch->blocks().size(), errors, warnings, seconds);
        print_line(STDERR_FILENO, std::string("mrv-run: ") + (errors ? "failed" : "ok") + ": " + numbers +
                                      (stop_signal == SIGINT    ? ", stopped by SIGINT"
                                       : stop_signal == SIGTERM ? ", stopped by SIGTERM"
                                                                : "") +
                                      (patch->progress().empty() ? "" : "; " + patch->progress()));
        return errors ? 1 : 0;
    } catch (const mrvhost::PatchError& error) {
        print_line(STDERR_FILENO, std::string("mrv-run: ") + error.what());
    } catch (const Mrv::IException& error) {
        print_line(STDERR_FILENO, "mrv-run: " + patch_path + ": " + error.GetDescription());
    } catch (const std::exception& error) {
        print_line(STDERR_FILENO, "mrv-run: " + patch_path + ": " + error.what());
    }
    return 1;
}
