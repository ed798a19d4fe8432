// Runs a command as a user would, for the tests of the tools.
#pragma once

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

#include "common/files.h"

struct Result {
    int status;
    std::string output;  // stdout and stderr together
};

inline Result run(const std::string& command) {
    Result result{0, ""};
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    std::array<char, 4096> buffer{};
    while (std::size_t n = std::fread(buffer.data(), 1, buffer.size(), pipe)) result.output.append(buffer.data(), n);
    const int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}
