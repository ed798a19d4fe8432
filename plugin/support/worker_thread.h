// A named background thread that runs queued jobs one at a time, in the
// order they were queued, and keeps its thread message queue serviced
// while it waits for work. Stopping abandons the jobs still queued; the
// job being run finishes.
#pragma once

#include <exception>
#include <string>
#include <utility>
#include <vector>

#include <boost/function.hpp>
#include <boost/optional.hpp>
#include <boost/shared_ptr.hpp>
#include <boost/thread/condition_variable.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/thread/thread.hpp>

#include "framework/platform/thread_messages.h"

namespace ksl {

namespace worker_thread_types {

// One queued job; the caller holds it as the job's handle.
class async_execute_info_base {
public:
    virtual ~async_execute_info_base() = default;

    // Says whether the job was already aborted, started or done, and asks
    // it not to run.
    bool request_abort();
    // worker thread: runs the callable; an exception it raises is kept for
    // the caller (get) and the job still counts as done.
    void run();
    // worker thread: marks a job that never ran as aborted and done; raises
    // std::runtime_error when it already ran or runs.
    void abandon();

    bool is_done();
    bool was_aborted();
    // Blocks until the job ran or was abandoned.
    void wait();

protected:
    virtual void call() = 0;
    void rethrow_failure();

private:
    boost::mutex mutex_;
    boost::condition_variable finished_;
    bool done_ = false, being_processed_ = false, abort_requested_ = false;
    std::exception_ptr failure_;
};

class async_execute_info_void : public async_execute_info_base {
public:
    explicit async_execute_info_void(boost::function<void()> callable) : callable_(std::move(callable)) {}
    // Waits; raises what the job raised.
    void get() {
        wait();
        rethrow_failure();
    }

private:
    void call() override { callable_(); }
    boost::function<void()> callable_;
};

template <class R>
class async_execute_info : public async_execute_info_base {
public:
    explicit async_execute_info(boost::function<R()> callable) : callable_(std::move(callable)) {}
    // Waits; the callable's result, or what it raised. An abandoned job
    // raises std::runtime_error.
    R get() {
        wait();
        rethrow_failure();
        if (!result_) throw std::runtime_error("The function was aborted before it ran");
        return *result_;
    }

private:
    void call() override { result_ = callable_(); }
    boost::function<R()> callable_;
    boost::optional<R> result_;
};

}  // namespace worker_thread_types

class worker_thread {
public:
    using job_handle = boost::shared_ptr<worker_thread_types::async_execute_info_void>;

    // Starts the thread, named `name` for debuggers; returns once the
    // thread can receive messages.
    explicit worker_thread(const std::string& name);
    // Stops and joins when the owner did not.
    ~worker_thread();
    worker_thread(const worker_thread&) = delete;
    worker_thread& operator=(const worker_thread&) = delete;

    // Queues a job; std::runtime_error once stopping.
    job_handle execute(boost::function<void()> callable);
    template <class R>
    boost::shared_ptr<worker_thread_types::async_execute_info<R>> execute_for_result(boost::function<R()> callable) {
        auto job = boost::shared_ptr<worker_thread_types::async_execute_info<R>>(
            new worker_thread_types::async_execute_info<R>(std::move(callable)));
        enqueue(job);
        return job;
    }

    // No new jobs, queued ones abandoned, the running one finishes; returns
    // when the thread has ended.
    void stop();
    // Every job still queued, and every later one, is abandoned.
    void abort_all();
    bool is_stopping();
    bool has_ended();
    // The thread's id in the thread-message layer, to post messages to it.
    Mrv::platform::thread_id id() const { return id_; }

private:
    using job = boost::shared_ptr<worker_thread_types::async_execute_info_base>;
    void enqueue(const job& queued);
    void procedure(std::string name);
    bool skipping_jobs();

    boost::mutex queue_mutex_;
    std::vector<job> queue_;
    bool stopping_ = false, discard_pending_ = false, abort_all_ = false;
    // Wakes the thread: a job was queued or a flag changed.
    Mrv::platform::wake_event wake_;

    boost::mutex end_mutex_;
    boost::condition_variable end_changed_;
    bool started_ = false, ended_ = false;
    Mrv::platform::thread_id id_ = 0;

    boost::thread thread_;
};

}  // namespace ksl
