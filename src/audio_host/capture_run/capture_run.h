#pragma once
// One capture run of the audio host, from a validated request to the end of the stream:
// process checks, COM, activation and client set-up, the capture worker, the console
// handler, the header line, the packet loop and the ordered shutdown. Everything runs on the
// calling thread; the result is success or the first failure message.
#include "audio/capture/capture_worker.h"
#include "audio_host/capture_run/capture_platform.h"
#include "audio_host/capture_run/console_stop.h"
#include "audio_host/capture_run/timed_wait.h"
#include "audio_host/cli/arguments.h"
#include "audio_host/process/process_platform.h"
#include "common/result.h"
#include "common/std_streams.h"

namespace quorle::host {

// What a run works with; the program passes the real platform, tests their fakes.
struct CaptureRunContext {
    ProcessPlatform& processes;
    CapturePlatform& capture;
    ConsoleStop& console;           // the process's console stop flag and handler
    TimedWait& time;                // the activation's 10-second wait
    OutputStream& err;              // where the header line goes (standard error)
    capture::WorkerOptions worker;  // the worker's streams, clock and thread launcher
};

// The stream every capture opens: 2 channels of 32-bit float at 48000 Hz.
inline constexpr std::uint16_t kCaptureChannels = 2;
inline constexpr std::uint32_t kCaptureSampleRate = 48000;

[[nodiscard]] Status run_capture(const CaptureRequest& request, const CaptureRunContext& context);

}  // namespace quorle::host
