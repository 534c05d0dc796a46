#include "audio_host/pulse/packet_queue.h"

#include <algorithm>
#include <cstring>

#include "audio_host/pulse/pulse_codes.h"

namespace quorle::pulse {

namespace {
constexpr std::size_t kPacketFloats = kFramesPerPacket * kChannels;
}

PacketQueue::PacketQueue(std::size_t capacity)
    : capacity_(std::max<std::size_t>(capacity, 1)),
      samples_(capacity_ * kPacketFloats, 0.0f),
      packets_(capacity_) {}

void PacketQueue::set_signal(std::function<void()> signal) {
    auto shared =
        signal ? std::make_shared<const std::function<void()>>(std::move(signal)) : nullptr;
    std::lock_guard guard(lock_);
    signal_ = std::move(shared);
}

bool PacketQueue::push(const float* samples, std::uint32_t flags) {
    std::shared_ptr<const std::function<void()>> signal;
    {
        std::lock_guard guard(lock_);
        if (failure_ != 0) return false;
        if (count_ == capacity_) {
            dropped_ = true;
            return false;
        }
        // The slot after the queued ones is never the locked packet (that one is the oldest).
        const std::size_t slot = (head_ + count_) % capacity_;
        std::memcpy(&samples_[slot * kPacketFloats], samples, kPacketFloats * sizeof(float));
        packets_[slot].flags = flags | (dropped_ ? kFlagDataDiscontinuity : 0u);
        dropped_ = false;
        ++count_;
        signal = signal_;
    }
    // Signalled unlocked: the woken reader takes the lock at once, without waiting for it.
    if (signal) (*signal)();
    return true;
}

void PacketQueue::fail(std::int32_t code) {
    std::shared_ptr<const std::function<void()>> signal;
    {
        std::lock_guard guard(lock_);
        if (failure_ != 0 || code == 0) return;
        failure_ = code;
        signal = signal_;
    }
    if (signal) (*signal)();
}

void PacketQueue::clear() {
    std::lock_guard guard(lock_);
    // A locked packet stays until it is released.
    const std::size_t keep = locked_ ? 1 : 0;
    count_ = std::min(count_, keep);
    dropped_ = false;
}

std::int32_t PacketQueue::next_packet_size(std::uint32_t& frames) {
    std::lock_guard guard(lock_);
    frames = 0;
    if (failure_ != 0) return failure_;
    if (count_ > 0) frames = static_cast<std::uint32_t>(kFramesPerPacket);
    return 0;
}

std::int32_t PacketQueue::get_buffer(const float*& data, std::uint32_t& frames,
                                     std::uint32_t& flags) {
    std::lock_guard guard(lock_);
    data = nullptr;
    frames = 0;
    flags = 0;
    if (failure_ != 0) return failure_;
    if (locked_) return bad_state_code();
    if (count_ == 0) return 0;
    locked_ = true;
    data = &samples_[head_ * kPacketFloats];
    frames = static_cast<std::uint32_t>(kFramesPerPacket);
    flags = packets_[head_].flags;
    return 0;
}

std::int32_t PacketQueue::release_buffer(std::uint32_t frames) {
    std::lock_guard guard(lock_);
    if (failure_ != 0) {
        locked_ = false;
        return failure_;
    }
    if (!locked_) return frames == 0 ? 0 : bad_state_code();
    if (frames == 0) {
        locked_ = false;
        return 0;
    }
    if (frames != kFramesPerPacket) return invalid_argument_code();
    locked_ = false;
    head_ = (head_ + 1) % capacity_;
    --count_;
    return 0;
}

std::uint32_t PacketQueue::buffer_frames() const {
    return static_cast<std::uint32_t>(capacity_ * kFramesPerPacket);
}

}  // namespace quorle::pulse
