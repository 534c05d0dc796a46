#pragma once
// Loopback capture on Linux through the PulseAudio protocol (PulseAudio, or PipeWire's
// compatible server): the playback streams of one process tree, or of everything except
// one process tree, mixed into one 48 kHz stereo float packet stream, read through the
// calls of a capture client.
//
// Every matching playback stream (sink input) is tapped by a record stream on its monitor;
// the taps are mixed by plain float addition on a fixed 10 ms tick (a backlog queued by a
// stall goes out sooner, so the delay recovers). A packet comes every 10 ms once started, flagged
// silent while nothing plays, flagged as a discontinuity after a hole, an overflow or a restarted
// stream. Streams that appear later are picked up, streams that end are dropped, streams moved to
// another sink are tapped again.
//
// Threads: open, the packet calls, start and stop belong to one capture thread; libpulse
// runs its own thread, on which the tapping and mixing happen.
#include <chrono>
#include <cstdint>
#include <expected>
#include <memory>

#include <functional>

#include "audio_host/pulse/loopback_types.h"

namespace quorle::pulse {

// The stage at which opening failed.
enum class OpenStage {
    Connect,   // no server reachable, or the connection failed: a PulseAudio code
    Setup,     // the server refused the subscription, the listing or a tap: a PulseAudio code
    TimedOut,  // the deadline passed before the capture was set up: `code` is 0
};

struct OpenFailure {
    OpenStage stage = OpenStage::Connect;
    std::int32_t code = 0;  // text: capture_error_text (pulse_codes.h)
};

class PulseSession;

class LoopbackCapture {
  public:
    // Connects, subscribes to playback streams, taps the matching ones and waits until
    // every tap is set up, all before `deadline` (a steady_clock time, CLOCK_MONOTONIC).
    [[nodiscard]] static std::expected<std::unique_ptr<LoopbackCapture>, OpenFailure> open(
        LoopbackTarget target, std::chrono::steady_clock::time_point deadline);

    LoopbackCapture(const LoopbackCapture&) = delete;
    LoopbackCapture& operator=(const LoopbackCapture&) = delete;
    ~LoopbackCapture();

    // Frames the packet queue holds at most; no packet is larger.
    [[nodiscard]] std::uint32_t buffer_frames() const;
    // The capture event: `signal` is called (on libpulse's thread, briefly, without calling
    // back into the capture) when a packet is ready and when the capture failed. It must
    // stay callable until the capture is destroyed or another signal is set.
    void set_packet_signal(std::function<void()> signal);

    // Starts the 10 ms tick; what was tapped before is discarded. 0 or a failure code.
    [[nodiscard]] std::int32_t start();
    // Stops the tick. 0 or a failure code.
    [[nodiscard]] std::int32_t stop();

    // The calls of a capture client; each returns 0 or a failure code (the connection lost,
    // a new stream refused by the server, or calls out of order).
    [[nodiscard]] std::int32_t next_packet_size(std::uint32_t& frames);
    [[nodiscard]] std::int32_t get_buffer(const float*& data, std::uint32_t& frames,
                                          std::uint32_t& flags);
    [[nodiscard]] std::int32_t release_buffer(std::uint32_t frames);

  private:
    explicit LoopbackCapture(std::unique_ptr<PulseSession> session);
    std::unique_ptr<PulseSession> session_;
};

}  // namespace quorle::pulse
