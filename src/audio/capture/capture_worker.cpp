#include "audio/capture/capture_worker.h"

#include <utility>

#include "audio/capture/capture_pipeline.h"
#include "audio/capture/capture_worker_loop.h"
#include "common/process_env.h"

namespace quorle::capture {

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

void CaptureWorker::join() {
    if (!thread_.joinable()) return;
    if (io_cancel_ != nullptr && !io_cancel_->wait_finished(kWorkerEndGrace)) {
        do {
            io_cancel_->cancel_io();
        } while (!io_cancel_->wait_finished(kWorkerCancelRepeat));
    }
    thread_.join();
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
    auto thread = launcher.launch("quorle-capture", [loop = std::move(loop), io_cancel] {
        io_cancel->attach_current_thread();
        loop->run();
        io_cancel->finish();
    });
    if (!thread) return fail(thread_start_message("capture worker: ", thread.error()));
    return CapturePipeline{
        std::move(parts.sink),
        CaptureWorker(std::move(shared), std::move(*thread), std::move(io_cancel))};
}

void stop_capture_worker(CaptureWorker& worker) {
    worker.clear_running();
    worker.join();
}

}  // namespace quorle::capture
