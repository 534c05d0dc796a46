#include "common/named_thread.h"

#include <system_error>

#include "common/platform_error.h"

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
            return std::unexpected(ThreadStartError{error.code().value()});
        }
    }
};

}  // namespace

ThreadLauncher& system_thread_launcher() {
    static SystemThreadLauncher launcher;
    return launcher;
}

std::string thread_start_message(std::string_view prefix, ThreadStartError error) {
    return os_error_message(prefix, error.code);
}

}  // namespace quorle
