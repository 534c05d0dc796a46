// The capture worker writing into a pipe whose reader holds it open and takes nothing: the
// worker fills it and then waits in its write (Linux: for room; Windows: inside WriteFile),
// and a stop must still end it, with or without a cancel of the worker thread's own I/O.
// Runs natively and, in the Windows build, under Wine. Then the stop's bound, through fakes,
// and a worker that no cancel reaches, which the stop leaves behind detached.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <string>
#include <cstdint>
#include <cstdio>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "audio/capture/capture_worker.h"
#include "capture_test_support.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>

#include <csignal>
#endif

namespace quorle::capture {
namespace {

using namespace std::chrono_literals;

// The pipe and the stream the worker writes it through. Windows: the process's standard
// output, whose standard handle is the pipe for the test's duration (the C runtime, which the
// test framework prints through, keeps its own handle). Linux: the descriptor writer that
// standard output uses, on the pipe (descriptor 1 stays the test framework's).
class StandardOutputPipe {
  public:
    StandardOutputPipe() {
#ifdef _WIN32
        EXPECT_TRUE(CreatePipe(&read_, &write_, nullptr, 0));
        saved_ = GetStdHandle(STD_OUTPUT_HANDLE);
        SetStdHandle(STD_OUTPUT_HANDLE, write_);
#else
        int ends[2] = {-1, -1};
        EXPECT_EQ(pipe(ends), 0);
        read_ = ends[0];
        write_ = ends[1];
        writer_ = file_writer(write_);
        stream_ = std::make_unique<LockedStream>(*writer_, lock_);
#endif
    }
    OutputStream& stream() {
#ifdef _WIN32
        return standard_output();
#else
        return *stream_;
#endif
    }
    ~StandardOutputPipe() {
        close_write_end();
        close_read_end();
    }
    StandardOutputPipe(const StandardOutputPipe&) = delete;
    StandardOutputPipe& operator=(const StandardOutputPipe&) = delete;

    // Bytes the reader has not taken (under Wine including a write still waiting to be
    // taken, which a cancel withdraws whole).
    [[nodiscard]] std::uint64_t unread() const {
#ifdef _WIN32
        DWORD available = 0;
        return PeekNamedPipe(read_, nullptr, 0, nullptr, &available, nullptr) ? available : 0;
#else
        int available = 0;
        return ioctl(read_, FIONREAD, &available) == 0 ? static_cast<std::uint64_t>(available) : 0;
#endif
    }
    // The reader goes away: a blocked write then fails (the way out of a hung stop).
    void close_read_end() {
#ifdef _WIN32
        if (read_ != nullptr) CloseHandle(read_);
        read_ = nullptr;
#else
        if (read_ >= 0) close(read_);
        read_ = -1;
#endif
    }

