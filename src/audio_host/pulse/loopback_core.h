#pragma once
// The decisions of the PulseAudio loopback capture, free of libpulse: which sink inputs to
// tap, what to do when a tap fails, and the fixed 10 ms mixing tick that turns the tapped
// streams into one packet stream.
//
// The server layer feeds events in (all on the server thread) and carries out the
// commands of MonitorServer; the packets go to the PacketQueue for the capture thread.
//
// The tick schedule is fixed (one packet per 10 ms of the monotonic clock, never drifting;
// a queued backlog may only move it ahead, see below), but a due packet waits while a
// playing stream's data is late, up to a grace period: the server's delivery jitters with
// the load of the machine, and a packet mixed a few milliseconds later is better than
// silence cut into the middle of a stream. While streams
// deliver, arriving data produces the due packets, so the timer does not wake the thread a
// second time per tick; it stays as the fallback for when nothing arrives.
//
// The grace period counts only time in which this thread could read its taps. After a stall
// of this thread the timer fires late, and the loop runs it before it reads the data that
// piled up meanwhile: the ticks that came due during the stall are not late for want of
// data, so their grace starts again at the first wake-up after the stall (a wake-up later
// than asked for shows the stall).
//
// A packet whose grace has passed goes out without the late stream's missing data: that
// stream contributes silence and stops playing. When its data does come, within
// `late_window_us`, it is played, not dropped, and the first packet that carries it again
// has the discontinuity flag (the stream was shifted later by the silence put in). A stream
// that stays quiet longer has stopped (paused or ended): its silence carries no flag.
//
// A stall of this thread or of the server leaves its length queued in every stream, and a
// schedule that only ever produces due packets would keep that delay for good. So while no
// packet is due and every ready stream already holds a whole packet to play, arriving data
// produces the next packets at once, moving the schedule ahead of the clock (at most
// `ahead_us`): the backlog drains and the capture's delay returns to what the server
// delivers. The samples are the same, in the same order; only their packets come sooner.
// The timer then fires early at most once, finds nothing due and sets the later time.
//
// Stream life:
//   a matching sink input appears  -> attach (a record stream on its monitor) -> Connecting
//   the tap is ready               -> Ready (a re-attached tap flags a discontinuity)
//   the tap fails, sink input gone -> Ending (what is queued is played out, then dropped)
//   the tap fails otherwise        -> Querying: the sink input is looked up again and, if it
//                                     still exists and matches (moved to another sink), it
//                                     is attached again; three failures without data in
//                                     between give it up (a discontinuity)
//   the server refuses a new tap   -> a set-up failure (during opening) or the capture's
//                                     failure (while capturing)
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "audio_host/pulse/loopback_types.h"
#include "audio_host/pulse/packet_queue.h"
#include "audio_host/pulse/process_tree.h"
#include "audio_host/pulse/stream_queue.h"

namespace quorle::pulse {

// What the server knows about a playback stream (a sink input).
struct SinkInputInfo {
    std::uint32_t index = 0;
    std::optional<std::uint32_t> process_id;  // the playing process (stream_process)
};

// Why a record stream on a sink input's monitor failed.
enum class TapFailure {
    SinkInputMissing,  // the sink input does not exist (ended before or while connecting)
    SinkInputKilled,   // the sink input ended or moved to another sink
    Refused,           // the server refused the stream for any other reason
};

// Commands to the server layer. Each is answered later by events of LoopbackCore; after
// detach no further event arrives for that tap.
class MonitorServer {
  public:
    virtual ~MonitorServer() = default;
    // Starts a record stream on the sink input's monitor. 0, or the code of a failure that
    // happened at once (then no event follows).
    [[nodiscard]] virtual std::int32_t attach(std::uint32_t sink_input) = 0;
    // Ends the record stream of the sink input (if any).
    virtual void detach(std::uint32_t sink_input) = 0;
    // Looks the sink input up: answered by on_sink_input or on_sink_input_missing. 0, or
    // the code of a failure that happened at once (then no event follows).
    [[nodiscard]] virtual std::int32_t query(std::uint32_t sink_input) = 0;
};

struct CoreConfig {
    std::size_t queue_frames = 20 * kFramesPerPacket;  // per stream: 200 ms
    std::size_t start_frames = kFramesPerPacket;       // collected before a stream plays
    std::uint64_t grace_us = 40000;                    // how long a packet waits for data
    std::size_t max_pending = 32;                      // due packets kept; more are skipped
    std::uint64_t ahead_us = 200000;  // how far before its tick a packet may be produced
    // How long after a stream ran dry in a packet that waited for it its data still counts
    // as late (flagged when it comes), not as a new start.
    std::uint64_t late_window_us = 1000000;
};

class LoopbackCore {
  public:
    LoopbackCore(MonitorServer& server, const ProcessLookup& processes, LoopbackTarget target,
                 PacketQueue& packets, CoreConfig config = {});

