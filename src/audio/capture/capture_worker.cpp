#include "audio/capture/capture_worker.h"

#include <atomic>
#include <utility>

#include "audio/capture/capture_pipeline.h"
#include "audio/capture/capture_worker_loop.h"
#include "common/process_env.h"

namespace quorle::capture {
namespace {

std::atomic<bool> abandoned{false};

// The real hold on a worker: its thread's own synchronous I/O (when the thread could be
// given to the ThreadIoCancel) and every write on the standard streams' handles, which also
// reaches a write that the thread cancel cannot (no thread handle, an overlapped handle).
class ThreadEndWait final : public WorkerEndWait {
  public:
    explicit ThreadEndWait(ThreadIoCancel& io_cancel) : io_cancel_(io_cancel) {}
    bool wait_finished(std::chrono::milliseconds limit) override {
        return io_cancel_.wait_finished(limit);
    }
    void cancel_writes() override {
        io_cancel_.cancel_io();
        cancel_standard_stream_writes();
    }

  private:
    ThreadIoCancel& io_cancel_;
};

}  // namespace

WorkerStop await_worker_end(WorkerEndWait& worker, const MonotonicClock& clock) {
    const MonotonicClock::time_point start = clock.now();
    if (worker.wait_finished(kWorkerEndGrace)) return WorkerStop::Ended;
    for (;;) {
        // A cancel that comes before the write has started finds nothing: repeat it.
        worker.cancel_writes();
        if (worker.wait_finished(kWorkerCancelRepeat)) return WorkerStop::Ended;
        if (clock.now() - start >= kWorkerStopBound) return WorkerStop::GaveUp;
    }
}

bool worker_abandoned() {
    return abandoned.load(std::memory_order_acquire);
}

CaptureWorker::CaptureWorker(std::shared_ptr<CaptureShared> shared, std::thread thread,
                             std::shared_ptr<ThreadIoCancel> io_cancel)
    : shared_(std::move(shared)), thread_(std::move(thread)), io_cancel_(std::move(io_cancel)) {}

CaptureWorker& CaptureWorker::operator=(CaptureWorker&& other) noexcept {
    if (this != &other) {
        clear_running();
        join();
        thread_ = std::move(other.thread_);
        shared_ = std::move(other.shared_);
        io_cancel_ = std::move(other.io_cancel_);
    }
    return *this;
}

CaptureWorker::~CaptureWorker() {
    clear_running();
    join();
}

void CaptureWorker::clear_running() {
    if (shared_ != nullptr) shared_->running.store(false, std::memory_order_release);
}

WorkerStop CaptureWorker::join() {
    if (!thread_.joinable()) return WorkerStop::Ended;
    if (io_cancel_ != nullptr) {
        ThreadEndWait wait(*io_cancel_);
        // The bound is real time: a worker's clock may be a test's, which a stuck worker
        // would never move.
        if (await_worker_end(wait, system_clock()) == WorkerStop::GaveUp) {
            // The thread keeps its loop, ring end and cancel alive through shared ownership;
            // what it may still touch beyond them (the standard streams) the process keeps
            // until it ends without static destructors.
            abandoned.store(true, std::memory_order_release);
            thread_.detach();
            return WorkerStop::GaveUp;
        }
    }
    thread_.join();
    return WorkerStop::Ended;
}

Result<CapturePipeline> start_capture_worker(std::uint16_t channels, std::uint32_t sample_rate,
                                             std::shared_ptr<std::atomic<bool>> stop_flag,
                                             const WorkerOptions& options) {
    QUORLE_ASSIGN_OR_RETURN(PipelineParts parts,
                            create_capture_pipeline(channels, sample_rate, options.ring_capacity));
    if (stop_flag == nullptr) stop_flag = std::make_shared<std::atomic<bool>>(false);
    const WorkerIo io{
        options.out != nullptr ? options.out : &standard_output(),
        options.err != nullptr ? options.err : &standard_error(),
        options.clock != nullptr ? options.clock : &system_clock(),
        options.diagnostics.value_or(environment_variable_present("QUORLE_AUDIO_DIAGNOSTICS")),
    };
    ThreadLauncher& launcher =
        options.launcher != nullptr ? *options.launcher : system_thread_launcher();

    std::shared_ptr<CaptureShared> shared = parts.worker_side.shared;
    // The thread owns the loop (and with it the ring's reading end) and drops it when it ends.
    auto loop =
        std::make_shared<CaptureWorkerLoop>(std::move(parts.worker_side), std::move(stop_flag), io);
    auto io_cancel = std::make_shared<ThreadIoCancel>();
    auto thread = launcher.launch(
        "quorle-capture", [loop = std::move(loop), io_cancel, attach = options.cancel_thread_io] {
            if (attach) io_cancel->attach_current_thread();
            loop->run();
            io_cancel->finish();
        });
    if (!thread) return fail(thread_start_message("capture worker: ", thread.error()));
    return CapturePipeline{
        std::move(parts.sink),
        CaptureWorker(std::move(shared), std::move(*thread), std::move(io_cancel))};
}

WorkerStop stop_capture_worker(CaptureWorker& worker) {
    worker.clear_running();
    return worker.join();
}

}  // namespace quorle::capture
