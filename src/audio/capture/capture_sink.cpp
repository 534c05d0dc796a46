#include "audio/capture/capture_sink.h"

#include <cassert>
#include <utility>

#include "audio/capture/chunking.h"

namespace quorle::capture {

CaptureSink::CaptureSink(RingWriter writer, std::shared_ptr<CaptureShared> shared,
                         std::uint16_t channels)
    : shared_(std::move(shared)), writer_(std::move(writer)), channels_(channels) {
    assert(channels_ >= 1 && channels_ <= kMaxChannels);
}

std::uint64_t CaptureSink::push_samples(const float* samples, std::size_t n) {
    if (shared_ == nullptr)
        return 0;
    if (!shared_->running.load(std::memory_order_acquire))
        return 0;
    CaptureCounters& counters = shared_->counters;
    if (!is_whole_frames(n, channels_)) {
        // The trailing partial frame is neither counted nor positioned.
        const std::uint64_t frames = n / channels_;
        if (frames != 0)
            counters.dropped_frames.fetch_add(frames, std::memory_order_relaxed);
        position_ += frames;
        return 0;
    }
    assert(samples != nullptr || n == 0);
    std::uint64_t accepted = 0;
    for_each_piece(n, channels_, [&](std::size_t offset, std::size_t count) {
        const std::uint64_t frames = count / channels_;
        if (CaptureChunk* slot = writer_.claim()) {
            fill_chunk(*slot, samples + offset, count, position_);
            writer_.publish();
            accepted += frames;
        } else {
            // Full ring: the newest chunk is lost; what the ring holds stays.
            counters.dropped_frames.fetch_add(frames, std::memory_order_relaxed);
        }
        position_ += frames;
    });
    if (accepted != 0)
        counters.accepted_frames.fetch_add(accepted, std::memory_order_relaxed);
    return accepted;
}

void CaptureSink::mark_discontinuity() {
    if (shared_ == nullptr)
        return;
    position_ += 1;
    shared_->counters.discontinuities.fetch_add(1, std::memory_order_relaxed);
}

const CaptureCounters& CaptureSink::counters() const {
    static const CaptureCounters detached;
    return shared_ != nullptr ? shared_->counters : detached;
}

std::uint64_t CaptureSink::free_slots() {
    return writer_.attached() ? writer_.free_slots() : 0;
}

bool CaptureSink::has_room() {
    return writer_.attached() && writer_.has_room();
}

void CaptureSink::reset() {
    writer_ = RingWriter();
    shared_.reset();
}

}  // namespace quorle::capture
