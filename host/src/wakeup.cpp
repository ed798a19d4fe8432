#include "host/wakeup.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>

namespace mrvhost {

Wakeup::Wakeup() : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    if (fd_ < 0) throw std::runtime_error(std::string("cannot create an event descriptor: ") + std::strerror(errno));
}

Wakeup::~Wakeup() { ::close(fd_); }

void Wakeup::notify() noexcept {
    if (!waiting_.load()) return;
    const int saved = errno;  // a signal handler leaves errno as it found it
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(fd_, &one, sizeof one);
    errno = saved;
}

void Wakeup::wait(std::chrono::steady_clock::time_point deadline) {
    using namespace std::chrono;
    const auto left = duration_cast<nanoseconds>(deadline - steady_clock::now()).count();
    if (left > 0) {
        pollfd descriptor{fd_, POLLIN, 0};
        const timespec timeout{static_cast<time_t>(left / 1'000'000'000), static_cast<long>(left % 1'000'000'000)};
        ::ppoll(&descriptor, 1, &timeout, nullptr);
    }
    waiting_.store(false);
    std::uint64_t count = 0;
    while (::read(fd_, &count, sizeof count) > 0) {
    }
}

}  // namespace mrvhost
