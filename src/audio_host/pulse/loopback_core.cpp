#include "audio_host/pulse/loopback_core.h"

#include <algorithm>

namespace quorle::pulse {

namespace {
// Failures of one tap, without data in between, after which it is given up.
constexpr int kMaxTapFailures = 3;
// How much later than asked for a wake-up may come before it counts as a stall: the loop's
// own timer and scheduling jitter.
constexpr std::uint64_t kWakeSlackUs = 2000;
}  // namespace

LoopbackCore::LoopbackCore(MonitorServer& server, const ProcessLookup& processes,
                           LoopbackTarget target, PacketQueue& packets, CoreConfig config)
    : server_(server),
      processes_(processes),
      target_(target),
      packets_(packets),
      config_(config),
      mix_(kFramesPerPacket * kChannels, 0.0f) {}

void LoopbackCore::on_sink_input(const SinkInputInfo& info) {
    const bool wanted = captures_stream(processes_, target_, info.process_id);
    const auto it = taps_.find(info.index);
    if (it == taps_.end()) {
        if (wanted) attach_new(info.index);
        return;
    }
    // A known sink input is only reconsidered while its tap is being looked up again.
    Tap& tap = it->second;
    if (tap.state != TapState::Querying) return;
    if (wanted) {
        reattach(info.index, tap);
    } else {
        end_tap(info.index, tap);
    }
}

void LoopbackCore::on_listing_done() {
    listing_done_ = true;
}

void LoopbackCore::on_sink_input_missing(std::uint32_t index) {
    const auto it = taps_.find(index);
    if (it != taps_.end() && it->second.state == TapState::Querying) end_tap(index, it->second);
}

void LoopbackCore::on_sink_input_removed(std::uint32_t index) {
    const auto it = taps_.find(index);
    if (it == taps_.end() || it->second.state == TapState::Ending) return;
    if (it->second.state != TapState::Querying) server_.detach(index);
    end_tap(index, it->second);
}

void LoopbackCore::on_tap_ready(std::uint32_t index) {
    const auto it = taps_.find(index);
    if (it == taps_.end() || it->second.state != TapState::Connecting) return;
    Tap& tap = it->second;
    tap.state = TapState::Ready;
    if (tap.reattached) {
        tap.reattached = false;
        // The stream restarted: whatever came before does not continue seamlessly.
        if (running_) discontinuity_ = true;
    }
}

void LoopbackCore::on_tap_failed(std::uint32_t index, TapFailure failure, std::int32_t code) {
    const auto it = taps_.find(index);
    if (it == taps_.end()) return;
    Tap& tap = it->second;
    if (tap.state != TapState::Connecting && tap.state != TapState::Ready) return;
    server_.detach(index);
    if (failure == TapFailure::SinkInputMissing) {
        end_tap(index, tap);
        return;
    }
    if (failure == TapFailure::Refused && tap.state == TapState::Connecting) {
        end_tap(index, tap);
        report_failure(code);
        return;
    }
    // Ended or moved: look the sink input up again. A stream that cannot be followed any
    // more is a gap in the capture, never a silent loss.
    if (++tap.failures >= kMaxTapFailures) {
        if (running_) discontinuity_ = true;
        end_tap(index, tap);
        return;
    }
    tap.state = TapState::Querying;
    if (server_.query(index) != 0) {
        if (running_) discontinuity_ = true;
        end_tap(index, tap);
        return;
    }
    resume_waiting();
}

void LoopbackCore::on_tap_data(std::uint32_t index, const void* data, std::size_t bytes,
                               std::uint64_t now_us) {
    const auto it = taps_.find(index);
    if (it == taps_.end() || it->second.state == TapState::Ending) return;
    Tap& tap = it->second;
    tap.failures = 0;
    if (running_) note_wake(now_us);
    if (tap.queue.push_bytes(data, bytes) > 0 && running_) discontinuity_ = true;
    if (!running_) return;
    advance(now_us);
    catch_up(now_us);
}

void LoopbackCore::resume_waiting() {
    // Packets that waited for a tap go out as soon as it delivered or stopped playing.
    if (running_ && pending_ > 0) flush(0, false);
}

void LoopbackCore::on_tap_hole(std::uint32_t index, std::size_t bytes) {
    const auto it = taps_.find(index);
    if (it == taps_.end() || it->second.state == TapState::Ending) return;
    // The missing span keeps its place in time as silence.
    it->second.queue.push_silence(bytes / kBytesPerFrame);
    if (running_) discontinuity_ = true;
    resume_waiting();
}

void LoopbackCore::on_connection_failed(std::int32_t code) {
    report_failure(code);
}

bool LoopbackCore::setup_settled() const {
    if (!listing_done_) return false;
    return std::none_of(taps_.begin(), taps_.end(), [](const auto& entry) {
        return entry.second.state == TapState::Connecting ||
               entry.second.state == TapState::Querying;
    });
}

std::uint64_t LoopbackCore::start(std::uint64_t now_us) {
    // The capture begins now: what was collected before is not part of it.
    for (auto it = taps_.begin(); it != taps_.end();) {
        if (it->second.state == TapState::Ending) {
            it = taps_.erase(it);
        } else {
            it->second.queue.clear();
            it->second.late = false;
            ++it;
        }
    }
    packets_.clear();
    discontinuity_ = false;
    running_ = true;
    pending_ = 0;
    reads_from_us_ = now_us;
    next_tick_us_ = now_us + kTickMicros;
    return next_tick_us_;
}

std::uint64_t LoopbackCore::on_timer(std::uint64_t now_us) {
    if (running_) {
        note_wake(now_us);
        advance(now_us);
    }
    return next_wake_us();
}

void LoopbackCore::note_wake(std::uint64_t now_us) {
    if (now_us > next_wake_us() + kWakeSlackUs) reads_from_us_ = now_us;
}

std::uint64_t LoopbackCore::grace_end_us() const {
    return std::max(oldest_due_us_, reads_from_us_) + config_.grace_us;
}

std::uint64_t LoopbackCore::next_wake_us() const {
    if (pending_ > 0) return grace_end_us();
    const bool delivering = std::any_of(taps_.begin(), taps_.end(), [](const auto& entry) {
        return entry.second.state == TapState::Ready && entry.second.queue.playing();
    });
    return delivering ? next_tick_us_ + config_.grace_us : next_tick_us_;
}

void LoopbackCore::advance(std::uint64_t now_us) {
    while (next_tick_us_ <= now_us) {
        if (pending_ == 0) oldest_due_us_ = next_tick_us_;
        ++pending_;
        next_tick_us_ += kTickMicros;
    }
    if (pending_ > config_.max_pending) {
        // Too far behind to catch up: the oldest due packets are skipped, and that shows.
        oldest_due_us_ += (pending_ - config_.max_pending) * kTickMicros;
        pending_ = config_.max_pending;
        discontinuity_ = true;
    }
    flush(now_us, true);
}

void LoopbackCore::flush(std::uint64_t now_us, bool late) {
    while (pending_ > 0) {
        const bool waiting = waiting_for_data();
        const bool overdue = late && now_us >= grace_end_us();
        if (!overdue && waiting) return;
        produce_packet(waiting);
        --pending_;
        oldest_due_us_ += kTickMicros;
    }
}

bool LoopbackCore::waiting_for_data() const {
    return std::any_of(taps_.begin(), taps_.end(), [](const auto& entry) {
        return entry.second.state == TapState::Ready &&
               entry.second.queue.waiting_for(kFramesPerPacket);
    });
}

void LoopbackCore::catch_up(std::uint64_t now_us) {
    // The packet of the tick at next_tick_us_ goes out early, by at most ahead_us. Packets
    // still due (waiting for a late stream) keep their order: nothing overtakes them.
    while (pending_ == 0 && next_tick_us_ <= now_us + config_.ahead_us && backlog_queued()) {
        produce_packet();
        next_tick_us_ += kTickMicros;
    }
}

bool LoopbackCore::backlog_queued() const {
    // A ready stream short of a packet would run dry in an early packet (a gap cut into it,
    // or a start before it collected): it holds the others until its data is there.
    bool any = false;
    for (const auto& [index, tap] : taps_) {
        if (tap.state != TapState::Ready) continue;
        if (!tap.queue.holds(kFramesPerPacket)) return false;
        any = true;
    }
    return any;
}

void LoopbackCore::attach_new(std::uint32_t index) {
    const std::int32_t code = server_.attach(index);
    if (code != 0) {
        report_failure(code);
        return;
    }
    taps_.emplace(
        index, Tap{TapState::Connecting, StreamQueue(config_.queue_frames, config_.start_frames)});
}

void LoopbackCore::reattach(std::uint32_t index, Tap& tap) {
    const std::int32_t code = server_.attach(index);
    if (code != 0) {
        end_tap(index, tap);
        report_failure(code);
        return;
    }
    tap.state = TapState::Connecting;
    tap.reattached = true;
    tap.late = false;  // the restart is flagged itself
}

void LoopbackCore::end_tap(std::uint32_t index, Tap& tap) {
    if (!running_ || tap.queue.queued_frames() == 0) {
        taps_.erase(index);
    } else {
        tap.state = TapState::Ending;
        tap.queue.finish();
    }
    resume_waiting();
}

void LoopbackCore::report_failure(std::int32_t code) {
    if (!setup_done_) {
        if (setup_failure_ == 0) setup_failure_ = code;
        return;
    }
    packets_.fail(code);
}

void LoopbackCore::produce_packet(bool forced) {
    std::fill(mix_.begin(), mix_.end(), 0.0f);
    bool contributed = false;
    const std::uint64_t late_window_ticks = config_.late_window_us / kTickMicros;
    for (auto it = taps_.begin(); it != taps_.end();) {
        Tap& tap = it->second;
        StreamQueue& queue = tap.queue;
        // A ready stream that plays but is short of this packet runs dry in it: its data is
        // late, and the rest of the packet is silence in its place.
        const bool runs_dry =
            forced && tap.state == TapState::Ready && queue.waiting_for(kFramesPerPacket);
        const std::size_t taken = queue.mix_into(mix_.data(), kFramesPerPacket);
        if (taken > 0) contributed = true;
        if (tap.late && !runs_dry) {
            if (taken > 0) {
                // Its late data plays now, shifted by the silence put in before it.
                tap.late = false;
                discontinuity_ = true;
            } else if (++tap.late_ticks > late_window_ticks) {
                tap.late = false;  // it stopped: the silence is its own
            }
        }
        if (runs_dry) {
            tap.late = true;
            tap.late_ticks = 0;
        }
        if (tap.state == TapState::Ending && queue.queued_frames() == 0) {
            it = taps_.erase(it);
        } else {
            ++it;
        }
    }
    std::uint32_t flags = contributed ? 0u : kFlagSilent;
    if (discontinuity_) flags |= kFlagDataDiscontinuity;
    discontinuity_ = false;
    packets_.push(mix_.data(), flags);
}

}  // namespace quorle::pulse
