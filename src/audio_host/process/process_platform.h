#pragma once
// The operating-system operations that process identity, ancestry and the application list
// rely on. Each call returns its raw result or a raw error code; the messages, contexts and
// step order are the caller's. One real implementation per build (Windows or Linux) and a
// scripted fake for tests.
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <vector>

namespace quorle::host {

// A platform handle as an integer: a Windows HANDLE, a Linux file descriptor or a directory
// stream, or a fake's token. Only the implementation that produced it interprets it.
using RawHandle = std::uintptr_t;

// A failed platform call.
struct RawError {
    // The platform error code, in the form platform_error_text takes: an HRESULT on Windows
    // (last-error values already converted as HRESULT_FROM_WIN32 does), an errno value on
    // Linux.
    std::uint32_t code = 0;
    // The platform's own description of the failure when the system has no message for
    // `code` that says what went wrong (static text, e.g. an X display that cannot be
    // opened); null otherwise.
    const char* description = nullptr;

    RawError() = default;
    RawError(std::uint32_t error_code, const char* text = nullptr)  // NOLINT: implicit by design
        : code(error_code), description(text) {}
};

template <class T>
using RawResult = std::expected<T, RawError>;

// The platform error text of a failed call (see platform_error_text), using the platform's
// description when it supplied one.
[[nodiscard]] std::string raw_error_text(const RawError& error);

// "<context>: <raw_error_text(error)>"
[[nodiscard]] std::string raw_context_error(std::string_view context, const RawError& error);

// One entry of a process snapshot.
struct ProcessEntry {
    std::uint32_t pid = 0;
    std::uint32_t parent_pid = 0;
};

// Results of a zero-time-out wait on a process handle, as WaitForSingleObject reports them.
inline constexpr std::uint32_t kWaitSignalled = 0x00000000;  // WAIT_OBJECT_0: the process ended
inline constexpr std::uint32_t kWaitTimedOut = 0x00000102;   // WAIT_TIMEOUT: still running
inline constexpr std::uint32_t kWaitFailed = 0xFFFFFFFF;     // WAIT_FAILED

class ProcessPlatform {
  public:
    virtual ~ProcessPlatform() = default;

    // A snapshot of all processes (Toolhelp; /proc). Every handle returned here is passed to
    // close_snapshot exactly once.
    [[nodiscard]] virtual RawResult<RawHandle> create_process_snapshot() = 0;
    // The first entry of the snapshot, then the following ones; a failure of next_process
    // (also the normal end of the snapshot) ends the walk.
    [[nodiscard]] virtual RawResult<ProcessEntry> first_process(RawHandle snapshot) = 0;
    [[nodiscard]] virtual RawResult<ProcessEntry> next_process(RawHandle snapshot) = 0;
    virtual void close_snapshot(RawHandle snapshot) = 0;

    // Opens a process with the rights to query limited information and to wait on it, not
    // inheritable by child processes. Every handle returned here is passed to close_process
    // exactly once.
    [[nodiscard]] virtual RawResult<RawHandle> open_process(std::uint32_t pid) = 0;
    // The full path of the process's executable as UTF-16 units, exactly as many as the
    // system reports. `pid` is the id `process` was opened with.
    [[nodiscard]] virtual RawResult<std::u16string> process_image_name(RawHandle process,
                                                                       std::uint32_t pid) = 0;
    // The process's creation time in 100-ns ticks since 1601-01-01 00:00 UTC, identical for
    // every read during the life of the process.
    [[nodiscard]] virtual RawResult<std::uint64_t> process_creation_time(RawHandle process,
                                                                         std::uint32_t pid) = 0;
    // Waits on the process handle with a time-out of zero: kWaitTimedOut while the process
    // runs, kWaitSignalled once it has ended, kWaitFailed (or any other value) when the wait
    // itself fails.
    [[nodiscard]] virtual std::uint32_t wait_process(RawHandle process) = 0;
    // Closes a process handle; a failing close is ignored.
    virtual void close_process(RawHandle process) = 0;

    // The owning process id of each visible top-level window, one per window in any order
    // (so an id may repeat); 0 where the owner is unknown.
    [[nodiscard]] virtual RawResult<std::vector<std::uint32_t>> visible_window_pids() = 0;

    // The calling process's own id.
    [[nodiscard]] virtual std::uint32_t current_process_id() = 0;
};

// The real platform layer of this build (Windows or Linux).
[[nodiscard]] ProcessPlatform& system_process_platform();

}  // namespace quorle::host
