#pragma once
// The packets between the server thread, which mixes one packet per tick, and the capture
// thread, which reads them with the calls of a capture client: next_packet_size, get_buffer
// (the packet stays locked and its memory valid) and release_buffer.
//
// A full queue drops the new packet; the next packet that fits carries the discontinuity
// flag. A failure (the connection lost, a stream refused) is kept and answered to every
// later call, so the capture thread sees it at its next call. Each queued packet and the
// failure call the signal (the capture event) once, if one is set.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "audio_host/pulse/loopback_types.h"

namespace quorle::pulse {

class PacketQueue {
  public:
    // `capacity` packets of kFramesPerPacket stereo frames.
    explicit PacketQueue(std::size_t capacity);

    // Sets the signal given each queued packet and the failure. It is called on the server
    // thread after the queue's lock is released (the woken reader never waits for the
    // lock), so it may run once more after it was replaced; it must be short.
    void set_signal(std::function<void()> signal);

    // Server side. Copies one packet of kFramesPerPacket frames. Returns false when the
    // queue was full and the packet was dropped.
    bool push(const float* samples, std::uint32_t flags);
    // Records the first failure; later ones are ignored.
    void fail(std::int32_t code);
    // Drops queued packets and any pending discontinuity (a new start of the capture).
    void clear();

    // Capture side; each returns 0 or a failure code.
    std::int32_t next_packet_size(std::uint32_t& frames);
    // Locks the oldest packet. With nothing queued: success, null data, 0 frames, no flags.
    std::int32_t get_buffer(const float*& data, std::uint32_t& frames, std::uint32_t& flags);
    // Releases the locked packet: its frame count consumes it, 0 leaves it queued.
    std::int32_t release_buffer(std::uint32_t frames);

    // Frames the queue holds at most.
    [[nodiscard]] std::uint32_t buffer_frames() const;

  private:
    struct Packet {
        std::uint32_t flags = 0;
    };
    std::size_t capacity_;
    std::vector<float> samples_;   // capacity_ packets of kFramesPerPacket × 2 floats
    std::vector<Packet> packets_;  // flags per slot

    std::mutex lock_;                                      // guards everything below
    std::shared_ptr<const std::function<void()>> signal_;  // the capture event
    std::size_t head_ = 0;                                 // oldest queued packet
    std::size_t count_ = 0;                                // queued packets
    bool locked_ = false;       // the oldest packet is handed out by get_buffer
    bool dropped_ = false;      // a packet was dropped since the last queued one
    std::int32_t failure_ = 0;  // first failure, 0 while none
};

}  // namespace quorle::pulse
