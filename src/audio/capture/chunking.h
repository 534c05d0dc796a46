#pragma once
// Cutting a run of interleaved samples into ring chunks. The capture side hands every packet
// over as one run; a run becomes consecutive pieces of chunk_length(channels) samples (the
// last piece holds the remainder), each a whole number of frames.
#include <cstddef>
#include <cstdint>

#include "audio/capture/capture_chunk.h"

namespace quorle::capture {

// True when a run of n samples is a whole number of frames. Runs that are not are never
// chunked: their whole frames are counted as dropped instead.
[[nodiscard]] constexpr bool is_whole_frames(std::size_t n, std::uint16_t channels) {
    return channels != 0 && n % channels == 0;
}

// Calls on_piece(offset, count) for each piece of a run of n samples, in stream order.
// Requires 1 <= channels <= kMaxChannels and is_whole_frames(n, channels). A run of 0 samples
// gives no piece.
template <class OnPiece>
void for_each_piece(std::size_t n, std::uint16_t channels, OnPiece&& on_piece) {
    const std::size_t length = chunk_length(channels);
    for (std::size_t offset = 0; offset < n; offset += length) {
        const std::size_t left = n - offset;
        on_piece(offset, left < length ? left : length);
    }
}

// Fills a ring slot with one piece: `count` samples copied from index 0, the rest zeroed,
// stamped with the stream position of the piece's first frame.
void fill_chunk(CaptureChunk& chunk, const float* piece, std::size_t count,
                std::uint64_t start_frame);

}  // namespace quorle::capture
