// The worker thread and the thread-message layer it waits on, linked directly.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "framework/platform/thread_messages.h"
#include "support/worker_thread.h"

namespace {

using namespace std::chrono_literals;
namespace platform = Mrv::platform;

// A latch the test opens to let a job finish.
class gate {
public:
    void open() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            open_ = true;
        }
        changed_.notify_all();
    }
    void wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return open_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = false;
};

std::string message_of(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "no exception";
}

TEST(WorkerThread, RunsJobsOneAtATimeInQueueOrderOnItsNamedThread) {
    ksl::worker_thread worker("SVM Train");
    std::mutex mutex;
    std::vector<int> order;
    std::atomic<int> running{0}, most_at_once{0};
    std::vector<ksl::worker_thread::job_handle> jobs;
    for (int i = 0; i < 3; ++i)
        jobs.push_back(worker.execute([&, i] {
            most_at_once = std::max(most_at_once.load(), ++running);
            std::this_thread::sleep_for(2ms);
            {
                std::lock_guard<std::mutex> lock(mutex);
                order.push_back(i);
            }
            --running;
        }));
    auto name = worker.execute_for_result<std::string>([] { return platform::current_thread_name(); });
    EXPECT_EQ(name->get(), "SVM Train");
    for (auto& job : jobs) EXPECT_TRUE(job->is_done());
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(most_at_once.load(), 1);
    EXPECT_FALSE(worker.has_ended());
}

TEST(WorkerThread, StopFinishesTheRunningJobAndAbandonsTheWaitingOnes) {
    ksl::worker_thread worker("SVM Train");
    gate started, release;
    std::atomic<int> ran{0};
    auto running = worker.execute([&] {
        started.open();
        release.wait();
        ++ran;
    });
    started.wait();
    auto second = worker.execute([&] { ++ran; });
    auto third = worker.execute([&] { ++ran; });
    std::thread stopper([&] { worker.stop(); });
    while (!worker.is_stopping()) std::this_thread::yield();
    release.open();
    stopper.join();

    EXPECT_TRUE(worker.has_ended());
    EXPECT_EQ(ran.load(), 1);
    EXPECT_TRUE(running->is_done());
    EXPECT_FALSE(running->was_aborted());
    EXPECT_TRUE(second->is_done() && second->was_aborted());
    EXPECT_TRUE(third->is_done() && third->was_aborted());
    // A job that ran cannot be abandoned or aborted afterwards.
    EXPECT_EQ(message_of([&] { running->abandon(); }),
              "The function cannot be aborted as its already been (being) processed");
    EXPECT_TRUE(running->request_abort());
}

TEST(WorkerThread, AbortAllAbandonsQueuedJobs) {
    ksl::worker_thread worker("SVM Train");
    gate started, release;
    auto first = worker.execute([&] {
        started.open();
        release.wait();
    });
    started.wait();
    auto queued = worker.execute([] {});
    worker.abort_all();
    release.open();
    queued->wait();
    EXPECT_TRUE(queued->was_aborted());
    EXPECT_FALSE(first->was_aborted());
}

// Messages posted while the worker waits for work reach the windows of
// its thread; WM_QUIT is dropped and the worker keeps running.
TEST(WorkerThread, DispatchesMessagesPostedToItsThreadAndDropsQuit) {
    ksl::worker_thread worker("SVM Train");
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<std::pair<int, std::uint32_t>> seen;
    auto record = [&](int window_number) {
        return [&, window_number](const platform::thread_message& message) {
            {
                std::lock_guard<std::mutex> lock(mutex);
                seen.emplace_back(window_number, message.message);
            }
            arrived.notify_all();
        };
    };
    auto windows = worker.execute_for_result<std::pair<platform::window_handle, platform::window_handle>>([&] {
        platform::window_handle first = platform::register_window(record(1));
        return std::make_pair(first, platform::register_window(record(2)));
    })->get();

    ASSERT_TRUE(platform::post_thread_message(worker.id(), platform::message_quit));
    ASSERT_TRUE(platform::post_thread_message(worker.id(), platform::message_user + 1));
    ASSERT_TRUE(platform::post_message(windows.second, platform::message_user + 2));
    {
        std::unique_lock<std::mutex> lock(mutex);
        ASSERT_TRUE(arrived.wait_for(lock, 10s, [&] { return seen.size() >= 3; }));
    }
    EXPECT_EQ(seen, (std::vector<std::pair<int, std::uint32_t>>{
                        {1, platform::message_user + 1}, {2, platform::message_user + 1}, {2, platform::message_user + 2}}));
    EXPECT_EQ(worker.execute_for_result<int>([] { return 1; })->get(), 1);
    worker.stop();
    // The thread's queue went with it.
    EXPECT_FALSE(platform::post_thread_message(worker.id(), platform::message_user));
    EXPECT_FALSE(platform::post_message(windows.first, platform::message_user));
}

TEST(ThreadMessages, TimedWaitReturnsFalseAndASetEventTrue) {
    platform::create_message_queue();
    platform::wake_event event;
    EXPECT_FALSE(platform::wait_pumping_messages(event, 5));
    event.set();
    EXPECT_TRUE(platform::wait_pumping_messages(event, 5));
    EXPECT_FALSE(platform::wait_pumping_messages(event, 0));  // auto-reset
    platform::destroy_message_queue();
    EXPECT_THROW(platform::wait_pumping_messages(event, 0), std::system_error);
}

}  // namespace
