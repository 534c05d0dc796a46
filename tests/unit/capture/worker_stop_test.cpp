// The capture worker against a real pipe whose reader holds it open and takes nothing: the
// worker fills it and blocks in its write (Linux: the wait for room; Windows: WriteFile), and
// a stop must still end it. Runs natively and, in the Windows build, under Wine.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio/capture/capture_worker.h"
#include "capture_test_support.h"
#include "common/std_streams.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>

#include <csignal>
#endif

namespace quorle::capture {
namespace {

using namespace std::chrono_literals;
using testing::RecordingStream;

// An anonymous pipe; the test holds both ends and never reads.
class QuietPipe {
  public:
    QuietPipe() {
#ifdef _WIN32
        HANDLE read_end = nullptr;
        HANDLE write_end = nullptr;
        EXPECT_TRUE(CreatePipe(&read_end, &write_end, nullptr, 0));
        read_ = reinterpret_cast<std::intptr_t>(read_end);
        write_ = reinterpret_cast<std::intptr_t>(write_end);
#else
        int ends[2] = {-1, -1};
        EXPECT_EQ(pipe(ends), 0);
        read_ = ends[0];
        write_ = ends[1];
#endif
    }
    ~QuietPipe() {
        close_read_end();
        close_end(write_);
    }
    QuietPipe(const QuietPipe&) = delete;
    QuietPipe& operator=(const QuietPipe&) = delete;

    [[nodiscard]] std::intptr_t read_end() const {
        return read_;
    }
    [[nodiscard]] std::intptr_t write_end() const {
        return write_;
    }
    // The reader goes away: a blocked write then fails (the way out of a hung stop).
    void close_read_end() {
        close_end(read_);
    }

  private:
    static void close_end(std::intptr_t& end) {
#ifdef _WIN32
        if (end != 0) CloseHandle(reinterpret_cast<HANDLE>(end));
        end = 0;
#else
        if (end >= 0) close(static_cast<int>(end));
        end = -1;
#endif
    }
    std::intptr_t read_;
    std::intptr_t write_;
};

// The real writer of the pipe, counting the bytes it hands over.
class CountingWriter final : public RawWriter {
  public:
    explicit CountingWriter(std::intptr_t file) : inner_(file_writer(file)) {}
    WriteOutcome write_some(const char* data, std::size_t size) override {
        const WriteOutcome outcome = inner_->write_some(data, size);
        bytes.fetch_add(outcome.written, std::memory_order_relaxed);
        if (outcome.error != 0) last_error.store(outcome.error, std::memory_order_relaxed);
        return outcome;
    }
    bool wait_for_room(std::chrono::milliseconds limit) override {
        return inner_->wait_for_room(limit);
    }
    std::atomic<std::uint64_t> bytes{0};
    std::atomic<std::uint32_t> last_error{0};

  private:
    std::unique_ptr<RawWriter> inner_;
};

// The stream the worker writes to, and how many bytes reached the pipe.
struct PipeOutput {
    virtual ~PipeOutput() = default;
    virtual OutputStream& stream() = 0;
    [[nodiscard]] virtual std::uint64_t bytes() const = 0;
};

// Through a counting writer of the pipe (both platforms).
class CountedPipeOutput final : public PipeOutput {
  public:
    explicit CountedPipeOutput(std::intptr_t file) : writer_(file), stream_(writer_, lock_) {}
    OutputStream& stream() override { return stream_; }
    std::uint64_t bytes() const override { return writer_.bytes.load(std::memory_order_relaxed); }

  private:
    CountingWriter writer_;
    std::mutex lock_;
    LockedStream stream_;
};

#ifdef _WIN32
// Through the process's own standard output, whose handle is the pipe for the test's
// duration (the C runtime, which the test framework prints through, keeps its own handle).
// The bytes are counted at the pipe's reading end.
class StandardOutputPipe final : public PipeOutput {
  public:
    StandardOutputPipe(std::intptr_t read_end, std::intptr_t write_end)
        : read_end_(reinterpret_cast<HANDLE>(read_end)), saved_(GetStdHandle(STD_OUTPUT_HANDLE)) {
        SetStdHandle(STD_OUTPUT_HANDLE, reinterpret_cast<HANDLE>(write_end));
    }
    ~StandardOutputPipe() override { SetStdHandle(STD_OUTPUT_HANDLE, saved_); }
    StandardOutputPipe(const StandardOutputPipe&) = delete;
    StandardOutputPipe& operator=(const StandardOutputPipe&) = delete;
    OutputStream& stream() override { return standard_output(); }
    std::uint64_t bytes() const override {
        DWORD available = 0;
        if (!PeekNamedPipe(read_end_, nullptr, 0, nullptr, &available, nullptr)) return 0;
        return available;
    }

