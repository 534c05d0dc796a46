#include "audio_host/capture_run/activation_completion.h"

#include "common/platform_error.h"

namespace quorle::host {
namespace {

std::uint32_t code_of(HResult result) {
    return static_cast<std::uint32_t>(result);
}

}  // namespace

const char* activation_failure_context(ActivationService service) {
    switch (service) {
        case ActivationService::AudioServerConnection:
            return "audio server connection (PulseAudio protocol)";
        case ActivationService::WindowsProcessLoopback:
            break;
    }
    return "process-loopback activation (requires supported Windows build)";
}

ActivationOutcome activation_outcome(ActivationOperation* operation, ActivationService service) {
    if (operation == nullptr) return fail("activation operation missing");

    // Preset as the platform may leave the out-parameters untouched.
    HResult activation_result = kEFail;
    std::unique_ptr<ActivatedInterface> activated;
    const HResult call = operation->get_activate_result(activation_result, activated);
    if (call < 0) return fail(context_error("activation result", code_of(call)));
    if (activation_result < 0) {
        return fail(context_error(activation_failure_context(service), code_of(activation_result)));
    }
    if (!activated) return fail("activated interface missing");

    std::unique_ptr<AudioClient> client;
    const HResult query = activated->query_audio_client(client);
    activated.reset();
    if (query < 0) return fail(context_error("audio client", code_of(query)));
    if (!client) return fail(context_error("audio client", code_of(kEPointer)));
    return client;
}

void ActivationCompletion::complete(ActivationOperation* operation) {
    sender_.send(activation_outcome(operation, service_));
}

}  // namespace quorle::host
