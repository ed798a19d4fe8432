// Thread message queues and windows, in place of the Windows message
// functions a worker thread uses: a thread creates its queue, other threads
// post to the thread or to one of its windows, and the thread removes,
// translates and dispatches what arrived while it waits for an event.
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <string>

namespace Mrv {
namespace platform {

// Ids the library's threads get from this layer (never reused).
using thread_id = std::uint64_t;
thread_id current_thread_id();

// The message numbers the library uses.
constexpr std::uint32_t message_quit = 0x0012;  // WM_QUIT
constexpr std::uint32_t message_user = 0x0400;  // WM_USER

struct window;
using window_handle = window*;

struct thread_message {
    window_handle target = nullptr;  // null: a message to the thread itself
    std::uint32_t message = 0;
    std::uintptr_t wparam = 0;
    std::intptr_t lparam = 0;
};

using window_procedure = std::function<void(const thread_message&)>;

// The calling thread's queue; posting to a thread without one fails.
void create_message_queue();
// Drops the calling thread's queue and its windows' registrations.
void destroy_message_queue();

// A window belongs to the thread that registers it, which must have a queue.
window_handle register_window(window_procedure procedure);
void unregister_window(window_handle target);

// False when the thread (or the window's thread) has no queue.
bool post_thread_message(thread_id thread, std::uint32_t message, std::uintptr_t wparam = 0, std::intptr_t lparam = 0);
bool post_message(window_handle target, std::uint32_t message, std::uintptr_t wparam = 0, std::intptr_t lparam = 0);

// Takes the next message of the calling thread's queue; false when empty.
bool peek_message(thread_message& taken);
// Keyboard translation has nothing to do here; kept for the message loop's shape.
inline void translate_message(const thread_message&) {}
// Calls the target window's procedure (nothing for an unregistered window).
void dispatch_message(const thread_message& message);
// Calls `visit` for every window registered by `thread`, in registration order.
void enum_thread_windows(thread_id thread, const std::function<void(window_handle)>& visit);

// An auto-reset event that a message-pumping wait can watch.
class wake_event {
public:
    wake_event();
    ~wake_event();
    wake_event(const wake_event&) = delete;
    wake_event& operator=(const wake_event&) = delete;
    void set();

private:
    friend bool wait_pumping_messages(wake_event&, std::uint32_t);
    struct state;
    std::shared_ptr<state> state_;
};

constexpr std::uint32_t infinite_wait = std::numeric_limits<std::uint32_t>::max();

// Waits until `event` is set (true, the event is reset) or `timeout_ms`
// passed (false). Messages that arrive meanwhile are removed and handled:
// WM_QUIT is dropped, a message to a window is dispatched to it, a message
// to the thread is handed to every window of the thread. The calling
// thread must have a queue.
bool wait_pumping_messages(wake_event& event, std::uint32_t timeout_ms = infinite_wait);

// Names the calling thread for debuggers (at most 15 characters kept).
void set_current_thread_name(const char* name);
std::string current_thread_name();

}  // namespace platform
}  // namespace Mrv
