#include "audio/capture/capture_worker_loop.h"

#include <string_view>
#include <utility>

#include "audio/capture/downmix.h"

namespace quorle::capture {

std::string diagnostics_line(std::uint32_t sample_rate, std::uint16_t channels,
                             std::uint64_t accepted_frames, std::uint64_t dropped_frames,
                             std::uint64_t discontinuities) {
    std::string line = "QUORLE_CAPTURE rate=";
    line += std::to_string(sample_rate);
    line += " channels=";
    line += std::to_string(channels);
    line += " accepted_frames=";
    line += std::to_string(accepted_frames);
    line += " dropped_frames=";
    line += std::to_string(dropped_frames);
    line += " discontinuities=";
    line += std::to_string(discontinuities);
    line += '\n';
    return line;
}

CaptureWorkerLoop::CaptureWorkerLoop(WorkerSide side, std::shared_ptr<std::atomic<bool>> stop_flag,
                                     WorkerIo io)
    : side_(std::move(side)),
      line_wait_(side_.shared->running),
      stop_flag_(std::move(stop_flag)),
      io_(io),
      assembler_(side_.channels, side_.sample_rate),
      last_line_(io_.clock->now()) {}

bool CaptureWorkerLoop::run_once() {
    const std::atomic<bool>& running = side_.shared->running;
    if (!running.load(std::memory_order_acquire)) return false;
    if (const CaptureChunk* chunk = side_.reader.peek()) {
        // Copy the chunk out and free its slot before any block is written, so a stalled
        // writer never holds a slot.
        assembler_.append(*chunk);
        side_.reader.release();
        assembler_.deliver_ready(running, [this](std::span<const float> block) { deliver(block); });
    } else {
        io_.clock->sleep_for(kEmptyRingPoll);
    }
    diagnostics_step();
    return true;
}

void CaptureWorkerLoop::run() {
    while (run_once()) {
    }
}

void CaptureWorkerLoop::deliver(std::span<const float> block) {
    if (!side_.shared->running.load(std::memory_order_acquire)) return;
    if (stop_flag_->load(std::memory_order_acquire)) return;
    const auto bytes = downmix_to_s16le(block.data(), block.size(), side_.channels);
    if (!bytes) {
        stop_flag_->store(true, std::memory_order_release);
        return;
    }
    const std::string_view view(reinterpret_cast<const char*>(bytes->data()), bytes->size());
    if (io_.out->write_stoppable(view, *this)) return;
    // A write ended by the stop (Linux: the wait gave up; Windows: the stop cancelled it) is
    // no failure of the reader.
    if (side_.shared->running.load(std::memory_order_acquire)) {
        stop_flag_->store(true, std::memory_order_release);
    }
}

bool CaptureWorkerLoop::keep_writing() {
    diagnostics_step();
    return side_.shared->running.load(std::memory_order_acquire);
}

void CaptureWorkerLoop::diagnostics_step() {
    const CaptureCounters& counters = side_.shared->counters;
    const std::uint64_t dropped = counters.dropped_frames.load(std::memory_order_relaxed);
    if (!io_.diagnostics && dropped == printed_dropped_) return;
    const MonotonicClock::time_point now = io_.clock->now();
    if (now - last_line_ < kDiagnosticsInterval) return;
    const std::string line = diagnostics_line(
        side_.sample_rate, side_.channels, counters.accepted_frames.load(std::memory_order_relaxed),
        counters.dropped_frames.load(std::memory_order_relaxed),
        counters.discontinuities.load(std::memory_order_relaxed));
    // Standard error going away must not end the capture: the line is simply lost. A reader
    // that stops taking standard error must not hold the worker past the stop either.
    (void)io_.err->write_stoppable(line, line_wait_);
    last_line_ = now;
    printed_dropped_ = dropped;
}

}  // namespace quorle::capture
