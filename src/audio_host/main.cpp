// quorle_audio_host: captures what other programs play and streams it as mono s16le PCM at
// 48 kHz on standard output; "--list" prints the applications with visible windows.
#include "audio/capture/capture_worker.h"
#include "audio_host/capture_run/capture_run.h"
#include "audio_host/cli/host_entry.h"
#include "audio_host/process/application_list.h"
#include "common/process_env.h"
#include "common/std_streams.h"

int main(int argc, char** argv) {
    quorle::init_standard_streams();
    quorle::host::HostModes modes;
    modes.list_applications = []() -> quorle::Status {
        return quorle::host::list_applications(quorle::host::system_process_platform(),
                                               quorle::standard_output());
    };
    modes.run_capture = [](const quorle::host::CaptureRequest& request) -> quorle::Status {
        const quorle::host::CaptureRunContext context{quorle::host::system_process_platform(),
                                                      quorle::host::system_capture_platform(),
                                                      quorle::host::process_console_stop(),
                                                      quorle::host::system_timed_wait(),
                                                      quorle::standard_error(),
                                                      {}};
        return quorle::host::run_capture(request, context);
    };
    // A stop that gave up on the capture worker leaves it running, possibly inside a write of
    // a standard stream: the process then ends without destroying those streams.
    modes.worker_abandoned = [] { return quorle::capture::worker_abandoned(); };
    modes.end_process = [](int status) { quorle::end_process_now(status); };
    return quorle::host::run_host(quorle::command_line_arguments(argc, argv), modes,
                                  quorle::standard_error());
}
