#include "audio/backend/audio_controller.h"

#include <system_error>

#include "audio/backend/endpoint_list.h"

namespace quorle::audio {
namespace {

// What a new thread takes over. Shared with the thread's body because ThreadLauncher takes a
// copyable function; only the thread moves the channel ends out.
struct ThreadStart {
    QueueReceiver<ControlMessage> commands;
    ReplySender<StartReply> start_reply;
};

// Lets a thread run on by itself when its handle is dropped before anyone joins it (a
// std::thread destroyed while joinable ends the process).
struct DetachUnlessTaken {
    std::thread thread;
    ~DetachUnlessTaken() {
        if (thread.joinable())
            thread.detach();
    }
};

}  // namespace

AudioController::AudioController(QueueSender<ControlMessage> commands, std::string backend_id,
                                 std::thread thread) noexcept
    : commands_(std::move(commands)),
      backend_id_(std::move(backend_id)),
      thread_(std::move(thread)) {}

AudioController::~AudioController() {
    (void)commands_.send(StopMarker{});
    if (!thread_.joinable())
        return;
    if (thread_.get_id() == std::this_thread::get_id()) {
        // The last reference went on the control thread itself, which cannot wait for its
        // own end; it leaves its loop once the queue closes.
        thread_.detach();
        return;
    }
    try {
        thread_.join();
    } catch (const std::system_error&) {
        thread_.detach();
    }
}

Status AudioController::submit(ControlJob job) const {
    if (!commands_.send(ControlMessage(std::in_place_type<ControlJob>, std::move(job)))) {
        return fail("audio controller closed");
    }
    return {};
}

Result<std::shared_ptr<AudioController>> start_controller(
    const AudioControlEnvironment& environment) {
    CommandQueue<ControlMessage> queue = make_command_queue<ControlMessage>();
    ReplyChannel<StartReply> start = make_reply_channel<StartReply>();
    const bool diagnostics =
        environment.diagnostics_requested && environment.diagnostics_requested();

    auto handover = std::make_shared<ThreadStart>(
        ThreadStart{std::move(queue.receiver), std::move(start.sender)});
    std::expected<std::thread, ThreadStartError> launched =
        environment.threads.launch(kControlThreadName, [&environment, handover, diagnostics] {
            run_control_thread(environment, std::move(handover->commands),
                               std::move(handover->start_reply), diagnostics);
        });
    handover.reset();
    if (!launched)
        return fail(thread_start_message("audio control thread: ", launched.error()));
    DetachUnlessTaken thread{std::move(*launched)};

    std::optional<StartReply> reply = start.receiver.receive();
    if (!reply)
        return fail("audio control thread exited");  // the thread is left to end
    if (!*reply) {
        thread.thread.join();
        return fail(std::move(*reply).error());
    }
    return std::make_shared<AudioController>(std::move(queue.sender), std::move(**reply),
                                             std::move(thread.thread));
}

Result<std::vector<AudioEndpoint>> list_endpoints(const AudioController& controller,
                                                  EndpointDirection direction) {
    return call_on_control_thread<std::vector<AudioEndpoint>>(
        controller, [direction](ControlThreadState& state) {
            return list_endpoints_on_context(state.context, direction);
        });
}

}  // namespace quorle::audio
