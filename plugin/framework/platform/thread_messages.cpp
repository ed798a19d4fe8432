#include "framework/platform/thread_messages.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <system_error>
#include <vector>

namespace Mrv {
namespace platform {

struct thread_queue {
    std::mutex mutex;
    std::condition_variable arrived;
    std::deque<thread_message> messages;
    std::vector<window_handle> windows;
};

struct window {
    window_procedure procedure;
    thread_id owner;
};

namespace {

// Queues by thread and the live windows; a handle is checked here before
// use, as the system checks a window handle.
struct registry {
    std::mutex mutex;
    std::map<thread_id, std::shared_ptr<thread_queue>> queues;
    std::map<window_handle, std::shared_ptr<thread_queue>> windows;
};

registry& the_registry() {
    static registry instance;
    return instance;
}

std::shared_ptr<thread_queue> queue_of(thread_id thread) {
    registry& r = the_registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto found = r.queues.find(thread);
    return found == r.queues.end() ? nullptr : found->second;
}

void push(thread_queue& queue, const thread_message& message) {
    {
        std::lock_guard<std::mutex> lock(queue.mutex);
        queue.messages.push_back(message);
    }
    queue.arrived.notify_all();
}

std::shared_ptr<thread_queue> own_queue() {
    auto queue = queue_of(current_thread_id());
    if (!queue) throw std::system_error(EINVAL, std::generic_category(), "the thread has no message queue");
    return queue;
}

}  // namespace

thread_id current_thread_id() {
    static std::atomic<thread_id> next{1};
    thread_local const thread_id id = next++;
    return id;
}

void create_message_queue() {
    registry& r = the_registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto& queue = r.queues[current_thread_id()];
    if (!queue) queue = std::make_shared<thread_queue>();
}

void destroy_message_queue() {
    std::vector<window_handle> owned;
    {
        registry& r = the_registry();
        std::lock_guard<std::mutex> lock(r.mutex);
        auto found = r.queues.find(current_thread_id());
        if (found == r.queues.end()) return;
        {
            std::lock_guard<std::mutex> queue_lock(found->second->mutex);
            owned.swap(found->second->windows);
        }
        for (window_handle w : owned) r.windows.erase(w);
        r.queues.erase(found);
    }
    for (window_handle w : owned) delete w;
}

window_handle register_window(window_procedure procedure) {
    auto queue = own_queue();
    auto made = new window{std::move(procedure), current_thread_id()};
    registry& r = the_registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.windows[made] = queue;
    std::lock_guard<std::mutex> queue_lock(queue->mutex);
    queue->windows.push_back(made);
    return made;
}

void unregister_window(window_handle target) {
    {
        registry& r = the_registry();
        std::lock_guard<std::mutex> lock(r.mutex);
        auto found = r.windows.find(target);
        if (found == r.windows.end()) return;
        {
            std::lock_guard<std::mutex> queue_lock(found->second->mutex);
            auto& list = found->second->windows;
            list.erase(std::remove(list.begin(), list.end(), target), list.end());
        }
        r.windows.erase(found);
    }
    delete target;
}

bool post_thread_message(thread_id thread, std::uint32_t message, std::uintptr_t wparam, std::intptr_t lparam) {
    auto queue = queue_of(thread);
    if (!queue) return false;
    push(*queue, thread_message{nullptr, message, wparam, lparam});
    return true;
}

bool post_message(window_handle target, std::uint32_t message, std::uintptr_t wparam, std::intptr_t lparam) {
    std::shared_ptr<thread_queue> queue;
    {
        registry& r = the_registry();
        std::lock_guard<std::mutex> lock(r.mutex);
        auto found = r.windows.find(target);
        if (found == r.windows.end()) return false;
        queue = found->second;
    }
    push(*queue, thread_message{target, message, wparam, lparam});
    return true;
}

bool peek_message(thread_message& taken) {
    auto queue = queue_of(current_thread_id());
    if (!queue) return false;
    std::lock_guard<std::mutex> lock(queue->mutex);
    if (queue->messages.empty()) return false;
    taken = queue->messages.front();
    queue->messages.pop_front();
    return true;
}

void dispatch_message(const thread_message& message) {
    window_procedure procedure;
    {
        registry& r = the_registry();
        std::lock_guard<std::mutex> lock(r.mutex);
        if (r.windows.count(message.target) == 0) return;
        procedure = message.target->procedure;
    }
    if (procedure) procedure(message);
}

void enum_thread_windows(thread_id thread, const std::function<void(window_handle)>& visit) {
    auto queue = queue_of(thread);
    if (!queue) return;
    std::vector<window_handle> windows;
    {
        std::lock_guard<std::mutex> lock(queue->mutex);
        windows = queue->windows;
    }
    for (window_handle w : windows) visit(w);
}

struct wake_event::state {
    std::mutex mutex;
    bool signalled = false;
    // The queue of the thread waiting on this event, woken by set().
    std::shared_ptr<thread_queue> watcher;
};

wake_event::wake_event() : state_(std::make_shared<state>()) {}
wake_event::~wake_event() = default;

void wake_event::set() {
    std::shared_ptr<thread_queue> watcher;
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        state_->signalled = true;
        watcher = state_->watcher;
    }
    if (watcher) {
        // Taken so the wake cannot fall between the waiter's check and its wait.
        std::lock_guard<std::mutex> lock(watcher->mutex);
        watcher->arrived.notify_all();
    }
}

namespace {

void handle_pending_messages() {
    thread_message message;
    while (peek_message(message)) {
        if (message.message == message_quit) continue;
        translate_message(message);
        if (message.target != nullptr) {
            dispatch_message(message);
        } else {
            enum_thread_windows(current_thread_id(), [&](window_handle w) {
                thread_message copy = message;
                copy.target = w;
                dispatch_message(copy);
            });
        }
    }
}

}  // namespace

bool wait_pumping_messages(wake_event& event, std::uint32_t timeout_ms) {
    using clock = std::chrono::steady_clock;
    const auto start = clock::now();
    const bool forever = timeout_ms == infinite_wait;
    const auto timeout = std::chrono::milliseconds(timeout_ms);
    auto queue = own_queue();
    auto& ev = *event.state_;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(queue->mutex);
            {
                std::lock_guard<std::mutex> event_lock(ev.mutex);
                if (ev.signalled) {
                    ev.signalled = false;
                    ev.watcher = nullptr;
                    return true;
                }
                ev.watcher = queue;
            }
            if (queue->messages.empty()) {
                if (forever) {
                    queue->arrived.wait(lock);
                } else {
                    const auto left = timeout - (clock::now() - start);
                    if (left <= clock::duration::zero()) {
                        std::lock_guard<std::mutex> event_lock(ev.mutex);
                        ev.watcher = nullptr;
                        return false;
                    }
                    queue->arrived.wait_for(lock, left);
                }
                continue;
            }
        }
        handle_pending_messages();
        if (!forever && clock::now() - start >= timeout) {
            std::lock_guard<std::mutex> event_lock(ev.mutex);
            ev.watcher = nullptr;
            return false;
        }
    }
}

void set_current_thread_name(const char* name) {
    char shortened[16] = {};
    std::snprintf(shortened, sizeof shortened, "%s", name ? name : "");
    pthread_setname_np(pthread_self(), shortened);
}

std::string current_thread_name() {
    char name[16] = {};
    pthread_getname_np(pthread_self(), name, sizeof name);
    return name;
}

}  // namespace platform
}  // namespace Mrv
