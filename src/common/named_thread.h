#pragma once
// Thread creation with a name. Linux keeps the first 15 bytes of a name (the kernel limit);
// a failed naming never fails the start. A failed creation reports the runtime's error
// number with that error's own description.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>

#include "common/result.h"

namespace quorle {

// Why a thread could not be created: the error the C++ runtime reported
// (std::system_error::code()), whose number is an errno value on every platform, not a
// Windows error code.
struct ThreadStartError {
    ThreadStartError(std::error_code error) : code(error) {}  // NOLINT: implicit on purpose
    // An errno value, as the C++ runtime reports a failed thread creation.
    ThreadStartError(int errno_value) : code(errno_value, std::generic_category()) {}  // NOLINT
    std::error_code code;
};

// Starts threads. The real launcher creates operating-system threads; tests substitute one
// that fails with a chosen error number.
class ThreadLauncher {
  public:
    virtual ~ThreadLauncher() = default;
    [[nodiscard]] virtual std::expected<std::thread, ThreadStartError> launch(
        const std::string& name, std::function<void()> body) = 0;
};

// The process's real launcher.
[[nodiscard]] ThreadLauncher& system_thread_launcher();

// Lets one thread end the blocking synchronous I/O that another thread is in. The thread
// itself calls attach_current_thread() before its first such I/O and finish() after its
// last; any other thread may call cancel_io() and wait_finished() meanwhile.
// Windows: cancel_io() is CancelSynchronousIo on the thread (a call that finds no I/O in
// progress does nothing, so a caller repeats it until the thread has finished). Linux: the
// waits of a stoppable write are bounded polls that need no cancelling, and cancel_io()
// does nothing.
class ThreadIoCancel {
  public:
    ThreadIoCancel() = default;
    ~ThreadIoCancel();
    ThreadIoCancel(const ThreadIoCancel&) = delete;
    ThreadIoCancel& operator=(const ThreadIoCancel&) = delete;

    // On the thread to be cancelled. A thread handle that cannot be opened leaves cancel_io()
    // without effect.
    void attach_current_thread();
    // On the same thread, after its last cancellable I/O: cancel_io() does nothing from now on.
    void finish();
    // Whether finish() has come, waiting for it at most `limit`.
    [[nodiscard]] bool wait_finished(std::chrono::milliseconds limit);
    // Cancels the I/O the thread is blocked in right now, if any.
    void cancel_io();

  private:
    std::mutex lock_;
    std::condition_variable finished_changed_;
    bool finished_ = false;      // guarded by lock_
    std::uintptr_t thread_ = 0;  // guarded by lock_: the platform's thread handle, 0 for none
};

// The platform half of ThreadIoCancel: a handle of the calling thread that allows cancelling
// its I/O (Windows: THREAD_TERMINATE access; Linux: 0), the cancel call and the close.
[[nodiscard]] std::uintptr_t open_current_thread_for_io_cancel();
void cancel_thread_io(std::uintptr_t thread);
void close_thread_for_io_cancel(std::uintptr_t thread);

// Names the calling thread; Linux names are cut to their first 15 bytes. Failures are ignored.
void set_current_thread_name(const std::string& name);

// The name a thread really gets on this platform (cut to 15 bytes on Linux).
[[nodiscard]] std::string effective_thread_name(const std::string& name);

// "<prefix><description> (os error N)" for a failed thread start: the error's own
// description (its category's message) and number.
[[nodiscard]] std::string thread_start_message(std::string_view prefix, ThreadStartError error);

}  // namespace quorle
