#include "audio/capture/block_assembler.h"

#include <algorithm>
#include <cassert>

namespace quorle::capture {
namespace {

// Room reserved up front: one block plus one chunk covers every state between chunks, so the
// array never grows at the real formats. Absurd sample rates would ask for gigabytes before
// any audio arrived; there the array starts smaller and grows only with real data.
constexpr std::size_t kMaxInitialReserve = std::size_t{1} << 22;  // samples (16 MiB)

}  // namespace

BlockAssembler::BlockAssembler(std::uint16_t channels, std::uint32_t sample_rate)
    : channels_(channels),
      block_samples_(static_cast<std::size_t>(capture::block_samples(channels, sample_rate))) {
    assert(channels >= 1 && channels <= kMaxChannels && sample_rate >= 1);
    pending_.reserve(std::min(block_samples_ + kChunkCapacity, kMaxInitialReserve));
}

void BlockAssembler::append(const CaptureChunk& chunk) {
    assert(chunk.sample_count <= kChunkCapacity && chunk.sample_count % channels_ == 0);
    if (has_previous_ && chunk.start_frame != expected_frame_)
        pending_.clear();
    has_previous_ = true;
    expected_frame_ = chunk.start_frame + chunk.sample_count / channels_;
    const auto count = static_cast<std::ptrdiff_t>(chunk.sample_count);
    pending_.insert(pending_.end(), chunk.samples.begin(), chunk.samples.begin() + count);
}

void BlockAssembler::compact(std::size_t delivered) {
    if (delivered == 0)
        return;
    const auto first = pending_.begin() + static_cast<std::ptrdiff_t>(delivered);
    std::copy(first, pending_.end(), pending_.begin());
    pending_.resize(pending_.size() - delivered);
}

}  // namespace quorle::capture
