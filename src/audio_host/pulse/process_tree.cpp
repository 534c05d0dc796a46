#include "audio_host/pulse/process_tree.h"

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <charconv>
#include <string>

namespace quorle::pulse {

namespace {

constexpr int kMaxGenerations = 4096;

std::optional<std::uint32_t> parse_decimal(std::string_view text) {
    if (text.empty()) return std::nullopt;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
    }
    std::uint32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

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

std::optional<std::uint32_t> parse_process_id(std::string_view text) {
    const std::optional<std::uint32_t> value = parse_decimal(text);
    if (!value || *value == 0) return std::nullopt;
    return value;
}

std::optional<std::uint32_t> parse_stat_parent(std::string_view stat) {
    const std::size_t close = stat.rfind(')');
    if (close == std::string_view::npos) return std::nullopt;
    // After the command name: " S PPID ..." (one state letter, then the parent).
    std::string_view rest = stat.substr(close + 1);
    if (rest.size() < 4 || rest[0] != ' ' || rest[2] != ' ') return std::nullopt;
    rest.remove_prefix(3);
    const std::size_t end = rest.find(' ');
    return parse_decimal(rest.substr(0, end));
}

std::optional<std::uint32_t> ProcLookup::parent_of(std::uint32_t pid) const {
    if (pid == 0) return std::nullopt;
    const std::string path = "/proc/" + std::to_string(pid) + "/stat";
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    // The command name is at most 64 bytes; the fields up to the parent fit easily.
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
    return parse_stat_parent(std::string_view(buffer, size));
}

}  // namespace quorle::pulse
