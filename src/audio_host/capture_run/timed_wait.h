#pragma once
// Time for the waits that have a limit (the activation outcome, the console shutdown grace):
// "now" and a condition-variable wait up to a deadline. Tests substitute simulated time, so
// that no test waits for a real limit.
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace quorle::host {

class TimedWait {
  public:
    using time_point = std::chrono::steady_clock::time_point;
    virtual ~TimedWait() = default;
    [[nodiscard]] virtual time_point now() const = 0;
    // Waits on `condition` (with `lock` held on entry and on return) until it is notified or
    // `deadline` has passed. May return early; callers test their condition again.
    virtual void wait_until(std::condition_variable& condition, std::unique_lock<std::mutex>& lock,
                            time_point deadline) = 0;
};

// Real time: std::chrono::steady_clock and the condition variable's own timed wait.
[[nodiscard]] TimedWait& system_timed_wait();

}  // namespace quorle::host
