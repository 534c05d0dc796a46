#include "audio_host/capture_run/activation.h"

#include <optional>

#include "audio_host/capture_run/activation_completion.h"
#include "common/platform_error.h"

namespace quorle::host {
namespace {

void put_u32_le(ActivationParameters& block, std::size_t offset, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) {
        block[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

std::uint32_t code_of(HResult result) {
    return static_cast<std::uint32_t>(result);
}

}  // namespace

ActivationParameters activation_parameters(std::uint32_t target_pid, LoopbackMode mode) {
    ActivationParameters block{};
    put_u32_le(block, 0, kActivationTypeProcessLoopback);
    put_u32_le(block, 4, target_pid);
    put_u32_le(block, 8, static_cast<std::uint32_t>(mode));
    return block;
}

Result<std::unique_ptr<AudioClient>> activate_process_loopback(CapturePlatform& platform,
                                                               std::uint32_t target_pid,
                                                               LoopbackMode mode, TimedWait& time) {
    const ActivationParameters parameters = activation_parameters(target_pid, mode);
    auto [sender, receiver] = make_one_slot_channel<ActivationOutcome>();

    // Declared after the receiver: the operation and then the caller's handler reference are
    // released before the receiving end, on every path.
    ActivationStart start = platform.activate_process_loopback(
        parameters, ActivationCompletion(std::move(sender), platform.activation_service()));
    if (start.result < 0) {
        return fail(context_error("activate process loopback", code_of(start.result)));
    }
    if (!start.operation) return fail(context_error("activate process loopback", 0));

    std::optional<ActivationOutcome> outcome =
        receiver.receive_until(time, time.now() + kActivationTimeLimit);
    if (!outcome) return fail("process-loopback activation timed out");
    return std::move(*outcome);
}

Result<ProcessCapture> initialize_process_capture(CapturePlatform& platform, AudioClient& client) {
    ProcessCapture capture;
    HResult result = client.initialize(kCaptureClientInitialization);
    if (result < 0) {
        return fail(context_error("initialize float32 process capture", code_of(result)));
    }
    result = client.get_buffer_size(capture.buffer_frames);
    if (result < 0) return fail(context_error("capture buffer size", code_of(result)));

    result = client.get_capture_service(capture.service);
    // A success without a service would only crash later: report it as E_POINTER.
    if (result >= 0 && !capture.service) result = kEPointer;
    if (result < 0) return fail(context_error("capture service", code_of(result)));

    const Win32Call created = platform.create_capture_event(capture.event);
    if (!created.ok || !capture.event) {
        return fail(context_error("capture event", hresult_from_win32(created.last_error)));
    }
    result = client.set_event_handle(*capture.event);
    if (result < 0) return fail(context_error("set capture event", code_of(result)));
    return capture;
}

}  // namespace quorle::host
