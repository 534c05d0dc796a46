#include "audio_host/capture_run/win32/audio_client_win32.h"

namespace quorle::host::win32 {

std::uint32_t Win32CaptureEvent::wait(std::uint32_t timeout_ms) {
    return WaitForSingleObject(handle_.get(), timeout_ms);
}

HResult Win32CaptureService::next_packet_size(std::uint32_t& frames) {
    UINT32 next = 0;
    const HRESULT result = service_->GetNextPacketSize(&next);
    frames = next;
    return result;
}

HResult Win32CaptureService::get_buffer(CapturePacket& packet) {
    BYTE* data = nullptr;
    UINT32 frames = 0;
    DWORD flags = 0;
    const HRESULT result = service_->GetBuffer(&data, &frames, &flags, nullptr, nullptr);
    packet.data = data;
    packet.frames = frames;
    packet.flags = flags;
    return result;
}

HResult Win32CaptureService::release_buffer(std::uint32_t frames) {
    return service_->ReleaseBuffer(frames);
}

HResult Win32AudioClient::initialize(const ClientInitialization& arguments) {
    WAVEFORMATEX format{};
    format.wFormatTag = arguments.format.format_tag;
    format.nChannels = arguments.format.channels;
    format.nSamplesPerSec = arguments.format.samples_per_sec;
    format.nAvgBytesPerSec = arguments.format.avg_bytes_per_sec;
    format.nBlockAlign = arguments.format.block_align;
    format.wBitsPerSample = arguments.format.bits_per_sample;
    format.cbSize = arguments.format.extra_size;
    return client_->Initialize(static_cast<AUDCLNT_SHAREMODE>(arguments.share_mode),
                               arguments.stream_flags, arguments.buffer_duration,
                               arguments.periodicity, &format, nullptr);
}

HResult Win32AudioClient::get_buffer_size(std::uint32_t& frames) {
    UINT32 size = 0;
    const HRESULT result = client_->GetBufferSize(&size);
    frames = size;
    return result;
}

HResult Win32AudioClient::get_capture_service(std::unique_ptr<CaptureService>& service) {
    ComPtr<IAudioCaptureClient> capture;
    const HRESULT result =
        client_->GetService(__uuidof(IAudioCaptureClient), reinterpret_cast<void**>(capture.put()));
    if (capture) service = std::make_unique<Win32CaptureService>(std::move(capture));
    return result;
}

HResult Win32AudioClient::set_event_handle(CaptureEvent& event) {
    // The seam hands back only events that this layer created.
    return client_->SetEventHandle(static_cast<Win32CaptureEvent&>(event).handle());
}

HResult Win32AudioClient::start() {
    return client_->Start();
}
HResult Win32AudioClient::stop() {
    return client_->Stop();
}

HResult Win32ActivatedInterface::query_audio_client(std::unique_ptr<AudioClient>& client) {
    ComPtr<IAudioClient> audio;
    const HRESULT result =
        activated_->QueryInterface(__uuidof(IAudioClient), reinterpret_cast<void**>(audio.put()));
    if (audio) client = std::make_unique<Win32AudioClient>(std::move(audio));
    return result;
}

HResult Win32ActivationOperation::get_activate_result(
    HResult& activation_result, std::unique_ptr<ActivatedInterface>& activated) {
    HRESULT result_of_activation = activation_result;
    ComPtr<IUnknown> activated_unknown;
    const HRESULT call =
        operation_.GetActivateResult(&result_of_activation, activated_unknown.put());
    activation_result = result_of_activation;
    if (activated_unknown)
        activated = std::make_unique<Win32ActivatedInterface>(std::move(activated_unknown));
    return call;
}

}  // namespace quorle::host::win32
