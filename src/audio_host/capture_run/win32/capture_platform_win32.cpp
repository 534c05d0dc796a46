// The capture seam on Windows: COM, ActivateAudioInterfaceAsync, CreateEventW and
// SetConsoleCtrlHandler.
#include <windows.h>

#include <audioclient.h>
#include <mmdeviceapi.h>

#include <atomic>

#include "audio_host/capture_run/activation_completion.h"
#include "audio_host/capture_run/capture_platform.h"
#include "audio_host/capture_run/console_stop.h"
#include "audio_host/capture_run/win32/audio_client_win32.h"
#include "audio_host/capture_run/win32/completion_handler.h"
#include "common/com_apartment.h"

namespace quorle::host {
namespace {

using win32::CompletionHandler;
using win32::ComPtr;

// Membership in the multithreaded apartment; CoUninitialize when released.
class ApartmentMembership final : public PlatformReference {
  public:
    explicit ApartmentMembership(ComApartment apartment) : apartment_(std::move(apartment)) {}

  private:
    ComApartment apartment_;
};

// The console stop that the console control handler reports to. Set once, before the
// handler is installed, and read on the system's handler thread.
std::atomic<ConsoleStop*> console_target{nullptr};

BOOL WINAPI on_console_event(DWORD event) {
    if (ConsoleStop* stop = console_target.load(std::memory_order_acquire)) {
        if (stop->handle_control_event(event) == ConsoleHandlerNext::KeepWaiting) {
            // The run has shut down and its exit follows; returning now would let the
            // system end the process with a status of its own first.
            for (;;)
                Sleep(INFINITE);
        }
    }
    return TRUE;
}

class Win32CapturePlatform final : public CapturePlatform {
  public:
    ActivationService activation_service() const override {
        return ActivationService::WindowsProcessLoopback;
    }

    HResult join_multithreaded_apartment(std::unique_ptr<PlatformReference>& membership) override {
        ComApartment apartment = ComApartment::join_multithreaded();
        const HResult result = apartment.result();
        if (apartment.joined()) {
            membership = std::make_unique<ApartmentMembership>(std::move(apartment));
        }
        return result;
    }

    ActivationStart activate_process_loopback(const ActivationParameters& parameters,
                                              ActivationCompletion completion) override {
        ActivationStart start;
        ComPtr<CompletionHandler> handler;
        start.result = CompletionHandler::create(parameters, std::move(completion), handler);
        if (start.result < 0) return start;

        IActivateAudioInterfaceAsyncOperation* operation = nullptr;
        start.result =
            ActivateAudioInterfaceAsync(win32::kProcessLoopbackDevicePath, __uuidof(IAudioClient),
                                        handler->activation_property(), handler.get(), &operation);
        if (operation != nullptr) {
            start.operation =
                std::make_unique<win32::Win32Reference>(ComPtr<IUnknown>::adopt(operation));
        }
        IUnknown* identity = handler->identity();
        identity->AddRef();
        start.handler = std::make_unique<win32::Win32Reference>(ComPtr<IUnknown>::adopt(identity));
        return start;
    }

    Win32Call create_capture_event(std::unique_ptr<CaptureEvent>& event) override {
        const HANDLE created = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        if (!win32::UniqueHandle::valid(created)) return Win32Call{false, GetLastError()};
        event = std::make_unique<win32::Win32CaptureEvent>(win32::UniqueHandle(created));
        return Win32Call{true, 0};
    }

    Win32Call install_console_handler(ConsoleStop& stop) override {
        console_target.store(&stop, std::memory_order_release);
        if (!SetConsoleCtrlHandler(on_console_event, TRUE)) return Win32Call{false, GetLastError()};
        return Win32Call{true, 0};
    }
};

}  // namespace

CapturePlatform& system_capture_platform() {
    static Win32CapturePlatform platform;
    return platform;
}

}  // namespace quorle::host
