#include "audio/backend/control_thread.h"

#include "audio/backend/audio_context.h"
#include "common/process_env.h"

namespace quorle::audio {
namespace {

// Waits for jobs until the stop marker or the queue's closing; after each job or time-out
// runs the diagnostics round when one is due.
void run_loop(ControlThreadState& state, QueueReceiver<ControlMessage>& commands,
              MonotonicClock& clock, std::chrono::nanoseconds queue_wait) {
    MonotonicClock::time_point last_tick = clock.now();
    for (;;) {
        Received<ControlMessage> received = commands.receive_for(queue_wait);
        if (received.status == ReceiveStatus::Closed)
            return;
        if (received.status == ReceiveStatus::Message) {
            if (std::holds_alternative<StopMarker>(*received.message))
                return;
            ControlJob job = std::get<ControlJob>(std::move(*received.message));
            received.message.reset();
            try {
                job(state);
            } catch (...) {
                // Closed while the job (and its reply channel) is still held: see below.
                commands.close();
                throw;
            }
            // `job` (and the reply channel it owns) is released at the end of this block.
        }
        if (state.diagnostics && clock.now() - last_tick >= kDiagnosticsInterval) {
            for (auto& entry : state.objects)
                entry.second->diagnostics();
            last_tick = clock.now();
        }
    }
}

// The loop, ended for good by an exception from a job or a diagnostics round. The queue is
// closed before anything else is released (for a job, before the job and its reply channel),
// so that a requester woken by such a release, and every one after it, is refused at once as
// closed instead of queueing work that nobody will run.
void run_loop_or_close(ControlThreadState& state, QueueReceiver<ControlMessage>& commands,
                       MonotonicClock& clock, std::chrono::nanoseconds queue_wait) {
    try {
        run_loop(state, commands, clock, queue_wait);
    } catch (...) {
        commands.close();
        throw;
    }
}

void run(const AudioControlEnvironment& environment, QueueReceiver<ControlMessage>& commands,
         ReplySender<StartReply>& start_reply, bool diagnostics) {
    const std::int32_t com_result = environment.com.initialize_multithreaded();
    if (com_result < 0) {
        (void)start_reply.send(fail(com_failure_message(com_result)));
        return;
    }
    const ComMembership com(environment.com);

    Result<OpenedContext> opened = open_context(environment.cubeb, environment.backend_log);
    if (!opened) {
        (void)start_reply.send(fail(std::move(opened).error()));
        return;  // leaves COM
    }
    ControlThreadState state(std::move(opened->context), diagnostics);

    if (!start_reply.send(std::move(opened->backend_id)))
        return;
    run_loop_or_close(state, commands, environment.clock, environment.queue_wait);
    // Leaving releases, in this order: the registered objects, the table, the context, COM.
}

}  // namespace

ControlThreadState::~ControlThreadState() {
    while (!objects.empty())
        objects.erase(objects.begin());
}

bool audio_diagnostics_requested() {
    return environment_variable_present(kDiagnosticsVariable);
}

void run_control_thread(const AudioControlEnvironment& environment,
                        QueueReceiver<ControlMessage> commands_end,
                        ReplySender<StartReply> start_reply_end, bool diagnostics) noexcept {
    // Owned here so that they are released last: the start reply sender, then the queue's
    // receiving end (which also drops any job still queued).
    QueueReceiver<ControlMessage> commands = std::move(commands_end);
    ReplySender<StartReply> start_reply = std::move(start_reply_end);
    try {
        run(environment, commands, start_reply, diagnostics);
    } catch (...) {
        // The thread ends. Its state was released while unwinding; the closing channels tell
        // the requesters.
    }
}

}  // namespace quorle::audio
