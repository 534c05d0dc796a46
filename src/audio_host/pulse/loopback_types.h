#pragma once
// Shared vocabulary of the PulseAudio loopback capture: the capture target, the packet shape
// and the buffer flags, which keep the values of the Windows capture client so that the
// packet loop reads both the same way.
#include <cstddef>
#include <cstdint>

namespace quorle::pulse {

// Which process tree the capture covers, relative to the target process.
enum class LoopbackMode : std::uint32_t {
    IncludeTargetTree = 0,  // only streams of the target and its descendants
    ExcludeTargetTree = 1,  // every stream except those of the target's tree
};

struct LoopbackTarget {
    std::uint32_t pid = 0;
    LoopbackMode mode = LoopbackMode::IncludeTargetTree;
};

// Buffer flags of a packet.
inline constexpr std::uint32_t kFlagDataDiscontinuity = 0x1;
inline constexpr std::uint32_t kFlagSilent = 0x2;

// Stream format of the capture: 48 kHz stereo 32-bit float, interleaved.
inline constexpr std::uint32_t kSampleRate = 48000;
inline constexpr std::size_t kChannels = 2;
inline constexpr std::size_t kBytesPerFrame = kChannels * sizeof(float);

// One packet is one mixing tick: 10 ms. QUORLE_PULSE_PACKET_MS builds another tick (20 for
// the measurement of bench/live_capture_bench.py); the product keeps 10 ms.
#ifndef QUORLE_PULSE_PACKET_MS
#define QUORLE_PULSE_PACKET_MS 10
#endif
inline constexpr std::uint64_t kPacketMillis = QUORLE_PULSE_PACKET_MS;
static_assert(kPacketMillis > 0 && kPacketMillis <= 100 && 1000 % kPacketMillis == 0);
inline constexpr std::size_t kFramesPerPacket = kSampleRate / 1000 * kPacketMillis;
inline constexpr std::uint64_t kTickMicros = kPacketMillis * 1000;

}  // namespace quorle::pulse
