#pragma once
// Thread creation with a name. Linux keeps the first 15 bytes of a name (the kernel limit);
// a failed naming never fails the start. A failed creation reports the operating system's
// error number and description.
#include <functional>
#include <string>
#include <thread>

#include "common/result.h"

namespace quorle {

// Why a thread could not be created: the operating system's own error number.
struct ThreadStartError {
    int code = 0;
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

// Names the calling thread; Linux names are cut to their first 15 bytes. Failures are ignored.
void set_current_thread_name(const std::string& name);

// The name a thread really gets on this platform (cut to 15 bytes on Linux).
[[nodiscard]] std::string effective_thread_name(const std::string& name);

// "<prefix><description> (os error N)" for a failed thread start.
[[nodiscard]] std::string thread_start_message(std::string_view prefix, ThreadStartError error);

}  // namespace quorle
