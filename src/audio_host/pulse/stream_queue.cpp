#include "audio_host/pulse/stream_queue.h"

#include <algorithm>
#include <cstring>

#include "audio_host/pulse/loopback_types.h"

namespace quorle::pulse {

StreamQueue::StreamQueue(std::size_t capacity_frames, std::size_t start_frames)
    : capacity_(std::max<std::size_t>(capacity_frames, 1)),
      start_frames_(std::min(start_frames, std::max<std::size_t>(capacity_frames, 1))),
      ring_(capacity_ * kChannels, 0.0f) {}

std::size_t StreamQueue::make_room(std::size_t frames) {
    const std::size_t free_frames = capacity_ - size_;
    if (frames <= free_frames) return 0;
    const std::size_t drop = std::min(frames - free_frames, size_);
    head_ = (head_ + drop) % capacity_;
    size_ -= drop;
    return drop;
}

void StreamQueue::append_floats(const float* samples, std::size_t frames) {
    std::size_t tail = (head_ + size_) % capacity_;
    while (frames > 0) {
        const std::size_t run = std::min(frames, capacity_ - tail);
        if (samples != nullptr) {
            std::memcpy(&ring_[tail * kChannels], samples, run * kBytesPerFrame);
            samples += run * kChannels;
        } else {
            std::fill_n(&ring_[tail * kChannels], run * kChannels, 0.0f);
        }
        tail = (tail + run) % capacity_;
        size_ += run;
        frames -= run;
    }
}

std::size_t StreamQueue::push_bytes(const void* data, std::size_t bytes) {
    if (bytes == 0) return 0;
    idle_ticks_ = 0;
    const auto* in = static_cast<const unsigned char*>(data);
    std::size_t dropped = 0;
    if (partial_bytes_ > 0) {
        const std::size_t need = kBytesPerFrame - partial_bytes_;
        const std::size_t take = std::min(need, bytes);
        std::memcpy(partial_ + partial_bytes_, in, take);
        partial_bytes_ += take;
        in += take;
        bytes -= take;
        if (partial_bytes_ < kBytesPerFrame) return 0;
        float frame[kChannels];
        std::memcpy(frame, partial_, kBytesPerFrame);
        dropped += make_room(1);
        append_floats(frame, 1);
        partial_bytes_ = 0;
    }
    std::size_t frames = bytes / kBytesPerFrame;
    const std::size_t tail_bytes = bytes % kBytesPerFrame;
    if (frames > capacity_) {
        // Only the newest frames fit at all.
        dropped += frames - capacity_;
        in += (frames - capacity_) * kBytesPerFrame;
        frames = capacity_;
    }
    if (frames > 0) {
        dropped += make_room(frames);
        // Server memory carries no alignment promise: copy through an aligned block.
        float block[256 * kChannels];
        std::size_t done = 0;
        while (done < frames) {
            const std::size_t run = std::min<std::size_t>(frames - done, 256);
            std::memcpy(block, in + done * kBytesPerFrame, run * kBytesPerFrame);
            append_floats(block, run);
            done += run;
        }
    }
    partial_bytes_ = tail_bytes;
    std::memcpy(partial_, in + frames * kBytesPerFrame, partial_bytes_);
    return dropped;
}

std::size_t StreamQueue::push_silence(std::size_t frames) {
    if (frames == 0) return 0;
    idle_ticks_ = 0;
    std::size_t dropped = 0;
    if (frames > capacity_) {
        dropped = frames - capacity_;
        frames = capacity_;
    }
    dropped += make_room(frames);
    append_floats(nullptr, frames);
    return dropped;
}

std::size_t StreamQueue::mix_into(float* out, std::size_t frames) {
    if (!playing_ && size_ > 0 &&
        (size_ >= start_frames_ || idle_ticks_ >= kIdleTicksBeforePlayOut || finished_)) {
        playing_ = true;
    }
    if (idle_ticks_ < kIdleTicksBeforePlayOut) ++idle_ticks_;
    if (!playing_) return 0;
    const std::size_t take = std::min(frames, size_);
    std::size_t done = 0;
    while (done < take) {
        const std::size_t run = std::min(take - done, capacity_ - head_);
        const float* from = &ring_[head_ * kChannels];
        float* to = out + done * kChannels;
        for (std::size_t i = 0; i < run * kChannels; ++i)
            to[i] += from[i];
        head_ = (head_ + run) % capacity_;
        size_ -= run;
        done += run;
    }
    if (take < frames) playing_ = false;
    return take;
}

void StreamQueue::clear() {
    head_ = 0;
    size_ = 0;
    partial_bytes_ = 0;
    playing_ = false;
    idle_ticks_ = 0;
}

}  // namespace quorle::pulse
