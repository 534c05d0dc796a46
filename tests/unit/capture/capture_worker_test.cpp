#include "audio/capture/capture_worker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio/capture/downmix.h"
#include "capture_test_support.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace quorle::capture {
namespace {

using testing::FailingLauncher;
using testing::FakeClock;
using testing::RecordingLauncher;
using testing::RecordingStream;

constexpr std::uint64_t kBlockFrames = 960;  // 20 ms at 48000 Hz

// The numbered test signal: every stream frame has its own pair of values.
float left_of(std::uint64_t frame) {
    return static_cast<float>(frame % 8192) / 8192.0f;
}
float right_of(std::uint64_t frame) {
    return -static_cast<float>((frame / 8192) % 8192) / 8192.0f;
}

struct PushRecord {
    std::uint64_t start_frame;
    std::uint64_t frames;
    bool accepted;
};

// Pushes stereo packets of the numbered signal at the sink's current stream position and
// logs what the ring took. Packets hold at most one chunk, so each is taken or dropped whole.
class NumberedProducer {
  public:
    explicit NumberedProducer(CaptureSink& sink) : sink_(sink) {}

    std::uint64_t push(std::uint64_t frames) {
        const std::uint64_t start = sink_.stream_position();
        buffer_.resize(2 * frames);
        for (std::uint64_t f = 0; f < frames; ++f) {
            buffer_[2 * f] = left_of(start + f);
            buffer_[2 * f + 1] = right_of(start + f);
        }
        const std::uint64_t accepted = sink_.push_samples(buffer_.data(), buffer_.size());
        EXPECT_TRUE(accepted == 0 || accepted == frames);
        log_.push_back({start, frames, accepted != 0});
        return accepted;
    }
    void discontinuity() {
        sink_.mark_discontinuity();
        ++discontinuities_;
    }

    const std::vector<PushRecord>& log() const { return log_; }
    std::uint64_t discontinuities() const { return discontinuities_; }
    std::uint64_t frames(bool accepted) const {
        std::uint64_t total = 0;
        for (const PushRecord& r : log_)
            total += r.accepted == accepted ? r.frames : 0;
        return total;
    }

