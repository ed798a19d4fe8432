// The worker thread and the thread-message layer it waits on, linked directly.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <memory>
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

// Queues a job that holds the worker until `release` is set; returns once
// it runs.
ksl::worker_thread::job_handle hold(ksl::worker_thread& worker, std::shared_future<void> release, std::atomic<int>& ran) {
    auto started = std::make_shared<std::promise<void>>();
    auto running = started->get_future();
    auto job = worker.execute([started, release, &ran] {
        started->set_value();
        release.wait();
        ++ran;
    });
    running.wait();
    return job;
}

TEST(WorkerThread, RunsJobsInQueueOrderOnItsNamedThread) {
    ksl::worker_thread worker("SVM Train");
    std::vector<int> order;  // touched by the worker alone until the last job is done
    std::vector<ksl::worker_thread::job_handle> jobs;
    for (int i = 0; i < 3; ++i) jobs.push_back(worker.execute([&, i] { order.push_back(i); }));
    auto name = worker.execute_for_result<std::string>([] { return platform::current_thread_name(); });
    EXPECT_EQ(name->get(), "SVM Train");
    for (auto& job : jobs) EXPECT_TRUE(job->is_done());
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
    EXPECT_FALSE(worker.has_ended());
}

// Aborting all, or stopping, lets the running job finish and abandons the
// queued ones.
TEST(WorkerThread, AbortAllAndStopAbandonTheWaitingJobs) {
    ksl::worker_thread worker("SVM Train");
    std::promise<void> release, release_second;
    std::atomic<int> ran{0};
    auto first = hold(worker, release.get_future().share(), ran);
    auto queued = worker.execute([&] { ++ran; });
    worker.abort_all();
    release.set_value();
    queued->wait();
    EXPECT_TRUE(queued->was_aborted());
    EXPECT_FALSE(first->was_aborted());

    ksl::worker_thread stopped("SVM Train");
    auto running = hold(stopped, release_second.get_future().share(), ran);
    auto second = stopped.execute([&] { ++ran; });
    auto third = stopped.execute([&] { ++ran; });
    std::thread stopper([&] { stopped.stop(); });
    while (!stopped.is_stopping()) std::this_thread::yield();
    release_second.set_value();
    stopper.join();
    EXPECT_TRUE(stopped.has_ended());
    EXPECT_EQ(ran.load(), 2);
    EXPECT_TRUE(running->is_done() && !running->was_aborted());
    EXPECT_TRUE(second->is_done() && second->was_aborted());
    EXPECT_TRUE(third->is_done() && third->was_aborted());
    // A job that ran cannot be abandoned or aborted afterwards.
    try {
        running->abandon();
        ADD_FAILURE() << "abandoned a job that ran";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "The function cannot be aborted as its already been (being) processed");
    }
    EXPECT_TRUE(running->request_abort());
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
