#include "audio/capture/block_assembler.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

namespace quorle::capture {
namespace {

// A chunk whose samples carry their own stream sample number (start_frame * channels + i),
// so a delivered block names the samples it holds by its first value.
struct ChunkSpec {
    std::uint64_t start_frame;
    std::uint64_t sample_count;
};

struct Delivered {
    std::vector<float> first_samples;  // first sample of each block
    std::size_t bad_blocks = 0;        // blocks of the wrong size or not consecutive inside
};

Delivered feed(BlockAssembler& assembler, std::uint16_t channels,
               const std::vector<ChunkSpec>& chunks, const std::atomic<bool>& running) {
    Delivered delivered;
    auto chunk = std::make_unique<CaptureChunk>();
    for (const ChunkSpec& spec : chunks) {
        chunk->samples.fill(-1.0f);
        chunk->sample_count = spec.sample_count;
        chunk->start_frame = spec.start_frame;
        for (std::size_t i = 0; i < spec.sample_count; ++i) {
            chunk->samples[i] = static_cast<float>(spec.start_frame * channels + i);
        }
        assembler.take(*chunk, running, [&](std::span<const float> block) {
            if (block.size() != assembler.block_samples())
                ++delivered.bad_blocks;
            for (std::size_t i = 1; i < block.size(); ++i) {
                if (block[i] != block[0] + static_cast<float>(i)) {
                    ++delivered.bad_blocks;
                    break;
                }
            }
            delivered.first_samples.push_back(block[0]);
        });
    }
    return delivered;
}

TEST(BlockAssembler, JoinsChunksIntoBlocksAndDropsPartialBlocksAtGaps) {
    struct Row {
        const char* what;
        std::uint16_t channels;
        std::uint32_t sample_rate;
        std::vector<ChunkSpec> chunks;
        std::vector<float> blocks;  // first stream sample of each delivered block
        std::size_t pending;
    };
    const std::vector<Row> rows = {
        {"first block after the second chunk", 2, 48000, {{0, 1024}, {512, 1024}}, {0}, 128},
        {"one chunk is not a block", 2, 48000, {{0, 1024}}, {}, 1024},
        {"contiguous chunks give contiguous blocks",
         2,
         48000,
         {{0, 1024}, {512, 1024}, {1024, 1024}, {1536, 1024}},
         {0, 1920},
         4096 - 2 * 1920},
        {"a gap after 1900 pending discards them; the chunk starts the next block",
         2,
         48000,
         {{0, 1024}, {512, 876}, {951, 1024}, {1463, 1024}},
         {1902},
         128},
        {"a one-frame jump (discontinuity) discards pending",
         2,
         48000,
         {{0, 1024}, {513, 1024}, {1025, 1024}},
         {1026},
         128},
        {"the first chunk may start anywhere",
         2,
         48000,
         {{5000, 1024}, {5512, 1024}},
         {10000},
         128},
        {"a gap right after a block boundary loses nothing delivered",
         2,
         100,
         {{0, 4}, {10, 4}},
         {0, 20},
         0},
        {"below 100 Hz a block is one frame", 2, 99, {{0, 6}}, {0, 2, 4}, 0},
        {"at 49 Hz still one frame", 1, 49, {{0, 2}}, {0, 1}, 0},
        {"at 100 Hz a block is two frames", 2, 100, {{0, 6}, {3, 2}}, {0, 4}, 0},
        {"three channels", 3, 48000, {{0, 1023}, {341, 1023}, {682, 1023}}, {0}, 3069 - 2880},
        {"a chunk going back in time is a gap too",
         2,
         48000,
         {{1000, 1024}, {0, 1024}, {512, 1024}},
         {0},
         128},
    };
    for (const Row& row : rows) {
        BlockAssembler assembler(row.channels, row.sample_rate);
        const std::atomic<bool> running{true};
        const Delivered delivered = feed(assembler, row.channels, row.chunks, running);
        EXPECT_EQ(delivered.first_samples, row.blocks) << row.what;
        EXPECT_EQ(delivered.bad_blocks, 0u) << row.what;
        EXPECT_EQ(assembler.pending_samples(), row.pending) << row.what;
    }
}

TEST(BlockAssembler, DeliversNothingOnceRunningIsCleared) {
    BlockAssembler assembler(2, 100);
    const std::atomic<bool> running{false};
    const Delivered delivered = feed(assembler, 2, {{0, 1024}}, running);
    EXPECT_TRUE(delivered.first_samples.empty());
    EXPECT_EQ(assembler.pending_samples(), 0u);
}

TEST(BlockAssembler, LongRunKeepsPendingBelowOneBlock) {
    BlockAssembler assembler(2, 48000);
    const std::atomic<bool> running{true};
    std::vector<ChunkSpec> chunks;
    for (std::uint64_t i = 0; i < 3000; ++i)
        chunks.push_back({i * 512, 1024});
    const Delivered delivered = feed(assembler, 2, chunks, running);
    ASSERT_EQ(delivered.first_samples.size(), 3000u * 1024 / 1920);
    for (std::size_t b = 0; b < delivered.first_samples.size(); ++b) {
        ASSERT_EQ(delivered.first_samples[b], static_cast<float>(b * 1920));
    }
    EXPECT_EQ(delivered.bad_blocks, 0u);
    EXPECT_LT(assembler.pending_samples(), assembler.block_samples());
}

}  // namespace
}  // namespace quorle::capture
