// Reads a process's identity the way a capture does and compares it with an expected
// executable and start time, as the translator passes them back from the list.
//   identity_check PID EXE START   -> "match" (exit 0) or "mismatch ..." (exit 1)
#include <cstdio>
#include <string>

#include "audio_host/cli/arguments.h"
#include "audio_host/process/process_identity.h"
#include "common/process_env.h"
#include "common/std_streams.h"

int main(int argc, char** argv) {
    quorle::init_standard_streams();
    const std::vector<std::string> args = quorle::command_line_arguments(argc, argv);
    quorle::OutputStream& out = quorle::standard_output();
    if (args.size() != 3) {
        (void)out.write("usage: identity_check PID EXE START\n");
        return 2;
    }
    const std::optional<std::uint32_t> pid = quorle::host::parse_u32(args[0]);
    const std::optional<std::uint64_t> start = quorle::host::parse_u64(args[2]);
    if (!pid || !start) {
        (void)out.write("bad PID or START\n");
        return 2;
    }
    quorle::host::ProcessPlatform& platform = quorle::host::system_process_platform();
    const quorle::Result<quorle::host::ProcessIdentity> identity =
        quorle::host::read_process_identity(platform, *pid);
    if (!identity) {
        (void)out.write("error " + identity.error() + "\n");
        return 1;
    }
    quorle::host::CaptureRequest request;
    request.target = quorle::host::ProcessTarget{*pid};
    request.excluded_pid = 1;
    request.expected_exe = args[1];
    request.expected_start = *start;
    if (quorle::host::identity_matches(*identity, request)) {
        (void)out.write("match\n");
        return 0;
    }
    (void)out.write("mismatch exe=" + identity->exe +
                    " start=" + std::to_string(identity->creation_time) + "\n");
    return 1;
}
