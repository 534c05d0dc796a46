// The process operations on Linux: /proc for the snapshot, executables and start times,
// pidfds as waitable process handles, and X11 for the windows people can see.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "audio_host/process/linux/proc_stat.h"
#include "audio_host/process/linux/x11_windows.h"
#include "audio_host/process/process_platform.h"
#include "common/text.h"

namespace quorle::host {
namespace {

using linux_process::ProcStat;

RawError last_errno() {
    return RawError(static_cast<std::uint32_t>(errno));
}

// Reads a whole small file (the /proc files report no size, so read until the end).
RawResult<std::string> read_text_file(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::unexpected(last_errno());
    std::string text;
    char buffer[4096];
    while (true) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            const RawError error = last_errno();
            ::close(fd);
            return std::unexpected(error);
        }
        if (n == 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return text;
}

RawResult<ProcStat> read_proc_stat(std::uint32_t pid) {
    RawResult<std::string> text = read_text_file("/proc/" + std::to_string(pid) + "/stat");
    if (!text) return std::unexpected(text.error());
    const std::optional<ProcStat> stat = linux_process::parse_proc_stat(*text);
    if (!stat) return std::unexpected(RawError(EPROTO, "unexpected /proc/N/stat format"));
    return *stat;
}

DIR* as_dir(RawHandle snapshot) {
    return reinterpret_cast<DIR*>(snapshot);
}
int as_fd(RawHandle process) {
    return static_cast<int>(process);
}

class LinuxProcessPlatform final : public ProcessPlatform {
  public:
    RawResult<RawHandle> create_process_snapshot() override {
        DIR* dir = ::opendir("/proc");
        if (dir == nullptr) return std::unexpected(last_errno());
        return reinterpret_cast<RawHandle>(dir);
    }

    RawResult<ProcessEntry> first_process(RawHandle snapshot) override {
        return next_entry(snapshot);
    }

    RawResult<ProcessEntry> next_process(RawHandle snapshot) override {
        return next_entry(snapshot);
    }

    void close_snapshot(RawHandle snapshot) override { ::closedir(as_dir(snapshot)); }

    RawResult<RawHandle> open_process(std::uint32_t pid) override {
        // A pidfd is always close-on-exec, so no child process inherits it.
        const long fd = ::syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0U);
        if (fd < 0) return std::unexpected(last_errno());
        return static_cast<RawHandle>(fd);
    }

    RawResult<std::u16string> process_image_name(RawHandle, std::uint32_t pid) override {
        const std::string link = "/proc/" + std::to_string(pid) + "/exe";
        // readlink truncates silently: grow until the answer fits. Longer paths than Windows
        // allows (32768 units) are refused.
        for (std::size_t capacity = 4096; capacity <= 65536; capacity *= 2) {
            std::string path(capacity, '\0');
            const ssize_t n = ::readlink(link.c_str(), path.data(), path.size());
            if (n < 0) return std::unexpected(last_errno());
            if (static_cast<std::size_t>(n) < path.size()) {
                path.resize(static_cast<std::size_t>(n));
                std::u16string units = utf8_to_utf16z(bytes_to_utf8(path));
                units.pop_back();  // the terminating NUL
                return units;
            }
        }
        return std::unexpected(RawError(ENAMETOOLONG));
    }

    RawResult<std::uint64_t> process_creation_time(RawHandle, std::uint32_t pid) override {
        const RawResult<ProcStat> stat = read_proc_stat(pid);
        if (!stat) return std::unexpected(stat.error());
        const RawResult<std::string> system = read_text_file("/proc/stat");
        if (!system) return std::unexpected(system.error());
        const std::optional<std::uint64_t> boot = linux_process::parse_boot_time(*system);
        if (!boot) return std::unexpected(RawError(EPROTO, "no boot time in /proc/stat"));
        const long hz = ::sysconf(_SC_CLK_TCK);
        if (hz <= 0) return std::unexpected(RawError(EINVAL, "no clock tick rate"));
        const std::optional<std::uint64_t> created = linux_process::creation_time_since_1601(
            *boot, stat->start_ticks, static_cast<std::uint64_t>(hz));
        if (!created) return std::unexpected(RawError(EOVERFLOW));
        return *created;
    }

    std::uint32_t wait_process(RawHandle process) override {
        pollfd entry{as_fd(process), POLLIN, 0};
        while (true) {
            const int ready = ::poll(&entry, 1, 0);
            if (ready == 0) return kWaitTimedOut;
            if (ready > 0) return (entry.revents & POLLNVAL) != 0 ? kWaitFailed : kWaitSignalled;
            if (errno != EINTR) return kWaitFailed;
        }
    }

    void close_process(RawHandle process) override { ::close(as_fd(process)); }

    RawResult<std::vector<std::uint32_t>> visible_window_pids() override {
        return linux_process::x11_visible_window_pids();
    }

    std::uint32_t current_process_id() override { return static_cast<std::uint32_t>(::getpid()); }

  private:
    // The next directory of /proc that names a process whose stat can be read. Processes
    // that end during the walk are skipped: that is normal, not a failure.
    static RawResult<ProcessEntry> next_entry(RawHandle snapshot) {
        while (true) {
            errno = 0;
            const dirent* item = ::readdir(as_dir(snapshot));
            if (item == nullptr) {
                if (errno != 0) return std::unexpected(last_errno());
                return std::unexpected(RawError(ESRCH));  // no more processes
            }
            const std::optional<std::uint32_t> pid = linux_process::parse_pid_name(item->d_name);
            if (!pid) continue;
            const RawResult<ProcStat> stat = read_proc_stat(*pid);
            if (!stat) continue;
            return ProcessEntry{*pid, stat->parent_pid};
        }
    }
};

}  // namespace

ProcessPlatform& system_process_platform() {
    static LinuxProcessPlatform platform;
    return platform;
}

}  // namespace quorle::host
