#pragma once
// The Core Audio objects of a capture behind the capture seam: IAudioClient,
// IAudioCaptureClient, the capture event, the activated interface and the activation
// operation. Each holds one COM reference (or one handle) and releases it when destroyed.
#include <windows.h>

#include <audioclient.h>
#include <mmdeviceapi.h>

#include "audio_host/capture_run/capture_platform.h"
#include "audio_host/capture_run/win32/com_ptr.h"
#include "audio_host/capture_run/win32/unique_handle.h"

namespace quorle::host::win32 {

class Win32CaptureEvent final : public CaptureEvent {
  public:
    explicit Win32CaptureEvent(UniqueHandle handle) : handle_(std::move(handle)) {}
    std::uint32_t wait(std::uint32_t timeout_ms) override;
    [[nodiscard]] HANDLE handle() const { return handle_.get(); }

  private:
    UniqueHandle handle_;
};

class Win32CaptureService final : public CaptureService {
  public:
    explicit Win32CaptureService(ComPtr<IAudioCaptureClient> service)
        : service_(std::move(service)) {}
    HResult next_packet_size(std::uint32_t& frames) override;
    HResult get_buffer(CapturePacket& packet) override;
    HResult release_buffer(std::uint32_t frames) override;

  private:
    ComPtr<IAudioCaptureClient> service_;
};

class Win32AudioClient final : public AudioClient {
  public:
    explicit Win32AudioClient(ComPtr<IAudioClient> client) : client_(std::move(client)) {}
    HResult initialize(const ClientInitialization& arguments) override;
    HResult get_buffer_size(std::uint32_t& frames) override;
    HResult get_capture_service(std::unique_ptr<CaptureService>& service) override;
    HResult set_event_handle(CaptureEvent& event) override;
    HResult start() override;
    HResult stop() override;

  private:
    ComPtr<IAudioClient> client_;
};

class Win32ActivatedInterface final : public ActivatedInterface {
  public:
    explicit Win32ActivatedInterface(ComPtr<IUnknown> activated)
        : activated_(std::move(activated)) {}
    HResult query_audio_client(std::unique_ptr<AudioClient>& client) override;

  private:
    ComPtr<IUnknown> activated_;
};

// Borrows the operation for the duration of ActivateCompleted.
class Win32ActivationOperation final : public ActivationOperation {
  public:
    explicit Win32ActivationOperation(IActivateAudioInterfaceAsyncOperation& operation)
        : operation_(operation) {}
    HResult get_activate_result(HResult& activation_result,
                                std::unique_ptr<ActivatedInterface>& activated) override;

  private:
    IActivateAudioInterfaceAsyncOperation& operation_;
};

// A held COM reference of any kind.
class Win32Reference final : public PlatformReference {
  public:
    explicit Win32Reference(ComPtr<IUnknown> reference) : reference_(std::move(reference)) {}

  private:
    ComPtr<IUnknown> reference_;
};

}  // namespace quorle::host::win32
