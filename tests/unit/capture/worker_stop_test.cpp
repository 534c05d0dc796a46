// The capture worker writing into a pipe whose reader holds it open and takes nothing: the
// worker fills it and then waits in its write (Linux: for room; Windows: inside WriteFile),
// and a stop must still end it. Runs natively and, in the Windows build, under Wine.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
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

TEST(CaptureWorkerStop, AStopEndsAWriteThatTheReaderNeverTakes) {
#ifndef _WIN32
    // As in the programs: a reader that goes away is a write error, not a signal.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    StandardOutputPipe pipe;
    testing::RecordingStream err;
    auto stop = std::make_shared<std::atomic<bool>>(false);
    WorkerOptions options;
    options.out = &pipe.stream();
    options.err = &err;
    options.diagnostics = false;
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
    auto stopped = std::async(std::launch::async, [&] { stop_capture_worker(pipeline->worker); });
    if (stopped.wait_for(10s) != std::future_status::ready) {
        ADD_FAILURE() << "the worker did not end within 10 s of the stop";
        pipe.close_read_end();
        stopped.wait();
    }
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

}  // namespace
}  // namespace quorle::capture
