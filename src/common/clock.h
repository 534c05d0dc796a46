#pragma once
// A monotonic clock that tests can replace, so that time rules (once-a-second lines,
// time-outs) are tested without sleeping.
#include <chrono>

namespace quorle {

class MonotonicClock {
  public:
    using time_point = std::chrono::steady_clock::time_point;
    virtual ~MonotonicClock() = default;
    [[nodiscard]] virtual time_point now() const = 0;
    // Sleeps for about `duration`. The real clock sleeps with sub-millisecond precision
    // (a high-resolution waitable timer on Windows, whose plain Sleep lasts a whole tick).
    virtual void sleep_for(std::chrono::nanoseconds duration) = 0;
};

// The process's real monotonic clock.
[[nodiscard]] MonotonicClock& system_clock();

}  // namespace quorle
