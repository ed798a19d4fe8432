// The worker thread and the thread-message layer it waits on, linked directly.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
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

// Queues a job that holds the worker until `release` is set; returns once it runs.
ksl::worker_thread::job_handle hold(ksl::worker_thread& worker, std::shared_future<void> release) {
    auto started = std::make_shared<std::promise<void>>();
    auto running = started->get_future();
    auto job = worker.execute([started, release] {
        started->set_value();
        release.wait();
    });
    running.wait();
    return job;
}

// Aborting all, or stopping, lets the running job finish and abandons the
// queued ones (an abandoned job never runs).
TEST(WorkerThread, AbortAllAndStopAbandonTheWaitingJobs) {
    ksl::worker_thread worker("SVM Train");
    std::promise<void> release, release_second;
    auto first = hold(worker, release.get_future().share());
    auto queued = worker.execute([] {});
    worker.abort_all();
    release.set_value();
    queued->wait();
    EXPECT_TRUE(queued->was_aborted());
    EXPECT_FALSE(first->was_aborted());

    ksl::worker_thread stopped("SVM Train");
    auto running = hold(stopped, release_second.get_future().share());
    auto second = stopped.execute([] {}), third = stopped.execute([] {});
    std::thread stopper([&] { stopped.stop(); });
    while (!stopped.is_stopping()) std::this_thread::yield();
    release_second.set_value();
    stopper.join();
    EXPECT_TRUE(stopped.has_ended());
    EXPECT_TRUE(running->is_done() && !running->was_aborted());
    EXPECT_TRUE(second->was_aborted() && third->was_aborted());  // and done
    // A job that ran cannot be abandoned or aborted afterwards.
    try {
        running->abandon();
        ADD_FAILURE() << "abandoned a job that ran";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "The function cannot be aborted as its already been (being) processed");
    }
    EXPECT_TRUE(running->request_abort());
}

// The worker runs jobs in queue order on its named thread. While it waits
// for work it services its thread's queue: a message to the thread reaches
// the thread's windows; WM_QUIT is dropped and the worker keeps running.
TEST(WorkerThread, RunsJobsInOrderAndServicesItsThreadsMessagesWhileWaiting) {
    ksl::worker_thread worker("SVM Train");
    std::vector<int> order;  // touched by the worker alone until the last job is done
    for (int i = 0; i < 3; ++i) worker.execute([&, i] { order.push_back(i); });
    EXPECT_EQ(worker.execute_for_result<std::string>([] { return platform::current_thread_name(); })->get(), "SVM Train");
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
    std::promise<std::uint32_t> arrived;
    worker.execute([&] { platform::register_window([&](const auto& m) { arrived.set_value(m.message); }); })->get();
    ASSERT_TRUE(platform::post_thread_message(worker.id(), platform::message_quit));
    ASSERT_TRUE(platform::post_thread_message(worker.id(), platform::message_user + 1));
    auto message = arrived.get_future();
    ASSERT_EQ(message.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(message.get(), platform::message_user + 1);
    EXPECT_EQ(worker.execute_for_result<int>([] { return 1; })->get(), 1);
    worker.stop();
    // The thread's queue went with it.
    EXPECT_FALSE(platform::post_thread_message(worker.id(), platform::message_user));
}

// A wait dispatches what arrived: a message to a window goes to it, one to
// the thread to every window of the thread.
TEST(ThreadMessages, AWaitDispatchesWhatArrivedUntilItsEventIsSet) {
    platform::create_message_queue();
    std::vector<std::pair<int, std::uint32_t>> seen;
    auto record = [&](int window) { return [&seen, window](const auto& m) { seen.emplace_back(window, m.message); }; };
    const platform::window_handle first = platform::register_window(record(1)), second = platform::register_window(record(2));
    ASSERT_TRUE(platform::post_thread_message(platform::current_thread_id(), platform::message_user + 1));
    ASSERT_TRUE(platform::post_message(second, platform::message_user + 2));
    platform::wake_event event;
    EXPECT_FALSE(platform::wait_pumping_messages(event, 5));
    EXPECT_EQ(seen, (std::vector<std::pair<int, std::uint32_t>>{
                        {1, platform::message_user + 1}, {2, platform::message_user + 1}, {2, platform::message_user + 2}}));
    event.set();
    EXPECT_TRUE(platform::wait_pumping_messages(event, 5));
    EXPECT_FALSE(platform::wait_pumping_messages(event, 0));  // auto-reset
    platform::destroy_message_queue();
    EXPECT_FALSE(platform::post_message(first, platform::message_user));
    EXPECT_THROW(platform::wait_pumping_messages(event, 0), std::system_error);
}

}  // namespace
