#include "audio/capture/chunking.h"

#include <algorithm>
#include <cassert>

namespace quorle::capture {

void fill_chunk(CaptureChunk& chunk, const float* piece, std::size_t count,
                std::uint64_t start_frame) {
    assert(count > 0 && count <= kChunkCapacity);
    const auto used = static_cast<std::ptrdiff_t>(count);
    std::copy(piece, piece + used, chunk.samples.begin());
    std::fill(chunk.samples.begin() + used, chunk.samples.end(), 0.0f);
    chunk.sample_count = count;
    chunk.start_frame = start_frame;
}

}  // namespace quorle::capture
