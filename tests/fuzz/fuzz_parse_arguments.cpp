// Random argument vectors through the command-line parser: it never crashes, and every
// result is a request or one of the parser's nine messages.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "audio_host/cli/arguments.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Arguments are separated by NUL bytes; a leading byte picks how many flags to favour.
    std::vector<std::string> args;
    std::string current;
    for (std::size_t i = 0; i < size; ++i) {
        const char c = static_cast<char>(data[i]);
        if (c == '\0') {
            args.push_back(current);
            current.clear();
        } else if (c == '\x01') {
            current += "--target";
        } else if (c == '\x02') {
            current += "--exclude-pids";
        } else if (c == '\x03') {
            current += "--expected-exe";
        } else if (c == '\x04') {
            current += "--expected-start";
        } else if (c == '\x05') {
            current += "pid:";
        } else {
            current.push_back(c);
        }
    }
    if (!current.empty()) args.push_back(current);

    static const std::set<std::string> kMessages = {
        "arguments must be flag/value pairs",
        "unknown or duplicate argument",
        "one excluded parent PID is required",
        "exactly one positive excluded PID is required",
        "target is required",
        "target must be system or pid:N",
        "process identity is not valid for system capture",
        "expected executable is required",
        "expected process creation time is required",
    };
    const auto result = quorle::host::parse_arguments(args);
    if (!result) {
        if (kMessages.count(result.error()) == 0) __builtin_trap();
        return 0;
    }
    if (const auto* capture = std::get_if<quorle::host::CaptureRequest>(&*result)) {
        if (capture->excluded_pid == 0) __builtin_trap();
        const bool process = std::holds_alternative<quorle::host::ProcessTarget>(capture->target);
        if (process != capture->expected_exe.has_value()) __builtin_trap();
        if (process != capture->expected_start.has_value()) __builtin_trap();
        if (process) {
            if (std::get<quorle::host::ProcessTarget>(capture->target).pid == 0) __builtin_trap();
            if (capture->expected_exe->empty() || *capture->expected_start == 0) __builtin_trap();
        }
    } else if (args.size() != 1 || args[0] != "--list") {
        __builtin_trap();
    }
    return 0;
}
