// The local calendar time, in place of GetLocalTime.
#pragma once

#include <ctime>

namespace Mrv {
namespace platform {

struct local_time {
    int year, month, day, hour, minute, second;
};

inline local_time now_local() {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    localtime_r(&now, &parts);
    return {parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec};
}

}  // namespace platform
}  // namespace Mrv
