// The capture seam on Linux. There is no COM (joining the apartment always succeeds) and
// the console control events are the signals SIGINT, SIGTERM and SIGHUP, which only set the
// console stop flag. The process-loopback activation is served by the PulseAudio capture;
// a build without libpulse fails it at once with ENOSYS, never with a pretended client.
#include <signal.h>
#include <sys/eventfd.h>

#include <atomic>
#include <cerrno>

#include "audio_host/capture_run/activation_completion.h"
#include "audio_host/capture_run/capture_platform.h"
#include "audio_host/capture_run/console_stop.h"
#include "audio_host/capture_run/linux/capture_event_linux.h"
#if QUORLE_PULSE_CAPTURE
#include "audio_host/capture_run/linux/pulse_activation_linux.h"
#endif
#include "common/com_apartment.h"
#include "common/platform_error.h"

namespace quorle::host {
namespace {

class ApartmentMembership final : public PlatformReference {
  public:
    explicit ApartmentMembership(ComApartment apartment) : apartment_(std::move(apartment)) {}

  private:
    ComApartment apartment_;
};

// Read from the signal handler: a lock-free atomic pointer, set before the handler exists.
std::atomic<ConsoleStop*> console_target{nullptr};
static_assert(std::atomic<ConsoleStop*>::is_always_lock_free);

void on_stop_signal(int) {
    // Async-signal-safe: two lock-free atomic operations.
    if (ConsoleStop* stop = console_target.load(std::memory_order_acquire)) stop->request();
}

class LinuxCapturePlatform final : public CapturePlatform {
  public:
    LinuxCapturePlatform() {
#if QUORLE_PULSE_CAPTURE
        linux_layer::register_pulse_error_text();
#endif
    }

    ActivationService activation_service() const override {
        return ActivationService::AudioServerConnection;
    }

    HResult join_multithreaded_apartment(std::unique_ptr<PlatformReference>& membership) override {
        ComApartment apartment = ComApartment::join_multithreaded();
        const HResult result = apartment.result();
        if (apartment.joined()) {
            membership = std::make_unique<ApartmentMembership>(std::move(apartment));
        }
        return result;
    }

#if QUORLE_PULSE_CAPTURE
    ActivationStart activate_process_loopback(const ActivationParameters& parameters,
                                              ActivationCompletion completion) override {
        return linux_layer::start_pulse_activation(parameters, std::move(completion));
    }
#else
    ActivationStart activate_process_loopback(const ActivationParameters&,
                                              ActivationCompletion) override {
        ActivationStart start;
        start.result = static_cast<HResult>(hresult_from_win32(ENOSYS));
        return start;
    }
#endif

    Win32Call create_capture_event(std::unique_ptr<CaptureEvent>& event) override {
        const int descriptor = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (descriptor < 0) return Win32Call{false, static_cast<std::uint32_t>(errno)};
        event = std::make_unique<linux_layer::EventFdCaptureEvent>(descriptor);
        return Win32Call{true, 0};
    }

    Win32Call install_console_handler(ConsoleStop& stop) override {
        console_target.store(&stop, std::memory_order_release);
        struct sigaction action {};
        action.sa_handler = on_stop_signal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0;  // no SA_RESTART: an interrupted event wait returns at once
        for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
            if (::sigaction(signal_number, &action, nullptr) != 0) {
                return Win32Call{false, static_cast<std::uint32_t>(errno)};
            }
        }
        return Win32Call{true, 0};
    }
};

}  // namespace

CapturePlatform& system_capture_platform() {
    static LinuxCapturePlatform platform;
    return platform;
}

}  // namespace quorle::host