    // --- events of the server layer ---
    void on_sink_input(const SinkInputInfo& info);
    void on_listing_done();
    void on_sink_input_missing(std::uint32_t index);
    void on_sink_input_removed(std::uint32_t index);
    void on_tap_ready(std::uint32_t index);
    void on_tap_failed(std::uint32_t index, TapFailure failure, std::int32_t code);
    // Data of a tap, arrived at `now_us`; produces the packets that became due.
    void on_tap_data(std::uint32_t index, const void* data, std::size_t bytes,
                     std::uint64_t now_us);
    void on_tap_hole(std::uint32_t index, std::size_t bytes);
    void on_connection_failed(std::int32_t code);

    // --- opening ---
    // Every sink input of the first listing has been decided and every tap has settled.
    [[nodiscard]] bool setup_settled() const;
    // The first failure while opening (a refused tap), 0 while none.
    [[nodiscard]] std::int32_t setup_failure() const { return setup_failure_; }
    // The opening is over: from now on failures go to the packet queue.
    void finish_setup() { setup_done_ = true; }

    // --- capturing (monotonic microseconds) ---
    // Starts the tick; returns the time of the first tick.
    std::uint64_t start(std::uint64_t now_us);
    // Produces the packets that are due (unless they wait for late data); returns when to
    // call again (next_wake_us).
    std::uint64_t on_timer(std::uint64_t now_us);
    // When the timer must call next: the end of the grace period of a waiting packet; the
    // next tick while no stream delivers; the next tick plus the grace period while streams
    // deliver (their data produces the packets).
    [[nodiscard]] std::uint64_t next_wake_us() const;
    void stop() { running_ = false; }

    // For tests and diagnostics.
    [[nodiscard]] std::size_t tap_count() const { return taps_.size(); }
    [[nodiscard]] bool has_tap(std::uint32_t index) const { return taps_.contains(index); }

  private:
    enum class TapState { Connecting, Ready, Querying, Ending };
    struct Tap {
        TapState state;
        StreamQueue queue;
        int failures = 0;              // failures since the tap last delivered data
        bool reattached = false;       // a discontinuity is due when it becomes ready
        bool late = false;             // ran dry in a packet that could wait no longer
        std::uint64_t late_ticks = 0;  // packets it has missed since
    };

    void attach_new(std::uint32_t index);
    void reattach(std::uint32_t index, Tap& tap);
    // The tap stops delivering; what it holds is played out. `tap` is gone afterwards.
    void end_tap(std::uint32_t index, Tap& tap);
    void resume_waiting();
    void report_failure(std::int32_t code);
    // A call at `now_us` later than the wake-up asked for shows that this thread stalled:
    // what the taps delivered meanwhile is still unread, so the grace starts again.
    void note_wake(std::uint64_t now_us);
    // When the oldest due packet may go out without the data it waits for.
    [[nodiscard]] std::uint64_t grace_end_us() const;
    // Makes the ticks up to `now_us` due and produces what can go out.
    void advance(std::uint64_t now_us);
    // Produces due packets; `late` forces those whose grace period has passed at `now_us`.
    void flush(std::uint64_t now_us, bool late);
    [[nodiscard]] bool waiting_for_data() const;
    // Produces packets ahead of the schedule while the ready streams hold a backlog.
    void catch_up(std::uint64_t now_us);
    // Every ready stream holds a whole packet to play (and there is one).
    [[nodiscard]] bool backlog_queued() const;
    // `forced`: the packet goes out although a playing stream's data is late.
    void produce_packet(bool forced = false);

    MonitorServer& server_;
    const ProcessLookup& processes_;
    LoopbackTarget target_;
    PacketQueue& packets_;
    CoreConfig config_;

    std::map<std::uint32_t, Tap> taps_;  // by sink input index: the mixing order
    std::vector<float> mix_;             // one packet
    bool listing_done_ = false;
    bool setup_done_ = false;
    std::int32_t setup_failure_ = 0;
    bool running_ = false;
    bool discontinuity_ = false;       // the next packet carries the flag
    std::uint64_t next_tick_us_ = 0;   // the next tick of the schedule
    std::size_t pending_ = 0;          // due packets not produced yet
    std::uint64_t oldest_due_us_ = 0;  // when the oldest of them was due
    std::uint64_t reads_from_us_ = 0;  // the first wake-up after the last stall
};

}  // namespace quorle::pulse
