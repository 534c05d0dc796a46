#pragma once
// The libpulse side of the loopback capture: a threaded main loop and a context, a record
// stream (a tap) per captured sink input, the sink-input subscription and the mixing
// timer. It turns libpulse callbacks into LoopbackCore events and carries out the core's
// commands. Everything here except open's waiting runs on the main loop's thread, under
// its lock.
#include <chrono>
#include <cstdint>
#include <expected>
#include <map>
#include <memory>

#include "audio_host/pulse/loopback_capture.h"
#include "audio_host/pulse/loopback_core.h"
#include "audio_host/pulse/packet_queue.h"
#include "audio_host/pulse/process_tree.h"
#include "audio_host/pulse/pulse_handles.h"

namespace quorle::pulse {

class PulseSession final : public MonitorServer {
  public:
    // Packets the capture thread may fall behind by before packets are dropped: 320 ms.
    static constexpr std::size_t kPacketCapacity = 32;
    // Fragment of the taps: two ticks. The server sends a tap's data as its sink renders,
    // in blocks of about half the smallest latency asked of that sink; asking 20 ms keeps
    // those blocks (and the wake-ups of this thread) at about 10 ms, where 10 ms would
    // halve them, at a cost of a few milliseconds of latency.
    static constexpr std::uint32_t kFragmentBytes =
        static_cast<std::uint32_t>(2 * kFramesPerPacket * kBytesPerFrame);

    explicit PulseSession(LoopbackTarget target);
    PulseSession(const PulseSession&) = delete;
    PulseSession& operator=(const PulseSession&) = delete;
    ~PulseSession() override;

    // Connects and sets up the capture before `deadline_us` (monotonic microseconds).
    [[nodiscard]] std::expected<void, OpenFailure> open(std::uint64_t deadline_us);

    [[nodiscard]] std::int32_t start();
    [[nodiscard]] std::int32_t stop();
    [[nodiscard]] PacketQueue& packets() { return packets_; }

    // MonitorServer
    [[nodiscard]] std::int32_t attach(std::uint32_t sink_input) override;
    void detach(std::uint32_t sink_input) override;
    [[nodiscard]] std::int32_t query(std::uint32_t sink_input) override;

  private:
    // One tap: what its callbacks need to find their way back.
    struct Tap {
        PulseSession* session;
        std::uint32_t index;
        StreamHandle stream;
    };
    // One pending sink-input lookup.
    struct Query {
        PulseSession* session;
        std::uint64_t serial;
        std::uint32_t index;
    };

    static void on_context_state(pa_context* context, void* userdata);
    static void on_subscription(pa_context* context, pa_subscription_event_type_t type,
                                std::uint32_t index, void* userdata);
    static void on_subscribed(pa_context* context, int success, void* userdata);
    static void on_listing(pa_context* context, const pa_sink_input_info* info, int eol,
                           void* userdata);
    static void on_query(pa_context* context, const pa_sink_input_info* info, int eol,
                         void* userdata);
    static void on_tap_state(pa_stream* stream, void* userdata);
    static void on_tap_read(pa_stream* stream, std::size_t bytes, void* userdata);
    static void on_deadline(pa_mainloop_api* api, pa_time_event* event, const struct timeval* tv,
                            void* userdata);
    static void on_tick(pa_mainloop_api* api, pa_time_event* event, const struct timeval* tv,
                        void* userdata);

    [[nodiscard]] std::int32_t context_code() const;
    // Moves the tick timer to the core's next wake-up time (while capturing).
    void rearm();
    // Waits (lock held) until `done` holds, the context failed or the deadline passed.
    template <class Done>
    [[nodiscard]] std::expected<void, OpenFailure> wait_for(Done done, OpenStage stage);

    // Members in acquisition order; released in reverse (the loop's thread stops first).
    PacketQueue packets_;
    ProcLookup processes_;
    LoopbackTarget target_;
    MainloopHandle mainloop_;
    ContextHandle context_;
    LoopbackCore core_;
    std::map<std::uint32_t, std::unique_ptr<Tap>> taps_;
    std::map<std::uint64_t, Query> queries_;
    TimeEventHandle deadline_timer_;
    TimeEventHandle tick_timer_;
    bool thread_started_ = false;

    // Open's progress, written by callbacks under the loop's lock.
    std::uint64_t next_query_ = 0;
    bool ready_ = false;
    bool context_failed_ = false;
    bool timed_out_ = false;
    std::int32_t setup_code_ = 0;  // a failed subscription or listing
    bool running_ = false;
    std::uint64_t armed_us_ = 0;  // when the tick timer fires next
};

}  // namespace quorle::pulse