  private:
    CaptureSink& sink_;
    std::vector<float> buffer_;
    std::vector<PushRecord> log_;
    std::uint64_t discontinuities_ = 0;
};

// What the worker must write for a push log: accepted packets joined while their positions
// continue, a gap discarding the partial block, every whole 960-frame block converted.
std::vector<std::string> expected_blocks(const std::vector<PushRecord>& log) {
    std::vector<std::string> blocks;
    std::vector<std::uint64_t> pending;  // stream frame numbers
    bool has_previous = false;
    std::uint64_t expected = 0;
    for (const PushRecord& record : log) {
        if (!record.accepted || record.frames == 0)
            continue;
        if (has_previous && record.start_frame != expected)
            pending.clear();
        has_previous = true;
        expected = record.start_frame + record.frames;
        for (std::uint64_t f = 0; f < record.frames; ++f)
            pending.push_back(record.start_frame + f);
        while (pending.size() >= kBlockFrames) {
            std::vector<float> samples;
            for (std::size_t i = 0; i < kBlockFrames; ++i) {
                samples.push_back(left_of(pending[i]));
                samples.push_back(right_of(pending[i]));
            }
            const auto bytes = downmix_to_s16le(samples.data(), samples.size(), 2);
            blocks.emplace_back(bytes->begin(), bytes->end());
            pending.erase(pending.begin(), pending.begin() + kBlockFrames);
        }
    }
    return blocks;
}

// Waits (polling) until `done` holds; false after a generous limit.
bool eventually(const std::function<bool()>& done) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!done()) {
        if (std::chrono::steady_clock::now() > limit)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void shut_down(CapturePipeline& pipeline) {
    pipeline.sink.reset();
    pipeline.worker.clear_running();
    stop_capture_worker(pipeline.worker);
}

struct Started {
    std::shared_ptr<std::atomic<bool>> stop = std::make_shared<std::atomic<bool>>(false);
    RecordingStream out;
    RecordingStream err;
    WorkerOptions options() {
        WorkerOptions o;
        o.out = &out;
        o.err = &err;
        o.diagnostics = false;
        return o;
    }
};

TEST(CaptureWorker, NumberedSignalArrivesBlockForBlockThroughDropsAndDiscontinuities) {
    Started s;
    auto pipeline = start_capture_worker(2, 48000, s.stop, s.options());
    ASSERT_TRUE(pipeline) << pipeline.error();
    NumberedProducer producer(pipeline->sink);
    const std::uint64_t sizes[] = {480, 512, 100, 7, 333, 1, 512, 0, 250};
    std::size_t next = 0;
    const auto packets = [&](int count) {
        for (int i = 0; i < count; ++i) {
            if (i % 97 == 96)
                producer.discontinuity();
            producer.push(sizes[next++ % std::size(sizes)]);
        }
    };
    packets(400);

    // Stall the writer until the ring overflows, then let it go again.
    s.out.close_gate();
    while (!s.out.stalled()) {
        producer.push(512);
        std::this_thread::yield();
    }
    while (producer.push(512) != 0) {
    }
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(producer.push(512), 0u);
    s.out.open_gate();
    packets(400);

    const std::vector<std::string> expected = expected_blocks(producer.log());
    ASSERT_TRUE(s.out.wait_for_pieces(expected.size()));
    const CaptureCounters& counters = pipeline->sink.counters();
    EXPECT_EQ(counters.accepted_frames.load(), producer.frames(true));
    EXPECT_EQ(counters.dropped_frames.load(), producer.frames(false));
    EXPECT_EQ(counters.discontinuities.load(), producer.discontinuities());
    EXPECT_GE(producer.frames(false), 20u * 512);
    shut_down(*pipeline);

    const std::vector<std::string> written = s.out.pieces();
    ASSERT_EQ(written.size(), expected.size());
    for (std::size_t b = 0; b < expected.size(); ++b)
        ASSERT_EQ(written[b], expected[b]) << b;
    EXPECT_FALSE(s.stop->load());
    EXPECT_TRUE(s.err.pieces().empty());
}

TEST(CaptureWorker, StalledWriterFillsTheRingThenChunksAreDroppedAndCounted) {
    Started s;
    auto pipeline = start_capture_worker(2, 48000, s.stop, s.options());
    ASSERT_TRUE(pipeline);
    NumberedProducer producer(pipeline->sink);
    s.out.close_gate();
    // Two chunks make the first block; the worker then waits inside its write.
    producer.push(512);
    producer.push(512);
    ASSERT_TRUE(s.out.wait_for_stalled_writer());
    for (std::uint64_t i = 0; i < kRingCapacity; ++i)
        ASSERT_EQ(producer.push(512), 512u) << i;
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(producer.push(512), 0u);
    const CaptureCounters& counters = pipeline->sink.counters();
    EXPECT_EQ(counters.accepted_frames.load(), (kRingCapacity + 2) * 512);
    EXPECT_EQ(counters.dropped_frames.load(), 10u * 512);

    // Resumed, the worker drains the ring; the first chunk after the gap starts afresh.
    s.out.open_gate();
    ASSERT_TRUE(eventually([&] { return pipeline->sink.free_slots() == kRingCapacity; }));
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(producer.push(512), 512u);
    const std::vector<std::string> expected = expected_blocks(producer.log());
    ASSERT_EQ(expected.size(), 34u * 512 / 960 + 2);
    ASSERT_TRUE(s.out.wait_for_pieces(expected.size()));
    shut_down(*pipeline);
    EXPECT_EQ(s.out.pieces(), expected);
}

// A platform writer for standard output: accepts at most 7 bytes a call and reports every
// third call as interrupted, until the reader goes away; then every call fails with EPIPE.
class FlakyPipe final : public RawWriter {
  public:
    WriteOutcome write_some(const char* data, std::size_t size) override {
        if (closed.load(std::memory_order_acquire))
            return {0, 32, false};
        if (++calls_ % 3 == 0)
            return {0, 0, true};
        const std::size_t n = size < 7 ? size : 7;
        const std::lock_guard<std::mutex> guard(lock_);
        bytes_.append(data, n);
        return {n, 0, false};
    }
    std::string bytes() const {
        const std::lock_guard<std::mutex> guard(lock_);
        return bytes_;
    }
    std::atomic<bool> closed{false};

  private:
    mutable std::mutex lock_;
    std::string bytes_;
    std::uint64_t calls_ = 0;
};

TEST(CaptureWorker, ShortAndInterruptedWritesCompleteAndAClosedReaderStopsQuietly) {
    Started s;
    FlakyPipe pipe;
    std::mutex stdout_lock;
    LockedStream stream(pipe, stdout_lock);
    WorkerOptions options = s.options();
    options.out = &stream;
    auto pipeline = start_capture_worker(2, 48000, s.stop, options);
    ASSERT_TRUE(pipeline);
    NumberedProducer producer(pipeline->sink);
    for (int i = 0; i < 4; ++i)
        producer.push(480);
    std::string expected;
    for (const std::string& block : expected_blocks(producer.log()))
        expected += block;
    ASSERT_TRUE(eventually([&] { return pipe.bytes().size() == expected.size(); }));
    EXPECT_EQ(pipe.bytes(), expected);

    pipe.closed.store(true, std::memory_order_release);
    for (int i = 0; i < 4; ++i)
        producer.push(480);
    ASSERT_TRUE(eventually([&] { return s.stop->load(std::memory_order_acquire); }));
    // The capture side goes on undisturbed: the worker keeps emptying the ring.
    for (int i = 0; i < 200; ++i)
        producer.push(480);
    ASSERT_TRUE(eventually([&] { return pipeline->sink.free_slots() == kRingCapacity; }));
    shut_down(*pipeline);
    EXPECT_EQ(pipe.bytes(), expected);
    EXPECT_TRUE(s.err.pieces().empty());
}

TEST(CaptureWorker, StartFailuresLeaveNothingBehind) {
    struct Row {
        std::uint16_t channels;
        std::uint32_t sample_rate;
        std::uint64_t capacity;
        int thread_error;  // 0: the launcher starts threads
        std::string message;
    };
    const std::string invalid = "invalid capture format or capacity";
    const std::vector<Row> rows = {
        {0, 48000, kRingCapacity, 0, invalid},
        {1025, 48000, kRingCapacity, 0, invalid},
        {2, 0, kRingCapacity, 0, invalid},
        {2, 48000, 0, 0, invalid},
        {2, 48000, kRingCapacity, 11, thread_start_message("capture worker: ", {11})},
        {2, 48000, kRingCapacity, 12, thread_start_message("capture worker: ", {12})},
    };
    for (const Row& row : rows) {
        Started s;
        RecordingLauncher recording;
        FailingLauncher failing(row.thread_error);
        WorkerOptions options = s.options();
        options.ring_capacity = row.capacity;
        options.launcher = row.thread_error != 0 ? static_cast<ThreadLauncher*>(&failing)
                                                 : static_cast<ThreadLauncher*>(&recording);
        const auto pipeline = start_capture_worker(row.channels, row.sample_rate, s.stop, options);
        ASSERT_FALSE(pipeline);
        EXPECT_EQ(pipeline.error(), row.message);
        EXPECT_TRUE(recording.names.empty());
        EXPECT_EQ(s.stop.use_count(), 1);  // the worker's share was released
    }
    EXPECT_EQ(thread_start_message("capture worker: ", {11}).rfind("capture worker: ", 0), 0u);
    EXPECT_NE(thread_start_message("capture worker: ", {11}).find(" (os error 11)"),
              std::string::npos);
}

TEST(CaptureWorker, RunsOnANamedThreadThatEndsWithItsOwner) {
    Started s;
    RecordingLauncher launcher;
    WorkerOptions options = s.options();
    options.launcher = &launcher;
    {
        auto pipeline = start_capture_worker(1024, 48000, s.stop, options);
        ASSERT_TRUE(pipeline);
        EXPECT_TRUE(pipeline->worker.joinable());
        const std::vector<float> frame(1024, 0.25f);
        EXPECT_EQ(pipeline->sink.push_samples(frame.data(), frame.size()), 1u);
        // Leaving the scope without a stop: the worker is stopped and joined, not abandoned.
    }
    EXPECT_EQ(launcher.names, std::vector<std::string>{"quorle-capture"});
    EXPECT_EQ(s.stop.use_count(), 1);

    auto first = start_capture_worker(2, 48000, s.stop, options);
    auto second = start_capture_worker(2, 48000, s.stop, options);
    ASSERT_TRUE(first && second);
    first->worker = std::move(second->worker);  // stops and joins first's own thread
    EXPECT_FALSE(second->worker.joinable());
    stop_capture_worker(first->worker);
    stop_capture_worker(first->worker);  // a second stop is harmless
    EXPECT_FALSE(first->worker.joinable());
    const std::vector<float> samples(4, 0.0f);
    EXPECT_EQ(second->sink.push_samples(samples.data(), samples.size()), 0u);
}

void set_diagnostics_variable(bool present) {
#ifdef _WIN32
    SetEnvironmentVariableW(L"QUORLE_AUDIO_DIAGNOSTICS", present ? L"" : nullptr);
#else
    if (present) {
        setenv("QUORLE_AUDIO_DIAGNOSTICS", "", 1);
    } else {
        unsetenv("QUORLE_AUDIO_DIAGNOSTICS");
    }
#endif
}

TEST(CaptureWorker, DiagnosticsSwitchIsThePresenceOfTheVariable) {
    for (const bool present : {true, false}) {
        set_diagnostics_variable(present);
        Started s;
        FakeClock clock;  // every empty-ring poll advances it 2 ms at once
        WorkerOptions options = s.options();
        options.diagnostics.reset();
        options.clock = &clock;
        auto pipeline = start_capture_worker(2, 48000, s.stop, options);
        set_diagnostics_variable(false);
        ASSERT_TRUE(pipeline);
        ASSERT_TRUE(eventually([&] { return clock.sleeps() >= 1500; }));  // 3 s of idling
        shut_down(*pipeline);
        if (present) {
            ASSERT_GE(s.err.pieces().size(), 1u);
            EXPECT_EQ(s.err.pieces()[0],
                      "QUORLE_CAPTURE rate=48000 channels=2 accepted_frames=0 dropped_frames=0 "
                      "discontinuities=0\n");
        } else {
            EXPECT_TRUE(s.err.pieces().empty());
        }
    }
}

}  // namespace
}  // namespace quorle::capture
