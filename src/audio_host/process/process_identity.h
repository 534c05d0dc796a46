#pragma once
// A process named safely: its executable path, its creation time and an open handle that
// can be waited on. The process id is kept by the caller.
#include <cstdint>
#include <string>

#include "audio_host/cli/arguments.h"
#include "audio_host/process/process_handle.h"
#include "audio_host/process/process_platform.h"
#include "common/result.h"

namespace quorle::host {

struct ProcessIdentity {
    std::string exe;                  // full executable path, UTF-8 (U+FFFD for bad units)
    ProcessHandle handle;             // waitable; closed when the identity is released
    std::uint64_t creation_time = 0;  // 100-ns ticks since 1601-01-01 00:00 UTC
};

// Opens the process and reads its identity. Failures: "open process: <text>",
// "process executable: <text>", "process identity: <text>"; every failure closes what was
// opened.
[[nodiscard]] Result<ProcessIdentity> read_process_identity(ProcessPlatform& platform,
                                                            std::uint32_t pid);

// True only while a zero-time-out wait on the identity's handle times out; a signalled
// handle or a failed wait both mean the process is gone.
[[nodiscard]] bool is_running(ProcessPlatform& platform, const ProcessIdentity& identity);

// True when `exe` equals the request's expected executable with only A-Z folded to a-z, and
// the creation time equals the expected start exactly. False for a request without an
// expected identity.
[[nodiscard]] bool identity_matches(const ProcessIdentity& identity, const CaptureRequest& request);

}  // namespace quorle::host
