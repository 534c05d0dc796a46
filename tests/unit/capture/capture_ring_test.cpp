#include "audio/capture/capture_ring.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <random>
#include <thread>

namespace quorle::capture {
namespace {

void stamp(CaptureChunk& chunk, std::uint64_t id) {
    chunk.sample_count = 1 + id % kChunkCapacity;
    chunk.start_frame = id;
    chunk.samples[0] = static_cast<float>(id % 1000003);
    chunk.samples[kChunkCapacity - 1] = static_cast<float>(id % 999983);
}

bool push(RingWriter& writer, std::uint64_t id) {
    CaptureChunk* slot = writer.claim();
    if (slot == nullptr)
        return false;
    stamp(*slot, id);
    writer.publish();
    return true;
}

void expect_chunk(const CaptureChunk& chunk, std::uint64_t id) {
    EXPECT_EQ(chunk.start_frame, id);
    EXPECT_EQ(chunk.sample_count, 1 + id % kChunkCapacity);
    EXPECT_EQ(chunk.samples[0], static_cast<float>(id % 1000003));
    EXPECT_EQ(chunk.samples[kChunkCapacity - 1], static_cast<float>(id % 999983));
}

// Against a plain queue: a random mix of pushes and pops over many wraps of the index range
// keeps order and content, holds exactly `capacity` chunks when full and none when empty.
TEST(CaptureRing, BehavesAsABoundedQueueAcrossWraps) {
    for (const std::uint64_t capacity : {1u, 2u, 3u, 7u, 32u}) {
        auto [writer, reader] = make_capture_ring(capacity);
        std::deque<std::uint64_t> model;
        std::mt19937 random(static_cast<std::uint32_t>(capacity));
        auto popped = std::make_unique<CaptureChunk>();
        std::uint64_t next = 0;
        for (int step = 0; step < 20000; ++step) {
            if (random() % 2 == 0) {
                const bool pushed = push(writer, next);
                ASSERT_EQ(pushed, model.size() < capacity) << "capacity " << capacity;
                if (pushed)
                    model.push_back(next++);
            } else {
                const bool got = reader.try_pop(*popped);
                ASSERT_EQ(got, !model.empty()) << "capacity " << capacity;
                if (got) {
                    expect_chunk(*popped, model.front());
                    model.pop_front();
                }
            }
            ASSERT_EQ(writer.has_room(), model.size() < capacity);
            ASSERT_EQ(writer.free_slots(), capacity - model.size());
        }
    }
}

TEST(CaptureRing, StorageLivesUntilBothEndsAreGone) {
    auto ends = make_capture_ring(4);
    RingReader reader = std::move(ends.reader);
    ASSERT_TRUE(push(ends.writer, 9));
    ends.writer = RingWriter();  // the writing end goes first, as at shutdown
    auto chunk = std::make_unique<CaptureChunk>();
    ASSERT_TRUE(reader.try_pop(*chunk));
    expect_chunk(*chunk, 9);
    EXPECT_FALSE(reader.try_pop(*chunk));
}

// One producer and one consumer thread: every chunk arrives once, in order, complete.
TEST(CaptureRing, TwoThreadsPassEveryChunkInOrder) {
    constexpr std::uint64_t kChunks = 20000;
    auto [writer, reader] = make_capture_ring(kRingCapacity);
    std::thread producer([&writer] {
        for (std::uint64_t id = 0; id < kChunks; ++id) {
            while (!push(writer, id))
                std::this_thread::yield();
        }
    });
    auto chunk = std::make_unique<CaptureChunk>();
    std::uint64_t expected = 0;
    std::uint64_t mismatches = 0;
    while (expected < kChunks) {
        if (!reader.try_pop(*chunk)) {
            std::this_thread::yield();
            continue;
        }
        if (chunk->start_frame != expected ||
            chunk->samples[0] != static_cast<float>(expected % 1000003) ||
            chunk->samples[kChunkCapacity - 1] != static_cast<float>(expected % 999983)) {
            ++mismatches;
        }
        ++expected;
    }
    producer.join();
    EXPECT_EQ(mismatches, 0u);
    EXPECT_FALSE(reader.try_pop(*chunk));
}

}  // namespace
}  // namespace quorle::capture
