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

// The two run modes, supplied by the program (real platform) or by tests.
struct HostModes {
    std::function<Status()> list_applications;
    std::function<Status(const CaptureRequest&)> run_capture;
};

// Runs one invocation and returns the process exit status (0 or 1).
[[nodiscard]] int run_host(const std::vector<std::string>& arguments, const HostModes& modes,
                           OutputStream& err);

}  // namespace quorle::host
