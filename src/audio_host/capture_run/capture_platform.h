#pragma once
// The platform operations of a capture run: COM apartment membership, the asynchronous
// process-loopback activation, the audio client, its capture service, the capture event and
// the console control handler. Every call returns the platform's raw result (an HRESULT-style
// code, a wait result or a last-error number); messages, contexts and step order belong to
// the callers in this directory.
//
// Codes: `HResult` values are negative on failure, as COM's. A layer that has no HRESULT of
// its own expresses an errno value e as hresult_from_win32(e) (0x8007xxxx).
//
// Ownership: every object handed out through a std::unique_ptr is one held platform
// reference (a COM reference, a handle, a descriptor); destroying it releases it. Objects are
// used on the thread that runs the capture, except where a comment says otherwise.
#include <array>
#include <cstdint>
#include <memory>

namespace quorle::host {

using HResult = std::int32_t;

inline constexpr HResult kSOk = 0;
inline constexpr HResult kEFail = static_cast<HResult>(0x80004005u);
inline constexpr HResult kEPointer = static_cast<HResult>(0x80004003u);
inline constexpr HResult kENoInterface = static_cast<HResult>(0x80004002u);

// Results of a wait on the capture event.
inline constexpr std::uint32_t kWaitObject0 = 0;
inline constexpr std::uint32_t kWaitTimeout = 258;

// AUDIOCLIENT_ACTIVATION_PARAMS as the platform reads it: activation type, target process id
// and loopback mode, three unsigned 32-bit little-endian values.
using ActivationParameters = std::array<std::uint8_t, 12>;

// The stream format of the capture client (a WAVEFORMATEX).
struct StreamFormat {
    std::uint16_t format_tag = 0;
    std::uint16_t channels = 0;
    std::uint32_t samples_per_sec = 0;
    std::uint32_t avg_bytes_per_sec = 0;
    std::uint16_t block_align = 0;
    std::uint16_t bits_per_sample = 0;
    std::uint16_t extra_size = 0;  // cbSize
    friend bool operator==(const StreamFormat&, const StreamFormat&) = default;
};

// The arguments of IAudioClient::Initialize (no session identifier is ever passed).
struct ClientInitialization {
    std::uint32_t share_mode = 0;
    std::uint32_t stream_flags = 0;
    std::int64_t buffer_duration = 0;  // REFERENCE_TIME, 100-ns units
    std::int64_t periodicity = 0;      // REFERENCE_TIME, 100-ns units
    StreamFormat format;
    friend bool operator==(const ClientInitialization&, const ClientInitialization&) = default;
};

// One packet locked by CaptureService::get_buffer.
struct CapturePacket {
    const void* data = nullptr;  // interleaved samples; may be null or misaligned
    std::uint32_t frames = 0;
    std::uint32_t flags = 0;  // AUDCLNT_BUFFERFLAGS_*
};

// A held platform reference with nothing to call on it (an apartment membership, the
// caller's reference to the completion handler, an activation operation).
class PlatformReference {
  public:
    virtual ~PlatformReference() = default;
};

// The capture event: an unnamed auto-reset event (Windows), an eventfd (Linux).
class CaptureEvent {
  public:
    virtual ~CaptureEvent() = default;  // closes; a failing close is ignored
    // Waits at most `timeout_ms`: kWaitObject0 when signalled, kWaitTimeout when not,
    // anything else is a failed wait.
    [[nodiscard]] virtual std::uint32_t wait(std::uint32_t timeout_ms) = 0;
};

// IAudioCaptureClient.
class CaptureService {
  public:
    virtual ~CaptureService() = default;
    [[nodiscard]] virtual HResult next_packet_size(std::uint32_t& frames) = 0;
    // Locks the next packet (no device or performance-counter position is asked for).
    [[nodiscard]] virtual HResult get_buffer(CapturePacket& packet) = 0;
    [[nodiscard]] virtual HResult release_buffer(std::uint32_t frames) = 0;
};

// IAudioClient.
class AudioClient {
  public:
    virtual ~AudioClient() = default;
    [[nodiscard]] virtual HResult initialize(const ClientInitialization& arguments) = 0;
    [[nodiscard]] virtual HResult get_buffer_size(std::uint32_t& frames) = 0;
    // GetService for IAudioCaptureClient.
    [[nodiscard]] virtual HResult get_capture_service(std::unique_ptr<CaptureService>& service) = 0;
    // `event` is always one that the same platform's create_capture_event returned.
    [[nodiscard]] virtual HResult set_event_handle(CaptureEvent& event) = 0;
    [[nodiscard]] virtual HResult start() = 0;
    [[nodiscard]] virtual HResult stop() = 0;
};

// The interface an activation produced, before it is asked for IAudioClient. May be used
// and released on the completion thread.
class ActivatedInterface {
  public:
    virtual ~ActivatedInterface() = default;
    // QueryInterface for IAudioClient.
    [[nodiscard]] virtual HResult query_audio_client(std::unique_ptr<AudioClient>& client) = 0;
};

// IActivateAudioInterfaceAsyncOperation as the completion sees it (borrowed for the call).
class ActivationOperation {
  public:
    virtual ~ActivationOperation() = default;
    // GetActivateResult: the call's own result; the activation's result and the activated
    // interface through the out-parameters (left as they are when the call does not set them).
    [[nodiscard]] virtual HResult get_activate_result(
        HResult& activation_result, std::unique_ptr<ActivatedInterface>& activated) = 0;
};

class ActivationCompletion;  // activation_completion.h

// What a process-loopback activation reaches on a platform; it names the context of a failed
// activation, so that the message says what the user has to fix.
enum class ActivationService {
    WindowsProcessLoopback,  // the Windows process-loopback device (needs a supporting build)
    AudioServerConnection,   // a connection to the audio server (Linux: PulseAudio protocol)
};

// What the start of an activation gave back.
struct ActivationStart {
    HResult result = kEFail;  // ActivateAudioInterfaceAsync (or the creation of the handler)
    // The caller's reference to the completion handler; the platform holds its own while the
    // operation is pending.
    std::unique_ptr<PlatformReference> handler;
    // The operation object; may be null even when `result` is not negative.
    std::unique_ptr<PlatformReference> operation;
};

// A last-error style result of a Win32 call.
struct Win32Call {
    bool ok = false;
    std::uint32_t last_error = 0;  // the thread's last error (Linux: errno) when !ok
};

class ConsoleStop;  // console_stop.h

class CapturePlatform {
  public:
    virtual ~CapturePlatform() = default;

