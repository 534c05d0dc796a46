#pragma once
// The audio host's command line: "--list", or flag/value pairs naming a capture target,
// the translator's process id and, for one application, its expected identity.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "common/result.h"

namespace quorle::host {

// Everything the machine plays except the translator's process tree.
struct SystemTarget {
    friend bool operator==(const SystemTarget&, const SystemTarget&) = default;
};

// One application's process tree.
struct ProcessTarget {
    std::uint32_t pid = 0;  // never 0
    friend bool operator==(const ProcessTarget&, const ProcessTarget&) = default;
};

using CaptureTarget = std::variant<SystemTarget, ProcessTarget>;

struct CaptureRequest {
    CaptureTarget target;
    std::uint32_t excluded_pid = 0;  // the translator, the host's parent; never 0
    // Present only with a ProcessTarget: the identity the translator saw in the list.
    std::optional<std::string> expected_exe;      // never empty
    std::optional<std::uint64_t> expected_start;  // 100-ns ticks since 1601; never 0
    friend bool operator==(const CaptureRequest&, const CaptureRequest&) = default;
};

struct ListApplications {
    friend bool operator==(const ListApplications&, const ListApplications&) = default;
};

using RunRequest = std::variant<ListApplications, CaptureRequest>;

// Turns the arguments (without the program name, UTF-8) into a request or one message.
[[nodiscard]] Result<RunRequest> parse_arguments(const std::vector<std::string>& arguments);

// Decimal number syntax of the command line: one or more ASCII digits after an optional
// single "+", leading zeros allowed, overflow of the field an error. 0 is accepted here.
[[nodiscard]] std::optional<std::uint32_t> parse_u32(std::string_view text);
[[nodiscard]] std::optional<std::uint64_t> parse_u64(std::string_view text);

}  // namespace quorle::host
