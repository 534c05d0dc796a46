#include "audio/capture/capture_worker_loop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <memory>
#include <string>
#include <vector>

#include "audio/capture/capture_pipeline.h"
#include "audio/capture/downmix.h"
#include "capture_test_support.h"

namespace quorle::capture {
namespace {

using std::chrono::milliseconds;
using testing::FakeClock;
using testing::RecordingStream;

// One pipeline driven pass by pass on the test thread, with a fake clock.
struct LoopFixture {
    explicit LoopFixture(bool diagnostics, std::uint64_t capacity = kRingCapacity,
                         OutputStream* output = nullptr, OutputStream* error_output = nullptr) {
        auto parts = create_capture_pipeline(2, 48000, capacity);
        EXPECT_TRUE(parts);
        sink = std::move(parts->sink);
        shared = parts->worker_side.shared;
        loop = std::make_unique<CaptureWorkerLoop>(
            std::move(parts->worker_side), stop_flag,
            WorkerIo{output != nullptr ? output : &out,
                     error_output != nullptr ? error_output : &err, &clock, diagnostics});
    }
    void passes(int count) {
        for (int i = 0; i < count; ++i)
            ASSERT_TRUE(loop->run_once());
    }
    void push_block_pair() {
        const std::vector<float> samples(2 * 1920, 0.5f);  // exactly two blocks
        (void)sink.push_samples(samples.data(), samples.size());
    }
    std::vector<std::string> lines() const { return err.pieces(); }