    // What activate_process_loopback reaches.
    [[nodiscard]] virtual ActivationService activation_service() const = 0;

    // CoInitializeEx(nullptr, COINIT_MULTITHREADED). On a non-negative result `membership`
    // holds the CoUninitialize that is owed.
    [[nodiscard]] virtual HResult join_multithreaded_apartment(
        std::unique_ptr<PlatformReference>& membership) = 0;

    // ActivateAudioInterfaceAsync on "VAD\Process_Loopback" for IAudioClient with a VT_BLOB
    // property holding `parameters`. The platform creates the completion handler around
    // `completion` (the handler owns its own copy of the parameter block) and, when the call
    // succeeded, calls completion.complete(...) exactly once on another thread (or drops the
    // handler without calling it, which the waiting side sees as a missing outcome).
    [[nodiscard]] virtual ActivationStart activate_process_loopback(
        const ActivationParameters& parameters, ActivationCompletion completion) = 0;

    // CreateEventW(nullptr, FALSE, FALSE, nullptr). `event` stays null on failure.
    [[nodiscard]] virtual Win32Call create_capture_event(std::unique_ptr<CaptureEvent>& event) = 0;

    // SetConsoleCtrlHandler (Linux: SIGINT, SIGTERM and SIGHUP). Every control event goes to
    // `stop` (ConsoleStop::handle_control_event; a signal only calls ConsoleStop::request).
    // The handler stays installed for the rest of the process, so a control event that comes
    // after the run has ended never falls back to the default handler that kills the process.
    [[nodiscard]] virtual Win32Call install_console_handler(ConsoleStop& stop) = 0;
};

// The platform layer this program is built with (win32/ or linux/).
[[nodiscard]] CapturePlatform& system_capture_platform();

}  // namespace quorle::host
