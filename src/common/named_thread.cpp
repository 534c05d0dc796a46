#include "common/named_thread.h"
#include "common/platform_error.h"

#include <system_error>

namespace quorle {
namespace {

class SystemThreadLauncher final : public ThreadLauncher {
  public:
    std::expected<std::thread, ThreadStartError> launch(const std::string& name,
                                                        std::function<void()> body) override {
        try {
            return std::thread([name, body = std::move(body)]() {
                set_current_thread_name(name);
                body();
            });
        } catch (const std::system_error& error) {
            return std::unexpected(ThreadStartError{error.code()});
        }
    }
};

}  // namespace

ThreadLauncher& system_thread_launcher() {
    static SystemThreadLauncher launcher;
    return launcher;
}

ThreadIoCancel::~ThreadIoCancel() {
    if (thread_ != 0) close_thread_for_io_cancel(thread_);
}

void ThreadIoCancel::attach_current_thread() {
    const std::uintptr_t thread = open_current_thread_for_io_cancel();
    const std::lock_guard guard(lock_);
    thread_ = thread;
}

void ThreadIoCancel::finish() {
    const std::lock_guard guard(lock_);
    finished_ = true;
    if (thread_ != 0) close_thread_for_io_cancel(thread_);
    thread_ = 0;
    finished_changed_.notify_all();
}

bool ThreadIoCancel::wait_finished(std::chrono::milliseconds limit) {
    std::unique_lock guard(lock_);
    return finished_changed_.wait_for(guard, limit, [this] { return finished_; });
}

void ThreadIoCancel::cancel_io() {
    // Under the lock, so that the thread cannot finish and close its handle meanwhile.
    const std::lock_guard guard(lock_);
    if (!finished_ && thread_ != 0) cancel_thread_io(thread_);
}

std::string thread_start_message(std::string_view prefix, ThreadStartError error) {
    return os_error_message(prefix, error.code);
}

}  // namespace quorle
