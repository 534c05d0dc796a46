#pragma once
// Test doubles for the capture worker: a clock that only moves when told (or when slept on),
// an output stream that records each write and can stall or fail on demand, and thread
// launchers that record the name or refuse to start.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "common/clock.h"
#include "common/named_thread.h"
#include "common/std_streams.h"

namespace quorle::capture::testing {

// Time starts at an arbitrary point and advances only by sleep_for() and advance().
class FakeClock final : public MonotonicClock {
  public:
    time_point now() const override {
        const std::lock_guard<std::mutex> guard(lock_);
        return now_;
    }
    void sleep_for(std::chrono::nanoseconds duration) override {
        const std::lock_guard<std::mutex> guard(lock_);
        now_ += duration;
        slept_ += duration;
        ++sleeps_;
    }
    void advance(std::chrono::nanoseconds duration) {
        const std::lock_guard<std::mutex> guard(lock_);
        now_ += duration;
    }
    std::uint64_t sleeps() const {
        const std::lock_guard<std::mutex> guard(lock_);
        return sleeps_;
    }
    std::chrono::nanoseconds slept() const {
        const std::lock_guard<std::mutex> guard(lock_);
        return slept_;
    }

  private:
    mutable std::mutex lock_;
    time_point now_ = time_point{} + std::chrono::hours(1000);
    std::uint64_t sleeps_ = 0;
    std::chrono::nanoseconds slept_{0};
};

// Records every successful write as one piece. A closed gate makes write() wait until it
// opens; fail_after(n) makes every write after the first n fail.
class RecordingStream final : public OutputStream {
  public:
    Status write(std::string_view bytes) override {
        std::unique_lock<std::mutex> guard(lock_);
        ++waiting_;
        changed_.notify_all();
        changed_.wait(guard, [&] { return open_; });
        --waiting_;
        ++calls_;
        if (calls_ > fail_after_) {
            changed_.notify_all();
            return fail("Broken pipe (os error 32)");
        }
        pieces_.emplace_back(bytes);
        changed_.notify_all();
        return {};
    }

    void close_gate() {
        const std::lock_guard<std::mutex> guard(lock_);
        open_ = false;
    }
    void open_gate() {
        const std::lock_guard<std::mutex> guard(lock_);
        open_ = true;
        changed_.notify_all();
    }
    void fail_after(std::size_t writes) {
        const std::lock_guard<std::mutex> guard(lock_);
        fail_after_ = writes;
    }
    // Waits until a writer is held at the closed gate; false after `limit`.
    bool wait_for_stalled_writer(std::chrono::seconds limit = std::chrono::seconds(60)) {
        std::unique_lock<std::mutex> guard(lock_);
        return changed_.wait_for(guard, limit, [&] { return waiting_ > 0; });
    }
    bool stalled() const {
        const std::lock_guard<std::mutex> guard(lock_);
        return waiting_ > 0;
    }
    // Waits until `count` pieces have been written; false after `limit`.
    bool wait_for_pieces(std::size_t count, std::chrono::seconds limit = std::chrono::seconds(60)) {
        std::unique_lock<std::mutex> guard(lock_);
        return changed_.wait_for(guard, limit, [&] { return pieces_.size() >= count; });
    }
    // Waits until `count` write calls have returned; false after `limit`.
    bool wait_for_calls(std::size_t count, std::chrono::seconds limit = std::chrono::seconds(60)) {
        std::unique_lock<std::mutex> guard(lock_);
        return changed_.wait_for(guard, limit, [&] { return calls_ >= count; });
    }
    std::vector<std::string> pieces() const {
        const std::lock_guard<std::mutex> guard(lock_);
        return pieces_;
    }
    std::size_t calls() const {
        const std::lock_guard<std::mutex> guard(lock_);
        return calls_;
    }

  private:
    mutable std::mutex lock_;
    std::condition_variable changed_;
    bool open_ = true;
    std::size_t waiting_ = 0;
    std::size_t calls_ = 0;
    std::size_t fail_after_ = static_cast<std::size_t>(-1);
    std::vector<std::string> pieces_;
};

// Starts real threads and remembers the names asked for.
class RecordingLauncher final : public ThreadLauncher {
  public:
    std::expected<std::thread, ThreadStartError> launch(const std::string& name,
                                                        std::function<void()> body) override {
        names.push_back(name);
        return system_thread_launcher().launch(name, std::move(body));
    }
    std::vector<std::string> names;
};

// Refuses every start with one operating-system error number.
class FailingLauncher final : public ThreadLauncher {
  public:
    explicit FailingLauncher(int code) : code_(code) {}
    std::expected<std::thread, ThreadStartError> launch(const std::string&,
                                                        std::function<void()>) override {
        return std::unexpected(ThreadStartError{code_});
    }

  private:
    int code_;
};

}  // namespace quorle::capture::testing
