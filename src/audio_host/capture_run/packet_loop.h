#pragma once
// The packet loop of a running capture: sleeps on the capture event, drains the capture
// service packet by packet, checks each packet against the negotiated buffer and hands the
// samples to the sink. It returns at the first stop condition (success) or failure (one
// message), and never stops the audio client itself.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>

#include "audio_host/capture_run/capture_platform.h"
#include "common/result.h"

namespace quorle::host {

// Where the loop hands the samples: the capture pipeline's sink in the program.
class PacketSink {
  public:
    virtual ~PacketSink() = default;
    // Interleaved float samples, `count` of them (a whole number of frames).
    virtual void push_samples(const float* samples, std::size_t count) = 0;
    // Advances the stream position by one frame and counts a discontinuity.
    virtual void mark_discontinuity() = 0;
};

// Whether a process still runs: a zero-time-out poll of its handle, where a signalled handle
// and a failed wait both mean that it has gone.
class ProcessWatch {
  public:
    virtual ~ProcessWatch() = default;
    [[nodiscard]] virtual bool running() = 0;
};

inline constexpr std::uint32_t kCaptureEventWaitMs = 250;
inline constexpr unsigned kPacketsPerWake = 64;
inline constexpr std::uint32_t kSamplesPerFrame = 2;
inline constexpr std::size_t kZeroAreaSamples = 1024;
inline constexpr std::uint32_t kBufferFlagDataDiscontinuity = 0x1;
inline constexpr std::uint32_t kBufferFlagSilent = 0x2;
// GetBuffer's success code for "no packet after all" (AUDCLNT_S_BUFFER_EMPTY): nothing is
// locked, so nothing is released; the loop goes back to its checks and its wait.
inline constexpr HResult kBufferEmpty = 0x08890001;

// Process-loopback clients have been seen to report a buffer of 0 frames; with that bound
// every packet would end the capture. A report of 0 is replaced by one second of the stream.
inline constexpr std::uint32_t kFallbackBufferFrames = 48000;

// The largest packet, in frames, that the loop accepts for a reported buffer size.
[[nodiscard]] constexpr std::uint32_t packet_frame_bound(std::uint32_t reported_buffer_frames) {
    return reported_buffer_frames == 0 ? kFallbackBufferFrames : reported_buffer_frames;
}

// Everything the loop reads; it owns none of it.
struct PacketLoopContext {
    const std::atomic<bool>& console_stop;  // set by the console control handler
    const std::atomic<bool>& shared_stop;   // set by the capture worker
    ProcessWatch& translator;
    ProcessWatch* target = nullptr;  // present only for one application's capture
    CaptureEvent& event;
    CaptureService& service;
    std::uint32_t buffer_frames = 0;  // as reported by the client
    PacketSink& sink;
    std::span<const float, kZeroAreaSamples> zeros;  // all 0.0: the source of silent samples
};

[[nodiscard]] Status run_packet_loop(const PacketLoopContext& context);

}  // namespace quorle::host
