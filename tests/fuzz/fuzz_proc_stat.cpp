// Fuzzes the /proc/N/stat and /proc/stat readers. The first byte picks the check:
// even: the input is a whole stat text and the readers must not misbehave on it;
// odd: the rest is a command name (any bytes: spaces, parentheses, numbers) placed into an
// otherwise valid stat line, whose parent and start time must still be read exactly.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "audio_host/process/linux/proc_stat.h"

using quorle::host::linux_process::parse_boot_time;
using quorle::host::linux_process::parse_pid_name;
using quorle::host::linux_process::parse_proc_stat;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);
    if (data[0] % 2 == 0) {
        (void)parse_proc_stat(input);
        (void)parse_boot_time(input);
        (void)parse_pid_name(input);
        return 0;
    }
    const std::string line = "4242 (" + std::string(input) +
                             ") R 31337 1 1 0 -1 4194304 0 0 0 0 0 0 0 0 20 0 1 0 "
                             "987654321 0 0 18446744073709551615 0 0 0 0 0 0 0 0 0 0 0 0 17 0\n";
    const auto stat = parse_proc_stat(line);
    if (!stat || stat->parent_pid != 31337 || stat->start_ticks != 987654321) std::abort();
    return 0;
}
