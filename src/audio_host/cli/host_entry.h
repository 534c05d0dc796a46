#pragma once
// The audio host's program entry, free of platform calls: parse, run the list or the
// capture, and turn any failure into the error line and exit status 1.
#include <functional>
#include <string>
#include <vector>

#include "audio_host/cli/arguments.h"
#include "common/result.h"
#include "common/std_streams.h"

namespace quorle::host {

// The two run modes, supplied by the program (real platform) or by tests, and the end of a
// process whose capture stop gave up on its worker thread.
struct HostModes {
    std::function<Status()> list_applications;
    std::function<Status(const CaptureRequest&)> run_capture;
    // Whether the run left a worker thread behind (empty: never).
    std::function<bool()> worker_abandoned;
    // Ends the process with a status without static destructors (the real one never returns).
    std::function<void(int)> end_process;
};

// Runs one invocation and returns the process exit status (0 or 1). When the run left a
// worker behind, which may still be inside a write of a standard stream, the error line is
// written only if standard error is free (otherwise it is lost and the status still reports
// the failure), and the process then ends through end_process with the same status.
[[nodiscard]] int run_host(const std::vector<std::string>& arguments, const HostModes& modes,
                           OutputStream& err);

}  // namespace quorle::host
