#pragma once
// The libpulse side of the loopback capture: a threaded main loop and a context, a record
// stream (a tap) per captured sink input, the sink-input subscription and the mixing
// timer. It turns libpulse callbacks into LoopbackCore events and carries out the core's
// commands. Everything here except open's waiting runs on the main loop's thread, under
// its lock.
//
// Where PipeWire serves the protocol, each tap has a server connection of its own, served by
// the same main loop, and the taps are set up one after the other. PipeWire's PulseAudio
// server (0.3.65) starves most of several monitor record streams opened on one connection
// (they stay ready and receive nothing), and on a busy machine some of the taps set up at
// the same moment on separate connections receive only silence. One connection per tap,
// each set up once the one before is ready, gets every tap its data. PulseAudio itself
// feeds every tap of one connection, and there a connection per tap would cost several
// times the processor time (each delivery a wake-up of its own): its taps share the
// capture's connection.
//
// Which process plays a sink input is decided from the sink input and its client (see
// stream_process): every sink input is looked up with its client before the core sees it.
#include <chrono>
#include <cstdint>
#include <deque>
#include <expected>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "audio_host/pulse/loopback_capture.h"
#include "audio_host/pulse/loopback_core.h"
#include "audio_host/pulse/packet_queue.h"
#include "audio_host/pulse/process_tree.h"
#include "audio_host/pulse/pulse_handles.h"

#ifndef QUORLE_PULSE_FRAGMENT_MS
#define QUORLE_PULSE_FRAGMENT_MS 20
#endif

namespace quorle::pulse {

class PulseSession final : public MonitorServer {
  public:
    // Packets the capture thread may fall behind by before packets are dropped: 320 ms.
    static constexpr std::size_t kPacketCapacity = 32;
    // Fragment of the taps: two ticks. The server sends a tap's data as its sink renders,
    // in blocks of about half the smallest latency asked of that sink; asking 20 ms keeps
    // those blocks (and the wake-ups of this thread) at about 10 ms, where 10 ms would
    // halve them, at a cost of a few milliseconds of latency.
    // QUORLE_PULSE_FRAGMENT_MS builds another fragment (for the measurement of
    // bench/live_capture_bench.py).
    static constexpr std::uint32_t kFragmentBytes =
        static_cast<std::uint32_t>(kSampleRate / 1000 * QUORLE_PULSE_FRAGMENT_MS * kBytesPerFrame);

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
    // One tap: what its callbacks need to find their way back, its own connection (none
    // when it shares the capture's) and its record stream. Released in reverse: stream,
    // then connection.
    struct Tap {
        PulseSession* session;
        std::uint32_t index;
        ContextHandle context;
        StreamHandle stream;
        bool data_seen = false;  // traced once
    };
    // One pending lookup of a sink input's client.
    struct OwnerLookup {
        PulseSession* session;
        std::uint64_t serial;
        std::uint32_t index;  // the sink input
        StreamOwner owner;
        bool listing;  // part of the first listing
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
    static void on_own_client(pa_context* context, const pa_client_info* info, int eol,
                              void* userdata);
    static void on_owner_client(pa_context* context, const pa_client_info* info, int eol,
                                void* userdata);
    static void on_tap_context_state(pa_context* context, void* userdata);
    static void on_tap_state(pa_stream* stream, void* userdata);
    static void on_tap_read(pa_stream* stream, std::size_t bytes, void* userdata);
    static void on_deadline(pa_mainloop_api* api, pa_time_event* event, const struct timeval* tv,
                            void* userdata);
    static void on_tick(pa_mainloop_api* api, pa_time_event* event, const struct timeval* tv,
                        void* userdata);
    static void on_pump(pa_mainloop_api* api, pa_time_event* event, const struct timeval* tv,
                        void* userdata);

    static void on_traced_source(pa_context* context, const pa_source_info* info, int eol,
                                 void* userdata);
    static void on_traced_sink(pa_context* context, const pa_sink_info* info, int eol,
                               void* userdata);

    // With QUORLE_PULSE_TRACE set: one line "QUORLE_PULSE_TRACE t_ms=<monotonic ms> ..."
    // on standard error.
    void trace(const char* format, ...) const __attribute__((format(printf, 2, 3)));
    // Traces a ready tap's buffer attributes and the latency of the sink it monitors.
    void trace_ready(Tap& tap);
    [[nodiscard]] std::int32_t context_code() const;
    // A new, unconnected context named after this program; null when out of memory.
    [[nodiscard]] pa_context* new_context() const;
    // Starts the connection of a tap; 0 or a failure code.
    [[nodiscard]] std::int32_t connect_tap(Tap& tap);
    // Runs pump from the main loop soon (never inside a callback of the core).
    void schedule_pump();
    // Releases the retired taps and starts the next waiting tap's connection when no other
    // tap is connecting.
    void pump();
    // The tap that was connecting is ready, failed or detached: the next one may start.
    void tap_settled(std::uint32_t index);
    // Opens the record stream of a tap whose connection is ready; 0 or a failure code.
    [[nodiscard]] std::int32_t open_tap_stream(Tap& tap);
    // The connection a tap's stream lives on.
    [[nodiscard]] pa_context* connection_of(const Tap& tap) const;
    // Looks the client of a described sink input up, then passes the sink input to the core.
    void look_up_owner(const pa_sink_input_info& info, bool listing);
    void deliver(std::uint32_t index, const StreamOwner& owner);
    // Tells the core that the first listing is complete once every lookup of it has ended.
    void finish_listing();
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
    // Detached taps, silenced and released by the next pump: a detach may come from inside a
    // callback of the tap's own connection, which must not be freed under its dispatcher.
    std::vector<std::unique_ptr<Tap>> retired_taps_;
    std::map<std::uint64_t, Query> queries_;
    std::map<std::uint64_t, OwnerLookup> owner_lookups_;
    TimeEventHandle deadline_timer_;
    TimeEventHandle tick_timer_;
    TimeEventHandle pump_timer_;
    std::deque<std::uint32_t> waiting_taps_;       // attached, connection not started
    std::optional<std::uint32_t> connecting_tap_;  // the tap being set up
    bool thread_started_ = false;

    // Open's progress, written by callbacks under the loop's lock.
    std::uint64_t next_query_ = 0;
    bool ready_ = false;
    bool own_client_known_ = false;
    std::optional<std::uint32_t> relay_pid_;  // the secure pid of this connection's peer
    bool own_connections_ = false;            // each tap connects on its own (PipeWire)
    bool listing_ended_ = false;              // the first listing's last entry has come
    std::size_t listing_lookups_ = 0;         // its client lookups still pending
    bool context_failed_ = false;
    bool timed_out_ = false;
    std::int32_t setup_code_ = 0;  // a failed subscription or listing
    bool running_ = false;
    std::uint64_t armed_us_ = 0;  // when the tick timer fires next
    bool trace_ = false;
};

}  // namespace quorle::pulse
