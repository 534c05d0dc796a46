#pragma once
// The body of the "quorle-capture" thread: takes chunks from the ring, joins them into 20 ms
// blocks, converts each block to mono 16-bit PCM and writes it to standard output; polls
// every 2 ms while the ring is empty; writes the diagnostics line at most once a second.
// A failed conversion or write sets the shared stop flag and writes no message; blocks are
// skipped from then on until the running flag clears. A write that waits for a reader that
// takes nothing ends when the running flag clears (the block may be cut short there), and
// the diagnostics rule keeps being applied while it waits.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "audio/capture/block_assembler.h"
#include "audio/capture/capture_chunk.h"
#include "audio/capture/capture_pipeline.h"
#include "common/clock.h"
#include "common/std_streams.h"

namespace quorle::capture {

// Sleep between two looks at an empty ring.
inline constexpr std::chrono::milliseconds kEmptyRingPoll{2};
// Least time between two diagnostics lines.
inline constexpr std::chrono::seconds kDiagnosticsInterval{1};

// "QUORLE_CAPTURE rate=R channels=C accepted_frames=A dropped_frames=D discontinuities=N\n"
[[nodiscard]] std::string diagnostics_line(std::uint32_t sample_rate, std::uint16_t channels,
                                           std::uint64_t accepted_frames,
                                           std::uint64_t dropped_frames,
                                           std::uint64_t discontinuities);

// Where the worker writes, which clock it uses, and whether diagnostics are on.
struct WorkerIo {
    OutputStream* out;      // the PCM blocks
    OutputStream* err;      // the diagnostics line
    MonotonicClock* clock;  // poll sleep and the once-a-second rule
    bool diagnostics;       // a line every second even without drops
};

class CaptureWorkerLoop final : private WriteWait {
  public:
    CaptureWorkerLoop(WorkerSide side, std::shared_ptr<std::atomic<bool>> stop_flag, WorkerIo io);

    // One pass: ends (false) when the running flag is clear; otherwise takes one chunk (or
    // sleeps the poll period on an empty ring), then applies the diagnostics rule.
    bool run_once();
    // Passes until the running flag clears.
    void run();

  private:
    // While a block is written: the diagnostics rule, then whether the run still goes on.
    bool keep_writing() override;
    void deliver(std::span<const float> block);
    void diagnostics_step();

    // The diagnostics line's own write: it gives up at the stop like a block's, and applies
    // no diagnostics rule meanwhile (that rule is what writes the line).
    class LineWait final : public WriteWait {
      public:
        explicit LineWait(const std::atomic<bool>& running) : running_(running) {}
        bool keep_writing() override { return running_.load(std::memory_order_acquire); }

      private:
        const std::atomic<bool>& running_;
    };

    WorkerSide side_;
    LineWait line_wait_;
    std::shared_ptr<std::atomic<bool>> stop_flag_;  // set here on a failed write; read by all
    WorkerIo io_;
    BlockAssembler assembler_;
    MonotonicClock::time_point last_line_;  // time of the last diagnostics line (or the start)
    std::uint64_t printed_dropped_ = 0;     // dropped_frames as of the last line
};

}  // namespace quorle::capture
