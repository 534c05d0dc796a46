#pragma once
// Simulated time for the limited waits: a wait runs the next scheduled action that falls
// before its deadline (moving the clock to that action's time), or else moves the clock to
// the deadline at once. No test waits for a real limit.
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

#include "audio_host/capture_run/timed_wait.h"

namespace quorle::host::testing {

class FakeTime final : public TimedWait {
  public:
    FakeTime()
        : start_(std::chrono::steady_clock::time_point{} + std::chrono::hours(1)), now_(start_) {}

    time_point now() const override {
        std::lock_guard lock(mutex_);
        return now_;
    }

    void wait_until(std::condition_variable&, std::unique_lock<std::mutex>& lock,
                    time_point deadline) override {
        lock.unlock();
        std::function<void()> action;
        {
            std::lock_guard guard(mutex_);
            waits_.push_back(deadline - now_);
            auto next = actions_.begin();
            if (next != actions_.end() && next->first <= deadline) {
                if (next->first > now_) now_ = next->first;
                action = std::move(next->second);
                actions_.erase(next);
            } else if (deadline > now_) {
                now_ = deadline;
            }
        }
        if (action) action();
        lock.lock();
    }

    // Runs `action` when simulated time reaches start + `offset`.
    void at(std::chrono::nanoseconds offset, std::function<void()> action) {
        std::lock_guard lock(mutex_);
        actions_.emplace(start_ + offset, std::move(action));
    }

    // Runs, in time order, every action scheduled up to start + `offset`, and moves the clock
    // there (a platform that completes after the waiting side has given up).
    void run_until(std::chrono::nanoseconds offset) {
        for (;;) {
            std::function<void()> action;
            {
                std::lock_guard lock(mutex_);
                auto next = actions_.begin();
                if (next == actions_.end() || next->first > start_ + offset) {
                    if (start_ + offset > now_) now_ = start_ + offset;
                    return;
                }
                if (next->first > now_) now_ = next->first;
                action = std::move(next->second);
                actions_.erase(next);
            }
            action();
        }
    }

    // Simulated time since the start.
    [[nodiscard]] std::chrono::nanoseconds elapsed() const { return now() - start_; }

    // The length of every wait asked for (deadline minus the time of the call).
    [[nodiscard]] std::vector<std::chrono::nanoseconds> waits() const {
        std::lock_guard lock(mutex_);
        return waits_;
    }

  private:
    mutable std::mutex mutex_;
    const time_point start_;
    time_point now_;
    std::multimap<time_point, std::function<void()>> actions_;
    std::vector<std::chrono::nanoseconds> waits_;
};

}  // namespace quorle::host::testing
