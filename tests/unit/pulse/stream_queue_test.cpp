#include "audio_host/pulse/stream_queue.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace quorle::pulse {
namespace {

// Frames whose left sample is their sequence number and right sample its negative.
std::vector<float> frames_from(float first, std::size_t count) {
    std::vector<float> samples;
    for (std::size_t i = 0; i < count; ++i) {
        const float value = first + static_cast<float>(i);
        samples.push_back(value);
        samples.push_back(-value);
    }
    return samples;
}

void push(StreamQueue& queue, const std::vector<float>& samples) {
    queue.push_bytes(samples.data(), samples.size() * sizeof(float));
}

// One tick of `frames` frames; returns the left channel and the contributed count.
std::vector<float> tick(StreamQueue& queue, std::size_t frames,
                        std::size_t* contributed = nullptr) {
    std::vector<float> out(frames * 2, 0.0f);
    const std::size_t n = queue.mix_into(out.data(), frames);
    if (contributed != nullptr) *contributed = n;
    std::vector<float> left;
    for (std::size_t i = 0; i < frames; ++i)
        left.push_back(out[i * 2]);
    return left;
}

TEST(StreamQueue, CollectsOneTickPlusOneFragmentBeforeContributing) {
    StreamQueue queue(100, 8);
    push(queue, frames_from(1, 4));
    std::size_t n = 0;
    EXPECT_EQ(tick(queue, 4, &n), std::vector<float>({0, 0, 0, 0}));
    EXPECT_EQ(n, 0u);
    push(queue, frames_from(5, 4));
    EXPECT_EQ(tick(queue, 4, &n), std::vector<float>({1, 2, 3, 4}));
    EXPECT_EQ(n, 4u);
    push(queue, frames_from(9, 4));
    EXPECT_EQ(tick(queue, 4), std::vector<float>({5, 6, 7, 8}));
    EXPECT_EQ(queue.queued_frames(), 4u);
}

TEST(StreamQueue, RunningDryGivesWhatIsThereThenSilenceAndCollectsAgain) {
    StreamQueue queue(100, 4);
    push(queue, frames_from(1, 6));
    EXPECT_EQ(tick(queue, 4), std::vector<float>({1, 2, 3, 4}));
    std::size_t n = 0;
    EXPECT_EQ(tick(queue, 4, &n), std::vector<float>({5, 6, 0, 0}));
    EXPECT_EQ(n, 2u);
    // Collecting again: three frames are not enough while delivery goes on.
    push(queue, frames_from(7, 3));
    EXPECT_EQ(tick(queue, 4, &n), std::vector<float>({0, 0, 0, 0}));
    EXPECT_EQ(n, 0u);
}

TEST(StreamQueue, APausedOrFinishedStreamPlaysOutItsTail) {
    {
        StreamQueue queue(100, 8);
        push(queue, frames_from(1, 3));
        EXPECT_EQ(tick(queue, 4), std::vector<float>({0, 0, 0, 0}));  // just delivered
        EXPECT_EQ(tick(queue, 4), std::vector<float>({0, 0, 0, 0}));  // one idle tick
        EXPECT_EQ(tick(queue, 4), std::vector<float>({1, 2, 3, 0}));  // two idle ticks
    }
    {
        StreamQueue queue(100, 8);
        push(queue, frames_from(1, 3));
        queue.finish();
        EXPECT_EQ(tick(queue, 4), std::vector<float>({1, 2, 3, 0}));
        EXPECT_EQ(queue.queued_frames(), 0u);
    }
}

TEST(StreamQueue, OverflowDropsTheOldestFrames) {
    struct Row {
        std::size_t capacity;
        std::size_t first_push;
        std::size_t second_push;
        std::size_t dropped;
        float oldest_kept;
    };
    const Row rows[] = {
        {8, 6, 2, 0, 1},   // exactly full
        {8, 6, 5, 3, 4},   // three oldest make room
        {8, 0, 11, 3, 4},  // one push larger than the queue keeps its newest frames
        {8, 8, 20, 20, 21},
    };
    for (const Row& row : rows) {
        StreamQueue queue(row.capacity, 1);
        std::size_t dropped = 0;
        if (row.first_push > 0) {
            const auto first = frames_from(1, row.first_push);
            dropped += queue.push_bytes(first.data(), first.size() * sizeof(float));
        }
        const auto second = frames_from(static_cast<float>(row.first_push + 1), row.second_push);
        dropped += queue.push_bytes(second.data(), second.size() * sizeof(float));
        EXPECT_EQ(dropped, row.dropped) << row.capacity << "/" << row.second_push;
        EXPECT_EQ(queue.queued_frames(), row.capacity);
        EXPECT_EQ(tick(queue, 1).front(), row.oldest_kept)
            << row.capacity << "/" << row.second_push;
    }
}

TEST(StreamQueue, FramesSplitAcrossDeliveriesAreJoined) {
    StreamQueue queue(100, 1);
    const auto samples = frames_from(1, 3);
    const auto* bytes = reinterpret_cast<const unsigned char*>(samples.data());
    // 24 bytes in pieces of 5, 7, 1 and 11 bytes, none on a frame boundary but the last.
    queue.push_bytes(bytes, 5);
    EXPECT_EQ(queue.queued_frames(), 0u);
    queue.push_bytes(bytes + 5, 7);
    EXPECT_EQ(queue.queued_frames(), 1u);
    queue.push_bytes(bytes + 12, 1);
    queue.push_bytes(bytes + 13, 11);
    EXPECT_EQ(queue.queued_frames(), 3u);
    std::vector<float> out(6, 0.0f);
    queue.mix_into(out.data(), 3);
    EXPECT_EQ(out, samples);
}

TEST(StreamQueue, MixingAddsToWhatIsThereAndSilenceKeepsItsPlace) {
    StreamQueue queue(100, 1);
    push(queue, frames_from(1, 2));
    queue.push_silence(2);
    push(queue, frames_from(5, 1));
    std::vector<float> out(10, 0.5f);
    EXPECT_EQ(queue.mix_into(out.data(), 5), 5u);
    EXPECT_EQ(out,
              std::vector<float>({1.5f, -0.5f, 2.5f, -1.5f, 0.5f, 0.5f, 0.5f, 0.5f, 5.5f, -4.5f}));
}

TEST(StreamQueue, ClearForgetsDataAndPartialFrames) {
    StreamQueue queue(100, 1);
    const auto samples = frames_from(1, 2);
    queue.push_bytes(samples.data(), 12);  // one frame and a half
    queue.clear();
    EXPECT_EQ(queue.queued_frames(), 0u);
    push(queue, frames_from(7, 1));
    EXPECT_EQ(tick(queue, 1).front(), 7.0f);
}

}  // namespace
}  // namespace quorle::pulse
