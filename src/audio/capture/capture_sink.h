#pragma once
// The capture side of the pipeline: takes runs of interleaved float samples on the thread
// that reads the capture packets, stamps them with their stream position, cuts them into
// chunks and puts them into the ring. It never blocks, sleeps or allocates: a full ring costs
// the chunk (counted as dropped), never a wait.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "audio/capture/capture_counters.h"
#include "audio/capture/capture_ring.h"

namespace quorle::capture {

// Used by one thread only (the capture packet loop). Move-only. A default-constructed or
// moved-from sink is detached: it takes nothing and reports zero counters.
class CaptureSink {
  public:
    CaptureSink() = default;
    CaptureSink(RingWriter writer, std::shared_ptr<CaptureShared> shared, std::uint16_t channels);
    CaptureSink(CaptureSink&&) noexcept = default;
    CaptureSink& operator=(CaptureSink&&) noexcept = default;
    CaptureSink(const CaptureSink&) = delete;
    CaptureSink& operator=(const CaptureSink&) = delete;
    ~CaptureSink() = default;

    // Hands n interleaved samples to the worker and returns the frames the ring took. While
    // the running flag is clear it does nothing and returns 0. A run that is not a whole
    // number of frames is not passed on: its whole frames count as dropped and the stream
    // position moves past them. Otherwise every chunk the ring refuses counts as dropped;
    // the position moves past it all the same, so the worker sees the gap.
    // `samples` may be null only when n is 0.
    std::uint64_t push_samples(const float* samples, std::size_t n);

    // A discontinuity in the captured stream: the stream position skips one frame (so the
    // next chunk never continues the previous one) and the discontinuities counter grows.
    void mark_discontinuity();

    [[nodiscard]] const CaptureCounters& counters() const;
    // Frames since the capture started, plus one per discontinuity.
    [[nodiscard]] std::uint64_t stream_position() const { return position_; }
    // Ring slots free right now (re-reads the worker's index). Lets a producer that must not
    // drop anything wait before it pushes; the capture path itself never needs it.
    [[nodiscard]] std::uint64_t free_slots();
    // True when the next chunk would find a free slot (re-reads the worker's index only when
    // the ring looks full): the cheap form of free_slots() != 0.
    [[nodiscard]] bool has_room();

    // Drops the ring's writing end; the sink is detached afterwards.
    void reset();

  private:
    std::shared_ptr<CaptureShared> shared_;  // running flag and counters
    RingWriter writer_;                      // the ring's writing end
    std::uint16_t channels_ = 0;
    std::uint64_t position_ = 0;  // stream position of the next frame
};

}  // namespace quorle::capture
