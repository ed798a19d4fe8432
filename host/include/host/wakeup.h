// Wakes the patch engine while it waits for a live patch's next tick: a
// block asking for an execution (from any thread), or a stop request (from
// a signal handler).
#pragma once

#include <atomic>
#include <chrono>

namespace mrvhost {

class Wakeup {
public:
    Wakeup();
    ~Wakeup();
    Wakeup(const Wakeup&) = delete;
    Wakeup& operator=(const Wakeup&) = delete;

    // Async-signal-safe. Costs a system call only while the engine waits.
    void notify() noexcept;
    // Waits until notified or `deadline`. The caller checks what it waits
    // for after arm() and before wait(), so that a notification between the
    // check and the wait is not lost.
    void arm() noexcept { waiting_.store(true); }
    // Not waiting after all (what was waited for is there).
    void disarm() noexcept { waiting_.store(false); }
    void wait(std::chrono::steady_clock::time_point deadline);

private:
    int fd_;
    std::atomic<bool> waiting_{false};
};

}  // namespace mrvhost
