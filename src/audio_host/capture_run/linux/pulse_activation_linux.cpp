#include "audio_host/capture_run/linux/pulse_activation_linux.h"

#include <chrono>
#include <memory>
#include <thread>

#include "audio_host/capture_run/activation.h"
#include "audio_host/capture_run/linux/capture_event_linux.h"
#include "audio_host/pulse/loopback_capture.h"
#include "audio_host/pulse/pulse_codes.h"
#include "common/named_thread.h"
#include "common/platform_error.h"

namespace quorle::host::linux_layer {
namespace {

// The result codes a Windows audio client gives for the same misuse.
constexpr HResult kEInvalidArg = static_cast<HResult>(0x80070057u);
constexpr HResult kNotInitialized = static_cast<HResult>(0x88890001u);      // AUDCLNT_E_
constexpr HResult kAlreadyInitialized = static_cast<HResult>(0x88890002u);  // AUDCLNT_E_
constexpr HResult kUnsupportedFormat = static_cast<HResult>(0x88890008u);   // AUDCLNT_E_

std::uint32_t read_u32_le(const ActivationParameters& block, std::size_t offset) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i)
        value |= std::uint32_t{block[offset + i]} << (8 * i);
    return value;
}

// The capture shared by the audio client and its capture service. The client's release
// ends the capture (no libpulse thread, no signal of the event after that), even while
// the service still exists; the service then answers E_FAIL.
struct SharedCapture {
    std::unique_ptr<pulse::LoopbackCapture> capture;
};

class PulseCaptureService final : public CaptureService {
  public:
    explicit PulseCaptureService(std::shared_ptr<SharedCapture> shared)
        : shared_(std::move(shared)) {}

    HResult next_packet_size(std::uint32_t& frames) override {
        frames = 0;
        if (!shared_->capture) return kEFail;
        return shared_->capture->next_packet_size(frames);
    }
    HResult get_buffer(CapturePacket& packet) override {
        packet = {};
        if (!shared_->capture) return kEFail;
        const float* data = nullptr;
        const HResult result = shared_->capture->get_buffer(data, packet.frames, packet.flags);
        packet.data = data;
        return result;
    }
    HResult release_buffer(std::uint32_t frames) override {
        if (!shared_->capture) return kEFail;
        return shared_->capture->release_buffer(frames);
    }

  private:
    std::shared_ptr<SharedCapture> shared_;
};

class PulseAudioClient final : public AudioClient {
  public:
    explicit PulseAudioClient(std::unique_ptr<pulse::LoopbackCapture> capture)
        : shared_(std::make_shared<SharedCapture>(SharedCapture{std::move(capture)})) {}
    PulseAudioClient(const PulseAudioClient&) = delete;
    PulseAudioClient& operator=(const PulseAudioClient&) = delete;
    ~PulseAudioClient() override { shared_->capture.reset(); }

    HResult initialize(const ClientInitialization& arguments) override {
        if (initialized_) return kAlreadyInitialized;
        // The capture delivers exactly this format; nothing converts to another one.
        if (arguments.format != kCaptureStreamFormat) return kUnsupportedFormat;
        initialized_ = true;
        return kSOk;
    }
    HResult get_buffer_size(std::uint32_t& frames) override {
        if (!initialized_) return kNotInitialized;
        frames = shared_->capture->buffer_frames();
        return kSOk;
    }
    HResult get_capture_service(std::unique_ptr<CaptureService>& service) override {
        if (!initialized_) return kNotInitialized;
        service = std::make_unique<PulseCaptureService>(shared_);
        return kSOk;
    }
    HResult set_event_handle(CaptureEvent& event) override {
        auto* eventfd = dynamic_cast<EventFdCaptureEvent*>(&event);
        if (eventfd == nullptr) return kEInvalidArg;
        // The run releases this client before it closes the event, so the signal never
        // reaches a closed descriptor.
        shared_->capture->set_packet_signal([eventfd] { (void)eventfd->signal(); });
        return kSOk;
    }
    HResult start() override {
        if (!initialized_) return kNotInitialized;
        return shared_->capture->start();
    }
    HResult stop() override {
        if (!initialized_) return kNotInitialized;
        return shared_->capture->stop();
    }