  private:
    HANDLE read_end_;
    HANDLE saved_;
};
#endif

// Fills the pipe through `output` and stops the worker while its write waits; returns how
// long the stop took, or fails the test.
void stop_while_the_write_waits(QuietPipe& pipe, PipeOutput& output) {
    RecordingStream err;
    auto stop = std::make_shared<std::atomic<bool>>(false);
    WorkerOptions options;
    options.out = &output.stream();
    options.err = &err;
    options.diagnostics = false;
    auto pipeline = start_capture_worker(2, 48000, stop, options);
    ASSERT_TRUE(pipeline);

    // Capture goes on (about 20 ms of audio per push) until the pipe is full: the byte
    // count then stays put while audio keeps coming.
    const std::vector<float> audio(2 * 1000, 0.25f);
    std::uint64_t seen = 0;
    auto unchanged_since = std::chrono::steady_clock::now();
    const auto give_up = unchanged_since + 60s;
    for (;;) {
        (void)pipeline->sink.push_samples(audio.data(), audio.size());
        std::this_thread::sleep_for(5ms);
        const auto now = std::chrono::steady_clock::now();
        const std::uint64_t bytes = output.bytes();
        if (bytes != seen) {
            seen = bytes;
            unchanged_since = now;
        } else if (seen > 0 && now - unchanged_since > 300ms) {
            break;
        }
        ASSERT_LT(now, give_up) << "the worker never filled the pipe";
    }
    EXPECT_EQ(seen % 1920, 0u) << "whole blocks until the pipe was full";
    std::fprintf(stderr, "the pipe took %llu bytes\n", static_cast<unsigned long long>(seen));

    // The stop, on a thread of its own, so that a worker that never ends fails the test
    // instead of hanging it.
    const auto stopping = std::chrono::steady_clock::now();
    pipeline->sink.reset();
    pipeline->worker.clear_running();
    auto stopped = std::async(std::launch::async, [&] { stop_capture_worker(pipeline->worker); });
    const bool ended = stopped.wait_for(10s) == std::future_status::ready;
    const auto took = std::chrono::steady_clock::now() - stopping;
    if (!ended) {
        ADD_FAILURE() << "the worker did not end within 10 s of the stop";
        pipe.close_read_end();
        stopped.wait();
    }
    std::fprintf(stderr, "worker ended %lld ms after the stop\n",
                 static_cast<long long>(
                     std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
    // Cut short by the stop, not failed by the reader: the shared stop flag stays clear,
    // nothing was written after the stop, and nothing was reported.
    EXPECT_FALSE(stop->load(std::memory_order_acquire));
    // (A pipe's reading end under Wine also counts a write still waiting to be taken, which
    // the cancel withdraws whole.)
    const std::uint64_t after = output.bytes();
    EXPECT_LE(after, seen);
    EXPECT_EQ(after % 1920, 0u);
    EXPECT_TRUE(err.pieces().empty());
}

TEST(CaptureWorkerStop, AStopEndsAWriteThatTheReaderNeverTakes) {
#ifndef _WIN32
    // As in the programs: a reader that goes away is a write error, not a signal.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    QuietPipe pipe;
    CountedPipeOutput output(pipe.write_end());
    stop_while_the_write_waits(pipe, output);
}

#ifdef _WIN32
TEST(CaptureWorkerStop, AStopEndsABlockedWriteOfStandardOutput) {
    QuietPipe pipe;
    StandardOutputPipe output(pipe.read_end(), pipe.write_end());
    stop_while_the_write_waits(pipe, output);
}
#endif

}  // namespace
}  // namespace quorle::capture
