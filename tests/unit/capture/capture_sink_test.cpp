#include "audio/capture/capture_sink.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <numeric>
#include <vector>

#include "audio/capture/capture_pipeline.h"

namespace quorle::capture {
namespace {

struct Piece {
    std::uint64_t count;
    std::uint64_t start_frame;
    bool operator==(const Piece&) const = default;
};

// Samples numbered 0, 1, 2, ... so that each chunk shows which part of the run it holds.
std::vector<float> numbered(std::size_t n) {
    std::vector<float> samples(n);
    std::iota(samples.begin(), samples.end(), 0.0f);
    return samples;
}

std::vector<Piece> drain(RingReader& reader, const std::vector<float>& run) {
    std::vector<Piece> pieces;
    auto chunk = std::make_unique<CaptureChunk>();
    std::size_t offset = 0;
    while (reader.try_pop(*chunk)) {
        pieces.push_back({chunk->sample_count, chunk->start_frame});
        for (std::size_t i = 0; i < kChunkCapacity; ++i) {
            const float expected = i < chunk->sample_count ? run[offset + i] : 0.0f;
            EXPECT_EQ(chunk->samples[i], expected) << "sample " << i;
        }
        offset += chunk->sample_count;
    }
    return pieces;
}

TEST(CaptureSink, CutsRunsIntoWholeFrameChunksStampedWithTheirPosition) {
    struct Row {
        std::uint16_t channels;
        std::size_t n;
        std::vector<Piece> pieces;
        std::uint64_t position;
        std::uint64_t dropped;
    };
    const std::vector<Row> rows = {
        {2, 2048, {{1024, 0}, {1024, 512}}, 1024, 0},
        {2, 2050, {{1024, 0}, {1024, 512}, {2, 1024}}, 1025, 0},
        {3, 3000, {{1023, 0}, {1023, 341}, {954, 682}}, 1000, 0},
        {6, 2046, {{1020, 0}, {1020, 170}, {6, 340}}, 341, 0},
        {1, 1025, {{1024, 0}, {1, 1024}}, 1025, 0},
        {4, 1024, {{1024, 0}}, 256, 0},
        {1024, 2048, {{1024, 0}, {1024, 1}}, 2, 0},
        {2, 0, {}, 0, 0},
        {2, 5, {}, 2, 2},  // not whole frames: dropped, positioned, not chunked
        {3, 7, {}, 2, 2},
        {2, 1, {}, 0, 0},
    };
    for (const Row& row : rows) {
        auto parts = create_capture_pipeline(row.channels, 48000, kRingCapacity);
        ASSERT_TRUE(parts);
        const std::vector<float> run = numbered(row.n);
        std::uint64_t accepted_frames = 0;
        for (const Piece& piece : row.pieces)
            accepted_frames += piece.count / row.channels;
        EXPECT_EQ(parts->sink.push_samples(run.data(), run.size()), accepted_frames);
        EXPECT_EQ(drain(parts->worker_side.reader, run), row.pieces)
            << row.channels << " channels, " << row.n << " samples";
        EXPECT_EQ(parts->sink.stream_position(), row.position);
        const CaptureCounters& counters = parts->sink.counters();
        EXPECT_EQ(counters.accepted_frames.load(), accepted_frames);
        EXPECT_EQ(counters.dropped_frames.load(), row.dropped);
    }
}

TEST(CaptureSink, ReusedSlotsAreZeroedPastTheValidSamples) {
    auto parts = create_capture_pipeline(2, 48000, 2);
    ASSERT_TRUE(parts);
    const std::vector<float> full = numbered(1024);
    const std::vector<float> small = {7.0f, 8.0f, 9.0f, 10.0f};
    // Fill both slots with full chunks, free them, then let short chunks reuse them.
    ASSERT_EQ(parts->sink.push_samples(full.data(), full.size()), 512u);
    ASSERT_EQ(parts->sink.push_samples(full.data(), full.size()), 512u);
    std::vector<float> both = full;
    both.insert(both.end(), full.begin(), full.end());
    EXPECT_EQ(drain(parts->worker_side.reader, both), (std::vector<Piece>{{1024, 0}, {1024, 512}}));
    ASSERT_EQ(parts->sink.push_samples(small.data(), small.size()), 2u);
    ASSERT_EQ(parts->sink.push_samples(small.data(), small.size()), 2u);
    std::vector<float> twice = small;
    twice.insert(twice.end(), small.begin(), small.end());
    EXPECT_EQ(drain(parts->worker_side.reader, twice), (std::vector<Piece>{{4, 1024}, {4, 1026}}));
}

TEST(CaptureSink, FullRingDropsTheNewestChunksAndLeavesAGap) {
    auto parts = create_capture_pipeline(2, 48000, 4);
    ASSERT_TRUE(parts);
    CaptureSink& sink = parts->sink;
    const std::vector<float> run = numbered(6 * 1024);
    // Six chunks into four slots: the last two are lost, the first four stay.
    EXPECT_EQ(sink.push_samples(run.data(), run.size()), 4u * 512);
    EXPECT_EQ(sink.counters().accepted_frames.load(), 4u * 512);
    EXPECT_EQ(sink.counters().dropped_frames.load(), 2u * 512);
    EXPECT_EQ(sink.stream_position(), 6u * 512);
    // Still full: a further push is dropped whole.
    EXPECT_EQ(sink.push_samples(run.data(), 1024), 0u);
    EXPECT_EQ(sink.counters().dropped_frames.load(), 3u * 512);
    EXPECT_EQ(sink.free_slots(), 0u);
    // One slot freed: the next chunk is taken, stamped after the gap.
    auto chunk = std::make_unique<CaptureChunk>();
    ASSERT_TRUE(parts->worker_side.reader.try_pop(*chunk));
    EXPECT_EQ(chunk->start_frame, 0u);
    EXPECT_EQ(sink.push_samples(run.data(), 1024), 512u);
    for (const std::uint64_t start : {512u, 1024u, 1536u, 7u * 512}) {
        ASSERT_TRUE(parts->worker_side.reader.try_pop(*chunk));
        EXPECT_EQ(chunk->start_frame, start);
    }
    EXPECT_EQ(sink.counters().accepted_frames.load(), 5u * 512);
}

TEST(CaptureSink, DiscontinuitySkipsOneFrameEvenWhenNothingIsDropped) {
    auto parts = create_capture_pipeline(2, 48000, kRingCapacity);
    ASSERT_TRUE(parts);
    const std::vector<float> run = numbered(960);
    ASSERT_EQ(parts->sink.push_samples(run.data(), run.size()), 480u);
    parts->sink.mark_discontinuity();
    ASSERT_EQ(parts->sink.push_samples(run.data(), run.size()), 480u);
    EXPECT_EQ(parts->sink.counters().discontinuities.load(), 1u);
    EXPECT_EQ(parts->sink.counters().dropped_frames.load(), 0u);
    auto chunk = std::make_unique<CaptureChunk>();
    ASSERT_TRUE(parts->worker_side.reader.try_pop(*chunk));
    ASSERT_TRUE(parts->worker_side.reader.try_pop(*chunk));
    EXPECT_EQ(chunk->start_frame, 481u);
}

TEST(CaptureSink, IgnoresEverythingOnceRunningIsCleared) {
    auto parts = create_capture_pipeline(2, 48000, kRingCapacity);
    ASSERT_TRUE(parts);
    const std::vector<float> run = numbered(2048);
    ASSERT_EQ(parts->sink.push_samples(run.data(), run.size()), 1024u);
    parts->worker_side.shared->running.store(false);
    const std::vector<std::size_t> lengths = {2048, 5, 0};
    for (const std::size_t n : lengths)
        EXPECT_EQ(parts->sink.push_samples(run.data(), n), 0u);
    EXPECT_EQ(parts->sink.stream_position(), 1024u);
    EXPECT_EQ(parts->sink.counters().accepted_frames.load(), 1024u);
    EXPECT_EQ(parts->sink.counters().dropped_frames.load(), 0u);
    EXPECT_EQ(parts->sink.free_slots(), kRingCapacity - 2);
}

TEST(CaptureSink, DetachedSinkTakesNothing) {
    auto parts = create_capture_pipeline(2, 48000, kRingCapacity);
    ASSERT_TRUE(parts);
    CaptureSink moved = std::move(parts->sink);
    const std::vector<float> run = numbered(4);
    EXPECT_EQ(parts->sink.push_samples(run.data(), run.size()),
              0u);  // NOLINT(bugprone-use-after-move)
    parts->sink.mark_discontinuity();
    EXPECT_EQ(parts->sink.counters().discontinuities.load(), 0u);
    EXPECT_EQ(moved.push_samples(run.data(), run.size()), 2u);
    moved.reset();
    EXPECT_EQ(moved.push_samples(run.data(), run.size()), 0u);
    EXPECT_EQ(parts->worker_side.shared->counters.accepted_frames.load(), 2u);
}

TEST(CapturePipeline, RefusesImpossibleFormatsAndCapacities) {
    struct Row {
        std::uint16_t channels;
        std::uint32_t sample_rate;
        std::uint64_t capacity;
        bool ok;
    };
    const Row rows[] = {
        {2, 48000, 32, true},      {1, 1, 1, true},
        {1024, 48000, 32, true},   {1025, 48000, 32, false},
        {0, 48000, 32, false},     {2, 0, 32, false},
        {2, 48000, 0, false},      {2, 48000, kMaxRingCapacity + 1, false},
        {65535, 48000, 32, false},
    };
    for (const Row& row : rows) {
        const auto parts = create_capture_pipeline(row.channels, row.sample_rate, row.capacity);
        EXPECT_EQ(parts.has_value(), row.ok) << row.channels << " " << row.sample_rate;
        if (!parts) {
            EXPECT_EQ(parts.error(), "invalid capture format or capacity");
        }
    }
}

}  // namespace
}  // namespace quorle::capture
