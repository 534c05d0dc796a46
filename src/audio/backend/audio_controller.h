#pragma once
// The shared handle on a running audio control thread, how one is started, and how other
// threads have work done on it.
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "audio/backend/audio_endpoint.h"
#include "audio/backend/control_thread.h"
#include "audio/backend/reply_channel.h"
#include "common/result.h"

namespace quorle::audio {

class AudioController {
  public:
    AudioController(QueueSender<ControlMessage> commands, std::string backend_id,
                    std::thread thread) noexcept;
    AudioController(const AudioController&) = delete;
    AudioController& operator=(const AudioController&) = delete;
    // Sends the stop marker (a failed send is ignored), waits for the thread to finish,
    // then releases the queue's sending end and the identifier.
    ~AudioController();

    // The backend the thread's context uses ("wasapi" on Windows).
    [[nodiscard]] const std::string& backend_id() const { return backend_id_; }

    // Queues `job` for the control thread; safe from any thread. Fails with "audio
    // controller closed" (and drops the job) when the thread's receiving end is gone.
    [[nodiscard]] Status submit(ControlJob job) const;

  private:
    QueueSender<ControlMessage> commands_;
    std::string backend_id_;
    std::thread thread_;
};

// Starts a control thread and waits, without a time limit, for it to report its backend.
// Fails with "audio control thread: <description> (os error N)" when the thread cannot be
// created, with the thread's own failure message (after the thread has finished), or with
// "audio control thread exited" when it ended without answering.
[[nodiscard]] Result<std::shared_ptr<AudioController>> start_controller(
    const AudioControlEnvironment& environment);

// Runs `work` on the control thread and waits, without a time limit, for its result.
// Fails with "audio controller closed" when the request cannot be queued and with "audio
// controller exited during operation" when no reply comes (the job was dropped unrun or the
// thread ended while running it). Never call it from a job: the control thread would wait
// for itself.
template <class T>
[[nodiscard]] Result<T> call_on_control_thread(
    const AudioController& controller,
    std::move_only_function<Result<T>(ControlThreadState&)> work) {
    ReplyChannel<Result<T>> reply = make_reply_channel<Result<T>>();
    QUORLE_RETURN_IF_ERROR(
        controller.submit([sender = std::move(reply.sender),
                           work = std::move(work)](ControlThreadState& state) mutable {
            // A result that nobody waits for any more is dropped.
            (void)sender.send(work(state));
        }));
    std::optional<Result<T>> answer = reply.receiver.receive();
    if (!answer)
        return fail("audio controller exited during operation");
    return std::move(*answer);
}

// The enabled endpoints of one direction, read on the control thread.
[[nodiscard]] Result<std::vector<AudioEndpoint>> list_endpoints(const AudioController& controller,
                                                                EndpointDirection direction);

}  // namespace quorle::audio
