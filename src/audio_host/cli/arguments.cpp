#include "audio_host/cli/arguments.h"

#include <array>
#include <limits>

namespace quorle::host {
namespace {

constexpr std::string_view kPairs = "arguments must be flag/value pairs";
constexpr std::string_view kUnknownOrDuplicate = "unknown or duplicate argument";
constexpr std::string_view kExcludeMissing = "one excluded parent PID is required";
constexpr std::string_view kExcludeInvalid = "exactly one positive excluded PID is required";
constexpr std::string_view kTargetMissing = "target is required";
constexpr std::string_view kTargetInvalid = "target must be system or pid:N";
constexpr std::string_view kIdentityForSystem = "process identity is not valid for system capture";
constexpr std::string_view kExeMissing = "expected executable is required";
constexpr std::string_view kStartMissing = "expected process creation time is required";

enum Flag : std::size_t { kTarget, kExclude, kExe, kStart, kFlagCount };
constexpr std::array<std::string_view, kFlagCount> kFlagNames = {
    "--target", "--exclude-pids", "--expected-exe", "--expected-start"};

std::optional<std::uint64_t> parse_number(std::string_view text, std::uint64_t max) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (max - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

}  // namespace

std::optional<std::uint32_t> parse_u32(std::string_view text) {
    const auto value = parse_number(text, std::numeric_limits<std::uint32_t>::max());
    if (!value) return std::nullopt;
    return static_cast<std::uint32_t>(*value);
}

std::optional<std::uint64_t> parse_u64(std::string_view text) {
    return parse_number(text, std::numeric_limits<std::uint64_t>::max());
}

Result<RunRequest> parse_arguments(const std::vector<std::string>& arguments) {
    if (arguments.size() == 1) {
        if (arguments[0] == "--list") return RunRequest{ListApplications{}};
        return fail(std::string(kPairs));
    }
    if (arguments.size() % 2 != 0) return fail(std::string(kPairs));

    std::array<std::optional<std::string_view>, kFlagCount> values;
    for (std::size_t i = 0; i < arguments.size(); i += 2) {
        std::size_t flag = kFlagCount;
        for (std::size_t f = 0; f < kFlagCount; ++f) {
            if (arguments[i] == kFlagNames[f]) flag = f;
        }
        if (flag == kFlagCount || values[flag]) return fail(std::string(kUnknownOrDuplicate));
        values[flag] = arguments[i + 1];
    }

    if (!values[kExclude]) return fail(std::string(kExcludeMissing));
    const auto excluded = parse_u32(*values[kExclude]);
    if (!excluded || *excluded == 0) return fail(std::string(kExcludeInvalid));

    if (!values[kTarget]) return fail(std::string(kTargetMissing));
    const std::string_view target = *values[kTarget];

    if (target == "system") {
        if (values[kExe] || values[kStart]) return fail(std::string(kIdentityForSystem));
        return RunRequest{CaptureRequest{SystemTarget{}, *excluded, std::nullopt, std::nullopt}};
    }

    constexpr std::string_view kPidPrefix = "pid:";
    if (target.starts_with(kPidPrefix)) {
        const auto pid = parse_u32(target.substr(kPidPrefix.size()));
        if (!pid || *pid == 0) return fail(std::string(kTargetInvalid));
        if (!values[kExe] || values[kExe]->empty()) return fail(std::string(kExeMissing));
        if (!values[kStart]) return fail(std::string(kStartMissing));
        const auto start = parse_u64(*values[kStart]);
        if (!start || *start == 0) return fail(std::string(kStartMissing));
        return RunRequest{
            CaptureRequest{ProcessTarget{*pid}, *excluded, std::string(*values[kExe]), *start}};
    }

    return fail(std::string(kTargetInvalid));
}

}  // namespace quorle::host
