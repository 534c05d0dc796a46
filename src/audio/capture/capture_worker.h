#pragma once
// Starting and stopping the capture worker thread "quorle-capture", and the pipeline the
// capture run holds while it captures.
//
// Shutdown, in order: drop the sink (sink.reset() or let it go), clear the running flag
// (worker.clear_running()), then stop_capture_worker(worker). stop_capture_worker clears the
// flag itself too, and a CaptureWorker destroyed while its thread runs stops and joins it.
// The worker ends soon after the flag clears whatever its reader does: a write waiting for
// room gives up (Linux), or is cancelled from the stopping thread (Windows: the worker
// thread's synchronous I/O, and every write on the standard output and standard error
// handles).
//
// A stop is bounded: when the worker has still not ended kWorkerStopBound after the stop
// began (a write on a handle that neither cancel reaches, whose reader neither reads nor
// closes), the stop gives up on it. The thread is detached, never destroyed joinable, and
// worker_abandoned() turns true for the rest of the process. The worker may then still be
// inside a write of a standard stream, so the program must end without running static
// destructors (end_process_now), with the status its run produced.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <thread>

#include "audio/capture/capture_chunk.h"
#include "audio/capture/capture_counters.h"
#include "audio/capture/capture_sink.h"
#include "common/clock.h"
#include "common/named_thread.h"
#include "common/result.h"
#include "common/std_streams.h"

namespace quorle::capture {

// How long a stop lets the worker end by itself before it cancels the worker's blocked
// write, and how often it repeats the cancel until the worker has ended (a cancel that comes
// before the write has started finds nothing to cancel).
inline constexpr std::chrono::milliseconds kWorkerEndGrace{50};
inline constexpr std::chrono::milliseconds kWorkerCancelRepeat{20};
// How long a stop waits in all, from its start, before it gives up on the worker.
inline constexpr std::chrono::milliseconds kWorkerStopBound{2000};

// A stop's hold on the worker thread: whether it has ended, and the cancel of its writes.
class WorkerEndWait {
  public:
    virtual ~WorkerEndWait() = default;
    // Whether the worker has ended, waiting for that at most `limit`.
    [[nodiscard]] virtual bool wait_finished(std::chrono::milliseconds limit) = 0;
    // Cancels the write the worker is blocked in now, if any.
    virtual void cancel_writes() = 0;
};

enum class WorkerStop {
    Ended,   // the worker thread has ended (its join cannot block)
    GaveUp,  // still running kWorkerStopBound after the stop began
};

// Waits kWorkerEndGrace for the worker to end by itself, then cancels its writes every
// kWorkerCancelRepeat until it has ended or `clock` shows kWorkerStopBound since the start.
[[nodiscard]] WorkerStop await_worker_end(WorkerEndWait& worker, const MonotonicClock& clock);

// True once a stop in this process has given up on its worker (never cleared).
[[nodiscard]] bool worker_abandoned();

// The worker thread's join handle and the running flag that stops it. Move-only.
class CaptureWorker {
  public:
    CaptureWorker() = default;
    CaptureWorker(std::shared_ptr<CaptureShared> shared, std::thread thread,
                  std::shared_ptr<ThreadIoCancel> io_cancel = nullptr);
    CaptureWorker(CaptureWorker&&) noexcept = default;
    // Stops and joins this worker's own thread before taking the other's.
    CaptureWorker& operator=(CaptureWorker&& other) noexcept;
    CaptureWorker(const CaptureWorker&) = delete;
    CaptureWorker& operator=(const CaptureWorker&) = delete;
    // Stops and joins a thread that still runs.
    ~CaptureWorker();

    // Clears the running flag (release): the capture side takes nothing more and the worker
    // ends within one poll period or one block.
    void clear_running();
    // Waits for the thread to end (after clear_running) as await_worker_end says, on the
    // real clock whatever clock the worker was given, then joins it; or, when the stop gives up,
    // detaches it and marks the process (worker_abandoned). Either way no thread is left joinable.
    // Without a thread: Ended at once.
    WorkerStop join();
    [[nodiscard]] bool joinable() const { return thread_.joinable(); }

  private:
    std::shared_ptr<CaptureShared> shared_;      // running flag and counters
    std::thread thread_;                         // "quorle-capture"
    std::shared_ptr<ThreadIoCancel> io_cancel_;  // ends the thread's blocked writes
};

struct CapturePipeline {
    CaptureSink sink;      // the capture side (main thread)
    CaptureWorker worker;  // the worker thread
};

struct WorkerOptions {
    OutputStream* out = nullptr;         // nullptr: standard_output()
    OutputStream* err = nullptr;         // nullptr: standard_error()
    MonotonicClock* clock = nullptr;     // nullptr: system_clock()
    ThreadLauncher* launcher = nullptr;  // nullptr: system_thread_launcher()
    std::optional<bool> diagnostics;     // nullopt: presence of QUORLE_AUDIO_DIAGNOSTICS
    std::uint64_t ring_capacity = kRingCapacity;
    // false: the worker gives its thread to no ThreadIoCancel, as when the thread's handle
    // cannot be opened; a stop then has only the standard streams' cancel.
    bool cancel_thread_io = true;
};

// Creates the pipeline (failing with "invalid capture format or capacity") and starts the
// worker thread (failing with "capture worker: <description> (os error N)"). On failure
// nothing is left behind. The worker sets *stop_flag (release) when standard output fails.
[[nodiscard]] Result<CapturePipeline> start_capture_worker(
    std::uint16_t channels, std::uint32_t sample_rate, std::shared_ptr<std::atomic<bool>> stop_flag,
    const WorkerOptions& options = {});

// Clears the running flag (release) and waits for the worker thread to end, at most as long
// as CaptureWorker::join allows.
WorkerStop stop_capture_worker(CaptureWorker& worker);

}  // namespace quorle::capture