    FakeClock clock;
    RecordingStream out;
    RecordingStream err;
    std::shared_ptr<std::atomic<bool>> stop_flag = std::make_shared<std::atomic<bool>>(false);
    CaptureSink sink;
    std::shared_ptr<CaptureShared> shared;
    std::unique_ptr<CaptureWorkerLoop> loop;
};

TEST(DiagnosticsLine, ExactText) {
    EXPECT_EQ(diagnostics_line(48000, 2, 96000, 0, 0),
              "QUORLE_CAPTURE rate=48000 channels=2 accepted_frames=96000 dropped_frames=0 "
              "discontinuities=0\n");
    EXPECT_EQ(diagnostics_line(4294967295u, 1024, 18446744073709551615u, 7, 12),
              "QUORLE_CAPTURE rate=4294967295 channels=1024 accepted_frames=18446744073709551615 "
              "dropped_frames=7 discontinuities=12\n");
}

TEST(CaptureWorkerLoop, EmptyRingSleepsTwoMilliseconds) {
    LoopFixture f(false);
    f.passes(3);
    EXPECT_EQ(f.clock.sleeps(), 3u);
    EXPECT_EQ(f.clock.slept(), milliseconds(6));
}

TEST(CaptureWorkerLoop, DiagnosticsOnWritesALineEverySecondEvenWhenIdle) {
    LoopFixture f(true);
    f.passes(499);  // 998 ms
    EXPECT_TRUE(f.lines().empty());
    f.passes(1);  // 1000 ms
    ASSERT_EQ(f.lines().size(), 1u);
    EXPECT_EQ(f.lines()[0],
              "QUORLE_CAPTURE rate=48000 channels=2 accepted_frames=0 dropped_frames=0 "
              "discontinuities=0\n");
    f.passes(499);
    EXPECT_EQ(f.lines().size(), 1u);
    f.passes(1);
    EXPECT_EQ(f.lines().size(), 2u);
}

TEST(CaptureWorkerLoop, WithoutTheSwitchOnlyChangingDropsAreReported) {
    LoopFixture f(false, 2);
    const std::vector<float> chunk(1024, 0.0f);
    (void)f.sink.push_samples(chunk.data(), chunk.size());
    f.sink.mark_discontinuity();
    f.passes(2000);  // about 4 s without a drop: no line
    EXPECT_TRUE(f.lines().empty());

    // Three chunks into the two free slots with the worker idle: one is dropped.
    for (int i = 0; i < 3; ++i)
        (void)f.sink.push_samples(chunk.data(), chunk.size());
    ASSERT_EQ(f.shared->counters.dropped_frames.load(), 512u);
    f.passes(1);  // more than a second since the start: the drop is reported at once
    ASSERT_EQ(f.lines().size(), 1u);
    EXPECT_EQ(f.lines()[0],
              "QUORLE_CAPTURE rate=48000 channels=2 accepted_frames=1536 dropped_frames=512 "
              "discontinuities=1\n");
    f.passes(2000);  // no further drop: no further line
    EXPECT_EQ(f.lines().size(), 1u);

    // Two drops in quick succession: a line after the first, the second waits a second.
    for (int i = 0; i < 3; ++i)
        (void)f.sink.push_samples(chunk.data(), chunk.size());
    f.passes(1);
    EXPECT_EQ(f.lines().size(), 2u);
    for (int i = 0; i < 3; ++i)
        (void)f.sink.push_samples(chunk.data(), chunk.size());
    f.passes(100);
    EXPECT_EQ(f.lines().size(), 2u);
    f.passes(500);
    EXPECT_EQ(f.lines().size(), 3u);
    EXPECT_NE(f.lines()[2].find(" accepted_frames=3072 dropped_frames=2048 "), std::string::npos);
}

TEST(CaptureWorkerLoop, FirstDropLineWaitsASecondFromTheStart) {
    LoopFixture f(false, 1);
    const std::vector<float> chunk(1024, 0.0f);
    for (int i = 0; i < 2; ++i)
        (void)f.sink.push_samples(chunk.data(), chunk.size());
    f.passes(500);  // one pass takes the chunk, 499 sleep: 998 ms
    EXPECT_TRUE(f.lines().empty());
    f.passes(1);  // 1000 ms
    EXPECT_EQ(f.lines().size(), 1u);
}

TEST(CaptureWorkerLoop, WritesEachBlockAsOnePiece) {
    LoopFixture f(false);
    std::vector<float> samples(2 * 1920);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<float>(i) / 4096.0f;
    ASSERT_EQ(f.sink.push_samples(samples.data(), samples.size()), 1920u);
    f.passes(4);
    const auto pieces = f.out.pieces();
    ASSERT_EQ(pieces.size(), 2u);
    for (std::size_t b = 0; b < 2; ++b) {
        const auto bytes = downmix_to_s16le(samples.data() + b * 1920, 1920, 2);
        ASSERT_TRUE(bytes);
        EXPECT_EQ(pieces[b], std::string(bytes->begin(), bytes->end()));
    }
    EXPECT_FALSE(f.stop_flag->load());
}

TEST(CaptureWorkerLoop, FailedWriteSetsTheStopFlagQuietlyAndLaterBlocksAreSkipped) {
    LoopFixture f(true);
    f.out.fail_after(0);
    f.push_block_pair();
    f.push_block_pair();
    f.passes(600);
    EXPECT_TRUE(f.stop_flag->load());
    EXPECT_EQ(f.out.calls(), 1u);  // the failed block only
    EXPECT_TRUE(f.out.pieces().empty());
    // The diagnostics line still comes; no error message ever does.
    ASSERT_EQ(f.lines().size(), 1u);
    EXPECT_EQ(f.lines()[0].rfind("QUORLE_CAPTURE ", 0), 0u);
    // The worker keeps draining the ring so the capture side never sees it full.
    EXPECT_EQ(f.sink.free_slots(), kRingCapacity);
}

TEST(CaptureWorkerLoop, StopsAtOnceWhenRunningIsCleared) {
    LoopFixture f(true);
    f.push_block_pair();
    f.shared->running.store(false);
    EXPECT_FALSE(f.loop->run_once());
    EXPECT_EQ(f.out.calls(), 0u);
    EXPECT_TRUE(f.lines().empty());
}

// A reader that takes nothing: every look for room lasts its whole slice (on the fake clock)
// and finds none; `on_wait` runs after each look, as the capture side and the stop would
// meanwhile on their own threads.
class ReaderThatTakesNothing final : public RawWriter {
  public:
    bool wait_for_room(std::chrono::milliseconds limit) override {
        clock->advance(limit);
        ++waits;
        if (on_wait) on_wait(waits);
        return false;
    }
    WriteOutcome write_some(const char*, std::size_t size) override {
        written += size;
        return {size, 0, false};
    }
    FakeClock* clock = nullptr;
    std::function<void(int)> on_wait;
    int waits = 0;
    std::size_t written = 0;
};

// A block write that waits for the reader keeps the once-a-second drop report going, and the
// stop (the running flag cleared) ends it within one slice: nothing is written, and the
// cut-short write is not taken for a failed reader.
TEST(CaptureWorkerLoop, AWaitingWriteKeepsReportingDropsAndEndsAtTheStop) {
    ReaderThatTakesNothing reader;
    std::mutex lock;
    LockedStream stream(reader, lock);
    LoopFixture f(false, 2, &stream);
    reader.clock = &f.clock;
    const std::vector<float> chunk(1024, 0.0f);
    std::vector<std::size_t> lines_at;  // diagnostics lines seen at each look for room
    reader.on_wait = [&](int waits) {
        // The ring (2 slots) overflows every 200 ms while the worker is held.
        if (waits % 4 == 0) {
            for (int i = 0; i < 3; ++i)
                (void)f.sink.push_samples(chunk.data(), chunk.size());
        }
        lines_at.push_back(f.lines().size());
        if (waits == 70) f.shared->running.store(false, std::memory_order_release);
    };
    for (int i = 0; i < 2; ++i)
        (void)f.sink.push_samples(chunk.data(), chunk.size());
    f.passes(2);  // the second chunk completes a block, whose write then waits
    EXPECT_EQ(reader.waits, 70);
    EXPECT_EQ(reader.written, 0u);
    EXPECT_FALSE(f.stop_flag->load());
    EXPECT_FALSE(f.loop->run_once());
    // 70 slices of 50 ms: lines at 1 s, 2 s and 3 s of the wait, each after new drops.
    ASSERT_EQ(f.lines().size(), 3u);
    for (const std::string& line : f.lines())
        EXPECT_EQ(line.rfind("QUORLE_CAPTURE rate=48000 channels=2 ", 0), 0u) << line;
    // The first line comes with the first look after a whole second (20 slices).
    EXPECT_EQ(lines_at[19], 0u);
    EXPECT_EQ(lines_at[20], 1u);
}

// A diagnostics line whose reader takes nothing holds the worker no longer than the stop.
TEST(CaptureWorkerLoop, AWaitingDiagnosticsLineEndsAtTheStop) {
    ReaderThatTakesNothing reader;
    std::mutex lock;
    LockedStream stream(reader, lock);
    LoopFixture f(true, kRingCapacity, nullptr, &stream);
    reader.clock = &f.clock;
    reader.on_wait = [&](int waits) {
        if (waits == 30) f.shared->running.store(false, std::memory_order_release);
    };
    f.passes(500);  // one second of empty-ring polls: the line is due, and its write waits
    EXPECT_EQ(reader.waits, 30);
    EXPECT_EQ(reader.written, 0u);
    EXPECT_FALSE(f.loop->run_once());
    EXPECT_FALSE(f.stop_flag->load());
}

}  // namespace
}  // namespace quorle::capture
