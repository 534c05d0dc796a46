#pragma once
// The completion side of the process-loopback activation: the rules that turn the platform's
// finished operation into one outcome, and the sending end that carries it to the thread
// waiting in activate_process_loopback. Runs on whatever thread the platform completes on.
#include <memory>

#include "audio_host/capture_run/capture_platform.h"
#include "audio_host/capture_run/one_slot_channel.h"
#include "common/result.h"

namespace quorle::host {

// An activated audio client, or the failure message of the activation.
using ActivationOutcome = Result<std::unique_ptr<AudioClient>>;
using OutcomeSender = SlotSender<ActivationOutcome>;
using OutcomeReceiver = SlotReceiver<ActivationOutcome>;

// The context of a failed activation of `service`.
[[nodiscard]] const char* activation_failure_context(ActivationService service);

// The outcome of a finished activation of `service`. `operation` is null when the platform
// gave none. The activated interface is released before this returns, whatever the outcome.
[[nodiscard]] ActivationOutcome activation_outcome(ActivationOperation* operation,
                                                   ActivationService service);

// Held by the platform's completion handler. Move-only; its destruction without a call of
// complete() tells the waiting side that no outcome will come.
class ActivationCompletion {
  public:
    ActivationCompletion(OutcomeSender sender, ActivationService service)
        : sender_(std::move(sender)), service_(service) {}
    ActivationCompletion(ActivationCompletion&&) noexcept = default;
    ActivationCompletion& operator=(ActivationCompletion&&) noexcept = default;
    ActivationCompletion(const ActivationCompletion&) = delete;
    ActivationCompletion& operator=(const ActivationCompletion&) = delete;
    ~ActivationCompletion() = default;

    // ActivateCompleted: computes the outcome and sends it. When nobody waits any more the
    // outcome is dropped here, an activated client included.
    void complete(ActivationOperation* operation);

  private:
    OutcomeSender sender_;
    ActivationService service_;
};

}  // namespace quorle::host