  private:
    std::shared_ptr<SharedCapture> shared_;
    bool initialized_ = false;
};

class PulseActivatedInterface final : public ActivatedInterface {
  public:
    explicit PulseActivatedInterface(std::unique_ptr<pulse::LoopbackCapture> capture)
        : capture_(std::move(capture)) {}
    HResult query_audio_client(std::unique_ptr<AudioClient>& client) override {
        if (!capture_) return kEFail;
        client = std::make_unique<PulseAudioClient>(std::move(capture_));
        return kSOk;
    }

  private:
    std::unique_ptr<pulse::LoopbackCapture> capture_;
};

class PulseActivationOperation final : public ActivationOperation {
  public:
    PulseActivationOperation(HResult result, std::unique_ptr<ActivatedInterface> activated)
        : result_(result), activated_(std::move(activated)) {}
    HResult get_activate_result(HResult& activation_result,
                                std::unique_ptr<ActivatedInterface>& activated) override {
        activation_result = result_;
        activated = std::move(activated_);
        return kSOk;
    }

  private:
    HResult result_;
    std::unique_ptr<ActivatedInterface> activated_;
};

// The activation thread, joined when the caller releases the operation.
class ActivationThread final : public PlatformReference {
  public:
    explicit ActivationThread(std::thread thread) : thread_(std::move(thread)) {}
    ActivationThread(const ActivationThread&) = delete;
    ActivationThread& operator=(const ActivationThread&) = delete;
    ~ActivationThread() override {
        if (thread_.joinable()) thread_.join();
    }

  private:
    std::thread thread_;
};

void open_and_complete(pulse::LoopbackTarget target, std::chrono::steady_clock::time_point deadline,
                       ActivationCompletion& completion) {
    auto opened = pulse::LoopbackCapture::open(target, deadline);
    if (!opened) {
        // Out of time: no outcome, exactly as an activation that never completes.
        if (opened.error().stage == pulse::OpenStage::TimedOut) return;
        PulseActivationOperation failed(opened.error().code, nullptr);
        completion.complete(&failed);
        return;
    }
    PulseActivationOperation done(kSOk,
                                  std::make_unique<PulseActivatedInterface>(std::move(*opened)));
    completion.complete(&done);
}

}  // namespace

ActivationStart start_pulse_activation(const ActivationParameters& parameters,
                                       ActivationCompletion completion) {
    ActivationStart start;
    const std::uint32_t type = read_u32_le(parameters, 0);
    const std::uint32_t pid = read_u32_le(parameters, 4);
    const std::uint32_t mode = read_u32_le(parameters, 8);
    if (type != kActivationTypeProcessLoopback || mode > 1) {
        start.result = kEInvalidArg;
        return start;
    }
    const pulse::LoopbackTarget target{pid, static_cast<pulse::LoopbackMode>(mode)};
    // The opening gets the same limit as the wait for its outcome.
    const auto deadline = std::chrono::steady_clock::now() + kActivationTimeLimit;
    // std::function wants a copyable body; the completion itself is move-only.
    auto shared_completion = std::make_shared<ActivationCompletion>(std::move(completion));
    auto launched =
        system_thread_launcher().launch("quorle-activate", [target, deadline, shared_completion] {
            open_and_complete(target, deadline, *shared_completion);
        });
    if (!launched) {
        start.result = static_cast<HResult>(
            hresult_from_win32(static_cast<std::uint32_t>(launched.error().code.value())));
        return start;
    }
    start.result = kSOk;
    start.operation = std::make_unique<ActivationThread>(std::move(*launched));
    return start;
}

void register_pulse_error_text() {
    set_error_description_provider(&pulse::pulse_error_description);
}

}  // namespace quorle::host::linux_layer
