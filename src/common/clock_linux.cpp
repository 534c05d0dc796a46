#include <cerrno>
#include <ctime>

#include "common/clock.h"

namespace quorle {
namespace {

class SteadyClock final : public MonotonicClock {
  public:
    time_point now() const override { return std::chrono::steady_clock::now(); }
    void sleep_for(std::chrono::nanoseconds duration) override {
        if (duration.count() <= 0) return;
        timespec request{};
        request.tv_sec = static_cast<time_t>(duration.count() / 1000000000);
        request.tv_nsec = static_cast<long>(duration.count() % 1000000000);
        timespec remaining{};
        while (nanosleep(&request, &remaining) != 0 && errno == EINTR)
            request = remaining;
    }
};

}  // namespace

MonotonicClock& system_clock() {
    static SteadyClock clock;
    return clock;
}

}  // namespace quorle
