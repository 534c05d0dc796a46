#include "audio_host/capture_run/timed_wait.h"

namespace quorle::host {
namespace {

class SteadyTimedWait final : public TimedWait {
  public:
    time_point now() const override { return std::chrono::steady_clock::now(); }
    void wait_until(std::condition_variable& condition, std::unique_lock<std::mutex>& lock,
                    time_point deadline) override {
        condition.wait_until(lock, deadline);
    }
};

}  // namespace

TimedWait& system_timed_wait() {
    // Never destroyed: the console handler may use it while static objects are destroyed.
    static TimedWait* const time = new SteadyTimedWait();
    return *time;
}

}  // namespace quorle::host
