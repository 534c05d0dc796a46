#pragma once
// Readers of the Linux /proc texts that give a process its parent and its creation time.
// Pure text functions, so that they can be tested and fuzzed on any input.
#include <cstdint>
#include <optional>
#include <string_view>

namespace quorle::host::linux_process {

// What the process list needs from /proc/N/stat.
struct ProcStat {
    std::uint32_t parent_pid = 0;   // field 4
    std::uint64_t start_ticks = 0;  // field 22: start time after boot, in clock ticks
};

// Reads /proc/N/stat. The command name (field 2) is in parentheses and may itself hold
// spaces and parentheses, so the fields are counted from the last ")". Empty when the text
// is not in that form.
[[nodiscard]] std::optional<ProcStat> parse_proc_stat(std::string_view text);

// The "btime" line of /proc/stat: the boot time in seconds since 1970-01-01 00:00 UTC.
[[nodiscard]] std::optional<std::uint64_t> parse_boot_time(std::string_view text);

// A process's creation time in 100-ns ticks since 1601-01-01 00:00 UTC, from the boot time
// (seconds since 1970) and the start time in clock ticks. Empty on overflow or when
// `ticks_per_second` is 0.
[[nodiscard]] std::optional<std::uint64_t> creation_time_since_1601(std::uint64_t boot_seconds,
                                                                    std::uint64_t start_ticks,
                                                                    std::uint64_t ticks_per_second);

// A directory name of /proc that names a process: decimal digits only, no leading zero,
// a value that fits 32 bits and is not 0.
[[nodiscard]] std::optional<std::uint32_t> parse_pid_name(std::string_view name);

}  // namespace quorle::host::linux_process
