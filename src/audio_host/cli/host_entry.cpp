#include "audio_host/cli/host_entry.h"

#include "audio_host/cli/output_protocol.h"

namespace quorle::host {

int run_host(const std::vector<std::string>& arguments, const HostModes& modes, OutputStream& err) {
    const Result<RunRequest> request = parse_arguments(arguments);
    Status outcome;
    if (!request) {
        outcome = fail(request.error());
    } else if (std::holds_alternative<ListApplications>(*request)) {
        outcome = modes.list_applications();
    } else {
        outcome = modes.run_capture(std::get<CaptureRequest>(*request));
    }
    const bool abandoned = modes.worker_abandoned && modes.worker_abandoned();
    int status = 0;
    if (!outcome) {
        status = 1;
        // Standard error may be gone as well; the exit status still reports the failure.
        if (abandoned) {
            (void)err.write_if_free(error_line(outcome.error()));
        } else {
            (void)write_error_line(err, outcome.error());
        }
    }
    if (abandoned && modes.end_process) modes.end_process(status);
    return status;
}

}  // namespace quorle::host
