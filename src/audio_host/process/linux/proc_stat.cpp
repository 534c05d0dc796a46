#include "audio_host/process/linux/proc_stat.h"

#include <charconv>

namespace quorle::host::linux_process {
namespace {

// A whole token of decimal digits that fits T; nothing else is accepted.
template <class T>
std::optional<T> parse_decimal(std::string_view token) {
    if (token.empty()) return std::nullopt;
    for (const char c : token) {
        if (c < '0' || c > '9') return std::nullopt;
    }
    T value = 0;
    const auto [end, ec] = std::from_chars(token.data(), token.data() + token.size(), value);
    if (ec != std::errc() || end != token.data() + token.size()) return std::nullopt;
    return value;
}

}  // namespace

std::optional<ProcStat> parse_proc_stat(std::string_view text) {
    // "pid (comm) state ppid pgrp session tty_nr tpgid flags minflt cminflt majflt cmajflt
    //  utime stime cutime cstime priority nice num_threads itrealvalue starttime ..."
    const std::size_t open = text.find(" (");
    if (open == std::string_view::npos || !parse_decimal<std::uint32_t>(text.substr(0, open))) {
        return std::nullopt;
    }
    const std::size_t close = text.rfind(')');
    if (close == std::string_view::npos || close <= open + 1) return std::nullopt;

    // Fields after the command name, each preceded by one space: index 0 is field 3.
    constexpr std::size_t kParentIndex = 1;  // field 4
    constexpr std::size_t kStartIndex = 19;  // field 22
    std::string_view rest = text.substr(close + 1);
    ProcStat stat;
    for (std::size_t index = 0; index <= kStartIndex; ++index) {
        if (rest.empty() || rest.front() != ' ') return std::nullopt;
        rest.remove_prefix(1);
        const std::size_t end = rest.find_first_of(" \n");
        const std::string_view token = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end);
        if (index == kParentIndex) {
            const auto parent = parse_decimal<std::uint32_t>(token);
            if (!parent) return std::nullopt;
            stat.parent_pid = *parent;
        } else if (index == kStartIndex) {
            const auto start = parse_decimal<std::uint64_t>(token);
            if (!start) return std::nullopt;
            stat.start_ticks = *start;
        }
    }
    return stat;
}

std::optional<std::uint64_t> parse_boot_time(std::string_view text) {
    constexpr std::string_view kKey = "btime ";
    std::size_t line = 0;
    while (line < text.size()) {
        std::size_t end = text.find('\n', line);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view row = text.substr(line, end - line);
        if (row.starts_with(kKey)) return parse_decimal<std::uint64_t>(row.substr(kKey.size()));
        line = end + 1;
    }
    return std::nullopt;
}

std::optional<std::uint64_t> creation_time_since_1601(std::uint64_t boot_seconds,
                                                      std::uint64_t start_ticks,
                                                      std::uint64_t ticks_per_second) {
    constexpr std::uint64_t kTicksPerSecond1601 = 10'000'000;  // 100-ns units
    constexpr std::uint64_t kSeconds1601To1970 = 11'644'473'600;
    if (ticks_per_second == 0) return std::nullopt;

    // Whole seconds and the remaining fraction separately, so that no product overflows for
    // any realistic clock rate and the fraction is rounded down exactly once.
    std::uint64_t fraction = 0;
    if (__builtin_mul_overflow(start_ticks % ticks_per_second, kTicksPerSecond1601, &fraction)) {
        return std::nullopt;
    }
    fraction /= ticks_per_second;
    std::uint64_t seconds = 0;
    std::uint64_t whole = 0;
    std::uint64_t result = 0;
    if (__builtin_add_overflow(boot_seconds, kSeconds1601To1970, &seconds) ||
        __builtin_add_overflow(seconds, start_ticks / ticks_per_second, &seconds) ||
        __builtin_mul_overflow(seconds, kTicksPerSecond1601, &whole) ||
        __builtin_add_overflow(whole, fraction, &result)) {
        return std::nullopt;
    }
    return result;
}

std::optional<std::uint32_t> parse_pid_name(std::string_view name) {
    if (name.empty() || name.front() == '0') return std::nullopt;
    return parse_decimal<std::uint32_t>(name);
}

}  // namespace quorle::host::linux_process
