#include "audio_host/capture_run/capture_run.h"

#include <array>
#include <memory>
#include <optional>
#include <variant>

#include "audio_host/capture_run/activation.h"
#include "audio_host/capture_run/packet_loop.h"
#include "audio_host/cli/output_protocol.h"
#include "audio_host/process/ancestry.h"
#include "audio_host/process/process_identity.h"
#include "audio_host/process/process_map.h"
#include "common/platform_error.h"

namespace quorle::host {
namespace {

std::uint32_t code_of(HResult result) {
    return static_cast<std::uint32_t>(result);
}

// The activation's target and mode for a request.
struct LoopbackTarget {
    std::uint32_t pid = 0;
    LoopbackMode mode = LoopbackMode::ExcludeTargetProcessTree;
};

LoopbackTarget loopback_target(const CaptureRequest& request) {
    if (const auto* process = std::get_if<ProcessTarget>(&request.target)) {
        return {process->pid, LoopbackMode::IncludeTargetProcessTree};
    }
    return {request.excluded_pid, LoopbackMode::ExcludeTargetProcessTree};
}

// The capture pipeline's sink as the packet loop sees it.
class PipelineSink final : public PacketSink {
  public:
    explicit PipelineSink(capture::CaptureSink& sink) : sink_(sink) {}
    void push_samples(const float* samples, std::size_t count) override {
        (void)sink_.push_samples(samples, count);
    }
    void mark_discontinuity() override { sink_.mark_discontinuity(); }

  private:
    capture::CaptureSink& sink_;
};

// A process identity polled through its handle.
class IdentityWatch final : public ProcessWatch {
  public:
    IdentityWatch(ProcessPlatform& platform, const ProcessIdentity& identity)
        : platform_(platform), identity_(identity) {}
    bool running() override { return is_running(platform_, identity_); }

  private:
    ProcessPlatform& platform_;
    const ProcessIdentity& identity_;
};

// Everything a run acquires, declared so that leaving the run releases it in the order the
// shutdown needs: the client first, then the event and the capture service, the apartment,
// the target's and the translator's identities and the process map. The worker is not part
// of it: StreamingShutdown ends it, after the client, on every path once it runs.
struct RunState {
    std::optional<ProcessMap> map;
    std::optional<ProcessIdentity> translator;
    std::optional<ProcessIdentity> target;
    std::unique_ptr<PlatformReference> apartment;
    std::optional<ProcessCapture> capture;  // capture service, buffer size, event
    std::unique_ptr<AudioClient> client;
    std::array<float, kZeroAreaSamples> zeros{};  // all 0.0: the source of silent samples
};

// The ordered end of a run whose worker is running: stop the client if it was started
// (failure ignored) and release it, drop the sink, clear the running flag, stop and join the
// worker, then let a waiting console handler go.
class StreamingShutdown {
  public:
    StreamingShutdown(RunState& state, capture::CapturePipeline& pipeline, ConsoleStop& console)
        : state_(state), pipeline_(pipeline), console_(console) {}
    StreamingShutdown(const StreamingShutdown&) = delete;
    StreamingShutdown& operator=(const StreamingShutdown&) = delete;
    ~StreamingShutdown() {
        if (client_started_) (void)state_.client->stop();
        state_.client.reset();
        pipeline_.sink.reset();
        pipeline_.worker.clear_running();
        capture::stop_capture_worker(pipeline_.worker);
        console_.finish_shutdown();
    }

    void client_started() { client_started_ = true; }

  private:
    RunState& state_;
    capture::CapturePipeline& pipeline_;
    ConsoleStop& console_;
    bool client_started_ = false;
};

// Steps 1 to 4: the processes involved.
Status check_processes(const CaptureRequest& request, const CaptureRunContext& context,
                       RunState& state) {
    QUORLE_ASSIGN_OR_RETURN(state.map, snapshot_process_map(context.processes));
    QUORLE_RETURN_IF_ERROR(
        check_ancestry(*state.map, request, context.processes.current_process_id()));
    QUORLE_ASSIGN_OR_RETURN(state.translator,
                            read_process_identity(context.processes, request.excluded_pid));
    if (const auto* process = std::get_if<ProcessTarget>(&request.target)) {
        QUORLE_ASSIGN_OR_RETURN(state.target,
                                read_process_identity(context.processes, process->pid));
        if (!identity_matches(*state.target, request)) {
            return fail("selected process identity changed; refresh the process list");
        }
    }
    return {};
}

// Steps 5 to 11: COM, the activated client and its set-up.
Status prepare_client(const CaptureRequest& request, const CaptureRunContext& context,
                      RunState& state) {
    const HResult joined = context.capture.join_multithreaded_apartment(state.apartment);
    if (joined < 0) return fail(context_error("COM MTA", code_of(joined)));

    const LoopbackTarget target = loopback_target(request);
    QUORLE_ASSIGN_OR_RETURN(state.client, activate_process_loopback(context.capture, target.pid,
                                                                    target.mode, context.time));
    QUORLE_ASSIGN_OR_RETURN(state.capture,
                            initialize_process_capture(context.capture, *state.client));
    return {};
}

// Steps 13 to 17, with the worker running.
Status stream(const CaptureRunContext& context, RunState& state, capture::CapturePipeline& pipeline,
              const std::atomic<bool>& shared_stop, StreamingShutdown& shutdown) {
    const Win32Call installed = context.capture.install_console_handler(context.console);
    if (!installed.ok) {
        return fail(
            context_error("console stop handler", hresult_from_win32(installed.last_error)));
    }

    IdentityWatch translator(context.processes, *state.translator);
    std::optional<IdentityWatch> target;
    if (state.target) target.emplace(context.processes, *state.target);
    // Both polls are made, as the check asks about each process.
    const bool translator_running = translator.running();
    const bool target_running = !target || target->running();
    if (!translator_running || !target_running) {
        return fail("selected or parent process exited before capture");
    }

    QUORLE_RETURN_IF_ERROR(write_header_line(context.err));

    const HResult started = state.client->start();
    if (started < 0) return fail(context_error("start process capture", code_of(started)));
    shutdown.client_started();

    PipelineSink sink(pipeline.sink);
    const PacketLoopContext loop{
        .console_stop = context.console.flag(),
        .shared_stop = shared_stop,
        .translator = translator,
        .target = target ? &*target : nullptr,
        .event = *state.capture->event,
        .service = *state.capture->service,
        .buffer_frames = state.capture->buffer_frames,
        .sink = sink,
        .zeros = state.zeros,
    };
    return run_packet_loop(loop);
}

}  // namespace

Status run_capture(const CaptureRequest& request, const CaptureRunContext& context) {
    RunState state;
    QUORLE_RETURN_IF_ERROR(check_processes(request, context, state));
    QUORLE_RETURN_IF_ERROR(prepare_client(request, context, state));

    // Step 12: the worker, with a clear shared stop flag of its own.
    auto shared_stop = std::make_shared<std::atomic<bool>>(false);
    QUORLE_ASSIGN_OR_RETURN(capture::CapturePipeline pipeline,
                            capture::start_capture_worker(kCaptureChannels, kCaptureSampleRate,
                                                          shared_stop, context.worker));
    Status result;
    {
        StreamingShutdown shutdown(state, pipeline, context.console);
        result = stream(context, state, pipeline, *shared_stop, shutdown);
    }
    // Leaving the run releases the event, the capture service, the apartment, the target's and
    // the translator's handles and the process map, in this order.
    return result;
}

}  // namespace quorle::host
