#pragma once
// One slot of the capture ring: a fixed run of interleaved float samples stamped with the
// stream position of its first frame, plus the sizes that every part of the capture path
// derives from the stream format.
#include <array>
#include <cstddef>
#include <cstdint>

namespace quorle::capture {

// Samples per ring slot.
inline constexpr std::size_t kChunkCapacity = 1024;
// Slots in the capture ring.
inline constexpr std::uint64_t kRingCapacity = 32;
// Largest channel count a capture pipeline accepts (one frame must fit one slot).
inline constexpr std::uint16_t kMaxChannels = 1024;

struct CaptureChunk {
    // The chunk's samples from index 0; entries from sample_count on are 0.0.
    std::array<float, kChunkCapacity> samples;
    // Valid samples: a whole number of frames, 0 < sample_count <= kChunkCapacity.
    std::uint64_t sample_count;
    // Stream position (frames since the capture started) of the first frame.
    std::uint64_t start_frame;
};

// Samples per chunk: the largest whole number of frames that fits one slot
// (1024 for 1, 2 and 4 channels, 1023 for 3, 1020 for 6). 0 when channels is 0 or above 1024.
[[nodiscard]] constexpr std::size_t chunk_length(std::uint16_t channels) {
    if (channels == 0)
        return 0;
    return static_cast<std::size_t>(channels) * (kChunkCapacity / channels);
}

// Frames per 20 ms block: max(1, sample_rate / 50).
[[nodiscard]] constexpr std::uint64_t block_frames(std::uint32_t sample_rate) {
    const std::uint64_t frames = sample_rate / 50u;
    return frames == 0 ? 1 : frames;
}

// Samples per 20 ms block.
[[nodiscard]] constexpr std::uint64_t block_samples(std::uint16_t channels,
                                                    std::uint32_t sample_rate) {
    return static_cast<std::uint64_t>(channels) * block_frames(sample_rate);
}

}  // namespace quorle::capture
