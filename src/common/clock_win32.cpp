#include <windows.h>

#include "common/clock.h"

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace quorle {
namespace {

// A waitable timer per thread: high resolution where the system offers it (Windows 10 1803
// and later), otherwise an ordinary one.
class ThreadTimer {
  public:
    ThreadTimer() {
        handle_ = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                         TIMER_ALL_ACCESS);
        if (handle_ == nullptr) {
            handle_ = CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS);
        }
    }
    ~ThreadTimer() {
        if (handle_ != nullptr) CloseHandle(handle_);
    }
    ThreadTimer(const ThreadTimer&) = delete;
    ThreadTimer& operator=(const ThreadTimer&) = delete;

    void sleep(std::chrono::nanoseconds duration) {
        // Due times are in 100-ns units; negative means relative to now.
        LARGE_INTEGER due{};
        due.QuadPart = -static_cast<LONGLONG>((duration.count() + 99) / 100);
        if (handle_ != nullptr && SetWaitableTimer(handle_, &due, 0, nullptr, nullptr, FALSE)) {
            WaitForSingleObject(handle_, INFINITE);
            return;
        }
        Sleep(static_cast<DWORD>((duration.count() + 999999) / 1000000));
    }

  private:
    HANDLE handle_ = nullptr;
};

class SteadyClock final : public MonotonicClock {
  public:
    time_point now() const override { return std::chrono::steady_clock::now(); }
    void sleep_for(std::chrono::nanoseconds duration) override {
        if (duration.count() <= 0) return;
        thread_local ThreadTimer timer;
        timer.sleep(duration);
    }
};

}  // namespace

MonotonicClock& system_clock() {
    static SteadyClock clock;
    return clock;
}

}  // namespace quorle