  private:
    void close_write_end() {
#ifdef _WIN32
        if (write_ == nullptr) return;
        SetStdHandle(STD_OUTPUT_HANDLE, saved_);
        CloseHandle(write_);
        write_ = nullptr;
#else
        if (write_ >= 0) close(write_);
        write_ = -1;
#endif
    }

#ifdef _WIN32
    HANDLE read_ = nullptr;
    HANDLE write_ = nullptr;
    HANDLE saved_ = nullptr;
#else
    int read_ = -1;
    int write_ = -1;
    std::unique_ptr<RawWriter> writer_;
    std::mutex lock_;
    std::unique_ptr<LockedStream> stream_;
#endif
};

// The worker's streams, without its diagnostics.
WorkerOptions quiet_options(OutputStream& out, OutputStream& err) {
    WorkerOptions options;
    options.out = &out;
    options.err = &err;
    options.diagnostics = false;
    return options;
}

void stop_a_worker_that_the_reader_never_takes(bool cancel_thread_io);

TEST(CaptureWorkerStop, AStopEndsAWriteThatTheReaderNeverTakes) {
#ifndef _WIN32
    // As in the programs: a reader that goes away is a write error, not a signal.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    struct Row {
        const char* name;
        bool cancel_thread_io;
    };
    // Without the thread's handle (as when it cannot be opened) only the cancel of the
    // standard output handle's writes is left to end the write.
    const Row rows[] = {{"thread and handle cancel", true}, {"handle cancel only", false}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        stop_a_worker_that_the_reader_never_takes(row.cancel_thread_io);
    }
}

void stop_a_worker_that_the_reader_never_takes(bool cancel_thread_io) {
    StandardOutputPipe pipe;
    testing::RecordingStream err;
    auto stop = std::make_shared<std::atomic<bool>>(false);
    WorkerOptions options = quiet_options(pipe.stream(), err);
    options.cancel_thread_io = cancel_thread_io;
    auto pipeline = start_capture_worker(2, 48000, stop, options);
    ASSERT_TRUE(pipeline);

    // Capture goes on (20 ms of audio every 5 ms) until the pipe is full: the unread count
    // then stays put while audio keeps coming.
    const std::vector<float> audio(2 * 960, 0.25f);
    std::uint64_t full = 0;
    auto unchanged_since = std::chrono::steady_clock::now();
    const auto give_up = unchanged_since + 60s;
    for (;;) {
        (void)pipeline->sink.push_samples(audio.data(), audio.size());
        std::this_thread::sleep_for(5ms);
        const auto now = std::chrono::steady_clock::now();
        if (const std::uint64_t unread = pipe.unread(); unread != full) {
            full = unread;
            unchanged_since = now;
        } else if (full > 0 && now - unchanged_since > 300ms) {
            break;
        }
        ASSERT_LT(now, give_up) << "the worker never filled the pipe";
    }
    EXPECT_EQ(full % 1920, 0u) << "whole blocks until the pipe was full";

    // The stop, on a thread of its own, so that a worker that never ends fails the test
    // instead of hanging it.
    const auto stopping = std::chrono::steady_clock::now();
    pipeline->sink.reset();
    pipeline->worker.clear_running();
    auto stopped =
        std::async(std::launch::async, [&] { return stop_capture_worker(pipeline->worker); });
    if (stopped.wait_for(10s) != std::future_status::ready) {
        ADD_FAILURE() << "the stop did not return within 10 s";
        pipe.close_read_end();
        stopped.wait();
    }
    // Ended by the cancel, not given up on.
    EXPECT_EQ(stopped.get(), WorkerStop::Ended) << "given up on: no cancel reached the write";
    EXPECT_FALSE(pipeline->worker.joinable());
    const auto took = std::chrono::steady_clock::now() - stopping;
    std::fprintf(stderr, "pipe full at %llu bytes; the worker ended %lld ms after the stop\n",
                 static_cast<unsigned long long>(full),
                 static_cast<long long>(
                     std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
    // Cut short by the stop, not failed by the reader: the shared stop flag stays clear,
    // nothing was written after the stop (a waiting block is withdrawn whole), and nothing
    // was reported.
    EXPECT_FALSE(stop->load(std::memory_order_acquire));
    const std::uint64_t after = pipe.unread();
    EXPECT_LE(after, full);
    EXPECT_EQ(after % 1920, 0u);
    EXPECT_TRUE(err.pieces().empty());
}

// A worker that ends after a given number of cancels (never: -1). Each wait lasts its whole
// limit on the fake clock when the worker has not ended.
class FakeEndWait final : public WorkerEndWait {
  public:
    FakeEndWait(testing::FakeClock& clock, int ends_after_cancels)
        : clock_(clock), ends_after_(ends_after_cancels) {}
    bool wait_finished(std::chrono::milliseconds limit) override {
        waits.push_back(limit);
        if (ends_after_ >= 0 && cancels >= ends_after_) return true;
        clock_.advance(limit);
        return false;
    }
    void cancel_writes() override { ++cancels; }
    int cancels = 0;
    std::vector<std::chrono::milliseconds> waits;

  private:
    testing::FakeClock& clock_;
    int ends_after_;
};

TEST(CaptureWorkerStop, TheStopCancelsUntilTheWorkerEndsAndGivesUpAfterTheBound) {
    struct Row {
        const char* name;
        int ends_after_cancels;
        WorkerStop outcome;
        int cancels;
    };
    // Given up at the first check at or past 2 s: 50 ms of grace, then 98 cancels 20 ms apart
    // (50 + 97 * 20 = 1990 ms is short of the bound, 50 + 98 * 20 = 2010 ms is past it).
    const Row rows[] = {
        {"ends by itself within the grace", 0, WorkerStop::Ended, 0},
        {"ends after the first cancel", 1, WorkerStop::Ended, 1},
        {"ends after the 98th cancel, as the bound falls due", 98, WorkerStop::Ended, 98},
        {"never ends", -1, WorkerStop::GaveUp, 98},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        testing::FakeClock clock;
        const auto start = clock.now();
        FakeEndWait worker(clock, row.ends_after_cancels);
        EXPECT_EQ(await_worker_end(worker, clock), row.outcome);
        EXPECT_EQ(worker.cancels, row.cancels);
        ASSERT_FALSE(worker.waits.empty());
        EXPECT_EQ(worker.waits.front(), kWorkerEndGrace);
        for (std::size_t i = 1; i < worker.waits.size(); ++i)
            EXPECT_EQ(worker.waits[i], kWorkerCancelRepeat);
        if (row.outcome == WorkerStop::GaveUp) {
            EXPECT_GE(clock.now() - start, kWorkerStopBound);
            EXPECT_LT(clock.now() - start, kWorkerStopBound + kWorkerCancelRepeat);
        }
    }
}

// Starts the worker's body only once the test opens the gate, so the worker ignores its stop
// the way a write that no cancel reaches would; tells when the body has run.
class GatedLauncher final : public ThreadLauncher {
  public:
    struct Gate {
        std::mutex lock;
        std::condition_variable changed;
        bool open = false;
        bool done = false;
    };
    std::expected<std::thread, ThreadStartError> launch(const std::string& name,
                                                        std::function<void()> body) override {
        return system_thread_launcher().launch(name, [gate = gate, body = std::move(body)] {
            std::unique_lock guard(gate->lock);
            gate->changed.wait(guard, [&] { return gate->open; });
            guard.unlock();
            body();
            guard.lock();
            gate->done = true;
            gate->changed.notify_all();
        });
    }
    std::shared_ptr<Gate> gate = std::make_shared<Gate>();
};

TEST(CaptureWorkerStop, AWorkerThatNoCancelEndsIsLeftBehindDetached) {
    GatedLauncher launcher;
    testing::RecordingStream out;
    testing::RecordingStream err;
    WorkerOptions options = quiet_options(out, err);
    options.launcher = &launcher;
    auto pipeline = start_capture_worker(2, 48000, nullptr, options);
    ASSERT_TRUE(pipeline);
    pipeline->sink.reset();

    // Real time: about kWorkerStopBound.
    EXPECT_EQ(stop_capture_worker(pipeline->worker), WorkerStop::GaveUp);
    EXPECT_FALSE(pipeline->worker.joinable()) << "detached, so destroying it cannot terminate";
    EXPECT_TRUE(worker_abandoned());

    // The detached thread still owns its loop: let it run to its end before the streams go.
    std::unique_lock guard(launcher.gate->lock);
    launcher.gate->open = true;
    launcher.gate->changed.notify_all();
    EXPECT_TRUE(launcher.gate->changed.wait_for(guard, 10s, [&] { return launcher.gate->done; }));
    EXPECT_TRUE(out.pieces().empty());
}

}  // namespace
}  // namespace quorle::capture
