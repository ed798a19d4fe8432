#include "support/worker_thread.h"

#include <stdexcept>

namespace ksl {

namespace {
const char* const stopping_message = "Cannot add new functions to be executed to an already stopping worker_thread";
const char* const already_processed_message =
    "The function cannot be aborted as its already been (being) processed";
}  // namespace

namespace worker_thread_types {

bool async_execute_info_base::request_abort() {
    boost::lock_guard<boost::mutex> lock(mutex_);
    const bool too_late = abort_requested_ || being_processed_ || done_;
    abort_requested_ = true;
    return too_late;
}

void async_execute_info_base::run() {
    {
        boost::lock_guard<boost::mutex> lock(mutex_);
        being_processed_ = true;
        abort_requested_ = false;
    }
    std::exception_ptr failure;
    try {
        call();
    } catch (...) {
        failure = std::current_exception();
    }
    {
        boost::lock_guard<boost::mutex> lock(mutex_);
        failure_ = failure;
        done_ = true;
    }
    finished_.notify_all();
}

void async_execute_info_base::abandon() {
    {
        boost::lock_guard<boost::mutex> lock(mutex_);
        if (abort_requested_ || being_processed_ || done_) throw std::runtime_error(already_processed_message);
        abort_requested_ = true;
        done_ = true;
    }
    finished_.notify_all();
}

bool async_execute_info_base::is_done() {
    boost::lock_guard<boost::mutex> lock(mutex_);
    return done_;
}

bool async_execute_info_base::was_aborted() {
    boost::lock_guard<boost::mutex> lock(mutex_);
    return done_ && abort_requested_;
}

void async_execute_info_base::wait() {
    boost::unique_lock<boost::mutex> lock(mutex_);
    while (!done_) finished_.wait(lock);
}

void async_execute_info_base::rethrow_failure() {
    std::exception_ptr failure;
    {
        boost::lock_guard<boost::mutex> lock(mutex_);
        failure = failure_;
    }
    if (failure) std::rethrow_exception(failure);
}

}  // namespace worker_thread_types

worker_thread::worker_thread(const std::string& name) : thread_([this, name] { procedure(name); }) {
    boost::unique_lock<boost::mutex> lock(end_mutex_);
    while (!started_) end_changed_.wait(lock);
}

worker_thread::~worker_thread() {
    if (thread_.joinable()) stop();
}

worker_thread::job_handle worker_thread::execute(boost::function<void()> callable) {
    job_handle queued(new worker_thread_types::async_execute_info_void(std::move(callable)));
    enqueue(queued);
    return queued;
}

void worker_thread::enqueue(const job& queued) {
    {
        boost::lock_guard<boost::mutex> lock(queue_mutex_);
        if (stopping_) throw std::runtime_error(stopping_message);
        queue_.push_back(queued);
    }
    wake_.set();
}

void worker_thread::stop() {
    {
        boost::lock_guard<boost::mutex> lock(queue_mutex_);
        discard_pending_ = true;
        stopping_ = true;
    }
    wake_.set();
    {
        boost::unique_lock<boost::mutex> lock(end_mutex_);
        while (!ended_) end_changed_.wait(lock);
    }
    if (thread_.joinable()) thread_.join();
}

void worker_thread::abort_all() {
    {
        boost::lock_guard<boost::mutex> lock(queue_mutex_);
        abort_all_ = true;
    }
    wake_.set();
}

bool worker_thread::is_stopping() {
    boost::lock_guard<boost::mutex> lock(queue_mutex_);
    return stopping_;
}

bool worker_thread::has_ended() {
    boost::lock_guard<boost::mutex> lock(end_mutex_);
    return ended_;
}

bool worker_thread::skipping_jobs() {
    boost::lock_guard<boost::mutex> lock(queue_mutex_);
    return abort_all_ || discard_pending_;
}

// worker thread, from construction until stop.
void worker_thread::procedure(std::string name) {
    Mrv::platform::set_current_thread_name(name.c_str());
    Mrv::platform::create_message_queue();
    {
        boost::lock_guard<boost::mutex> lock(end_mutex_);
        id_ = Mrv::platform::current_thread_id();
        started_ = true;
    }
    end_changed_.notify_all();

    for (;;) {
        std::vector<job> batch;
        {
            boost::unique_lock<boost::mutex> lock(queue_mutex_);
            while (queue_.empty() && !stopping_) {
                lock.unlock();
                Mrv::platform::wait_pumping_messages(wake_);
                lock.lock();
            }
            if (queue_.empty()) break;
            batch.swap(queue_);
        }
        for (const job& next : batch) {
            if (!skipping_jobs()) {
                next->run();
                continue;
            }
            try {
                next->abandon();
            } catch (const std::runtime_error&) {
                // Already ran: nothing left to abandon.
            }
        }
    }

    Mrv::platform::destroy_message_queue();
    {
        boost::lock_guard<boost::mutex> lock(end_mutex_);
        ended_ = true;
    }
    end_changed_.notify_all();
}

}  // namespace ksl
