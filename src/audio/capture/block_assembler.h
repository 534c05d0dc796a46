#pragma once
// Joins ring chunks back into 20 ms blocks on the worker thread. Chunks must continue one
// another: a chunk whose start_frame is not where the previous one ended (a dropped chunk or
// a discontinuity) throws away the partly filled block, so a block never spans a gap.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "audio/capture/capture_chunk.h"

namespace quorle::capture {

class BlockAssembler {
  public:
    // Requires 1 <= channels <= kMaxChannels and sample_rate >= 1.
    BlockAssembler(std::uint16_t channels, std::uint32_t sample_rate);

    // Takes one chunk (in ring order) and calls deliver(std::span<const float>) for every
    // block it completes, in stream order. The span is valid only during the call. When
    // `running` is clear (acquire) at a complete block, everything pending is dropped and no
    // further block of this chunk is delivered.
    template <class Deliver>
    void take(const CaptureChunk& chunk, const std::atomic<bool>& running, Deliver&& deliver) {
        append(chunk);
        deliver_ready(running, deliver);
    }

    // take() in two halves, so that the worker can copy a chunk straight out of its ring slot
    // and free the slot before it writes any block. append(): the gap check and the copy.
    void append(const CaptureChunk& chunk);
    // Cuts and delivers every complete block pending.
    template <class Deliver>
    void deliver_ready(const std::atomic<bool>& running, Deliver&& deliver) {
        std::size_t start = 0;
        while (pending_.size() - start >= block_samples_) {
            if (!running.load(std::memory_order_acquire)) {
                pending_.clear();
                return;
            }
            deliver(std::span<const float>(pending_.data() + start, block_samples_));
            start += block_samples_;
        }
        compact(start);
    }

    [[nodiscard]] std::size_t block_samples() const { return block_samples_; }
    // Samples taken but not yet delivered.
    [[nodiscard]] std::size_t pending_samples() const { return pending_.size(); }

  private:
    // Moves the samples after the delivered blocks to the front.
    void compact(std::size_t delivered);

    std::uint16_t channels_;
    std::size_t block_samples_;
    bool has_previous_ = false;
    std::uint64_t expected_frame_ = 0;  // where the next chunk must start to continue
    std::vector<float> pending_;        // taken, not yet delivered, in stream order
};

}  // namespace quorle::capture
