#include "framework/platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace Mrv {
namespace platform {
namespace {

const char* const folder_reason = "it is a folder";
const char* const fifo_reason = "it is a FIFO";
const char* const device_reason = "it is a device";
const char* const socket_reason = "it is a socket";
const char* const other_reason = "it is not a regular file";
const char* const too_large_reason = "it is larger than %llu bytes";

std::string kind_reason(mode_t mode) {
    if (S_ISREG(mode)) return std::string();
    if (S_ISDIR(mode)) return folder_reason;
    if (S_ISFIFO(mode)) return fifo_reason;
    if (S_ISCHR(mode) || S_ISBLK(mode)) return device_reason;
    if (S_ISSOCK(mode)) return socket_reason;
    return other_reason;
}

}  // namespace

std::string why_not_writable(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return std::string();
    return kind_reason(status.st_mode);
}

std::FILE* open_for_writing(const std::string& path, bool append, std::string* reason) {
    if (reason) reason->clear();
    // Refused before opening too: opening some devices has effects of its own.
    if (std::string refused = why_not_writable(path); !refused.empty()) {
        if (reason) *reason = refused;
        return nullptr;
    }
    // Non-blocking, so a FIFO without a reader fails at once instead of
    // waiting; nothing is truncated before the file is known to be regular.
    const int descriptor =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (append ? O_APPEND : 0), 0666);
    if (descriptor < 0) {
        const int error = errno;
        if (reason) *reason = why_not_writable(path);
        if (reason && reason->empty() && error != ENOENT) *reason = std::strerror(error);
        return nullptr;
    }
    struct stat status {};
    std::string refused = ::fstat(descriptor, &status) != 0 ? other_reason : kind_reason(status.st_mode);
    if (refused.empty() && !append && ::ftruncate(descriptor, 0) != 0) refused = std::strerror(errno);
    if (refused.empty()) ::fcntl(descriptor, F_SETFL, ::fcntl(descriptor, F_GETFL) & ~O_NONBLOCK);
    std::FILE* file = refused.empty() ? ::fdopen(descriptor, append ? "a" : "w") : nullptr;
    if (file == nullptr) {
        ::close(descriptor);
        if (reason) *reason = refused;
    }
    return file;
}

readable_file::readable_file(const std::string& path, std::uint64_t most_bytes) {
    struct stat named {};
    if (::stat(path.c_str(), &named) == 0 && !(reason_ = kind_reason(named.st_mode)).empty()) return;
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (descriptor < 0) {
        missing_ = errno == ENOENT;
        reason_ = std::strerror(errno);
        return;
    }
    struct stat status {};
    reason_ = ::fstat(descriptor, &status) != 0 ? other_reason : kind_reason(status.st_mode);
    if (reason_.empty() && static_cast<std::uint64_t>(status.st_size) > most_bytes) {
        char text[64];
        std::snprintf(text, sizeof text, too_large_reason, static_cast<unsigned long long>(most_bytes));
        reason_ = text;
    }
    if (reason_.empty()) descriptor_ = descriptor;
    else ::close(descriptor);
}

readable_file::~readable_file() {
    if (descriptor_ >= 0) ::close(descriptor_);
}

std::string readable_file::reopen_name() const { return "/proc/self/fd/" + std::to_string(descriptor_); }

}  // namespace platform
}  // namespace Mrv
