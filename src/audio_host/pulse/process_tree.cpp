#include "audio_host/pulse/process_tree.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "audio_host/process/linux/proc_stat.h"

namespace quorle::pulse {

namespace {

constexpr int kMaxGenerations = 4096;

}  // namespace

bool in_process_tree(const ProcessLookup& processes, std::uint32_t pid, std::uint32_t root) {
    std::uint32_t current = pid;
    for (int generation = 0; generation < kMaxGenerations; ++generation) {
        if (current == root) return true;
        const std::optional<std::uint32_t> parent = processes.parent_of(current);
        if (!parent || *parent == 0 || *parent == current) return false;
        current = *parent;
    }
    return false;
}

bool captures_stream(const ProcessLookup& processes, LoopbackTarget target,
                     std::optional<std::uint32_t> stream_pid) {
    // Confirmed: the named process exists now.
    const bool confirmed = stream_pid && processes.parent_of(*stream_pid).has_value();
    const bool inside = confirmed && in_process_tree(processes, *stream_pid, target.pid);
    return target.mode == LoopbackMode::IncludeTargetTree ? inside : !inside;
}

std::optional<std::uint32_t> stream_process(const StreamOwner& owner,
                                            std::optional<std::uint32_t> relay_pid) {
    if (owner.client_sec_pid && owner.client_sec_pid != relay_pid) return owner.client_sec_pid;
    if (owner.stream_process_id) return owner.stream_process_id;
    return owner.client_process_id;
}

std::optional<std::uint32_t> parse_process_id(std::string_view text) {
    return host::linux_process::parse_pid_name(text);
}

std::optional<std::uint32_t> ProcLookup::parent_of(std::uint32_t pid) const {
    if (pid == 0) return std::nullopt;
    const std::string path = "/proc/" + std::to_string(pid) + "/stat";
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    // The command name is at most 16 bytes; the fields up to the start time fit easily.
    char buffer[512];
    std::size_t size = 0;
    while (size < sizeof buffer) {
        const ssize_t n = ::read(fd, buffer + size, sizeof buffer - size);
        if (n < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (n == 0) break;
        size += static_cast<std::size_t>(n);
    }
    ::close(fd);
    const auto stat = host::linux_process::parse_proc_stat(std::string_view(buffer, size));
    if (!stat) return std::nullopt;
    return stat->parent_pid;
}

}  // namespace quorle::pulse
