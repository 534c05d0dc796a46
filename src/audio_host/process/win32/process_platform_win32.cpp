// The process operations on Windows: Toolhelp snapshots, process handles opened for limited
// queries and waiting, and the visible top-level windows.
#include <windows.h>
// After windows.h, whose types it uses.
#include <tlhelp32.h>

#include <new>
#include <utility>
#include <vector>

#include "audio_host/process/process_platform.h"
#include "audio_host/process/win32/visible_windows_win32.h"
#include "common/platform_error.h"

namespace quorle::host {
namespace {

// Windows lays this structure out identically on x64 and ARM64; the first-entry call
// relies on dwSize naming exactly it.
constexpr DWORD kProcessEntrySize = 568;
static_assert(sizeof(PROCESSENTRY32W) == kProcessEntrySize);

// PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE
constexpr DWORD kProcessAccess = 0x00101000;
static_assert((PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE) == kProcessAccess);

static_assert(WAIT_OBJECT_0 == kWaitSignalled && WAIT_TIMEOUT == kWaitTimedOut &&
              WAIT_FAILED == kWaitFailed);

// The longest path QueryFullProcessImageNameW can return, in UTF-16 units.
constexpr DWORD kImageNameCapacity = 32768;

RawError last_error() {
    return RawError(hresult_from_win32(GetLastError()));
}

HANDLE as_handle(RawHandle handle) {
    return reinterpret_cast<HANDLE>(handle);
}
RawHandle as_raw(HANDLE handle) {
    return reinterpret_cast<RawHandle>(handle);
}
bool is_invalid(HANDLE handle) {
    return handle == nullptr || handle == INVALID_HANDLE_VALUE;
}

ProcessEntry entry_of(const PROCESSENTRY32W& entry) {
    return ProcessEntry{static_cast<std::uint32_t>(entry.th32ProcessID),
                        static_cast<std::uint32_t>(entry.th32ParentProcessID)};
}

}  // namespace

BOOL add_window_owner(VisibleWindowCollector& collector, std::uint32_t pid) noexcept {
    // No exception may unwind through user32: a full memory ends the enumeration with the
    // error that EnumWindows then reports.
    try {
        collector.add(pid);
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_OUTOFMEMORY);
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK collect_visible_window(HWND window, LPARAM context) noexcept {
    auto& collector = *reinterpret_cast<VisibleWindowCollector*>(context);
    if (!IsWindowVisible(window)) return TRUE;
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    return add_window_owner(collector, static_cast<std::uint32_t>(pid));
}

namespace {

// The production collector: every pid into one vector.
class PidList final : public VisibleWindowCollector {
  public:
    void add(std::uint32_t pid) override { pids.push_back(pid); }
    std::vector<std::uint32_t> pids;
};

class Win32ProcessPlatform final : public ProcessPlatform {
  public:
    RawResult<RawHandle> create_process_snapshot() override {
        const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        if (is_invalid(snapshot)) return std::unexpected(last_error());
        return as_raw(snapshot);
    }

    RawResult<ProcessEntry> first_process(RawHandle snapshot) override {
        PROCESSENTRY32W entry{};
        entry.dwSize = kProcessEntrySize;
        if (!Process32FirstW(as_handle(snapshot), &entry)) return std::unexpected(last_error());
        return entry_of(entry);
    }

    RawResult<ProcessEntry> next_process(RawHandle snapshot) override {
        PROCESSENTRY32W entry{};
        entry.dwSize = kProcessEntrySize;
        if (!Process32NextW(as_handle(snapshot), &entry)) return std::unexpected(last_error());
        return entry_of(entry);
    }

    void close_snapshot(RawHandle snapshot) override { CloseHandle(as_handle(snapshot)); }

    RawResult<RawHandle> open_process(std::uint32_t pid) override {
        const HANDLE process = OpenProcess(kProcessAccess, FALSE, static_cast<DWORD>(pid));
        if (is_invalid(process)) return std::unexpected(last_error());
        return as_raw(process);
    }

    RawResult<std::u16string> process_image_name(RawHandle process, std::uint32_t) override {
        std::vector<wchar_t> buffer(kImageNameCapacity);
        DWORD size = kImageNameCapacity;
        if (!QueryFullProcessImageNameW(as_handle(process), 0, buffer.data(), &size)) {
            return std::unexpected(last_error());
        }
        if (size > kImageNameCapacity) size = kImageNameCapacity;
        return std::u16string(reinterpret_cast<const char16_t*>(buffer.data()), size);
    }

    RawResult<std::uint64_t> process_creation_time(RawHandle process, std::uint32_t) override {
        FILETIME created{};
        FILETIME exited{};
        FILETIME kernel{};
        FILETIME user{};
        if (!GetProcessTimes(as_handle(process), &created, &exited, &kernel, &user)) {
            return std::unexpected(last_error());
        }
        return (static_cast<std::uint64_t>(created.dwHighDateTime) << 32) |
               static_cast<std::uint64_t>(created.dwLowDateTime);
    }

    std::uint32_t wait_process(RawHandle process) override {
        return static_cast<std::uint32_t>(WaitForSingleObject(as_handle(process), 0));
    }

    void close_process(RawHandle process) override { CloseHandle(as_handle(process)); }

    RawResult<std::vector<std::uint32_t>> visible_window_pids() override {
        PidList list;
        VisibleWindowCollector* collector = &list;
        if (!EnumWindows(collect_visible_window, reinterpret_cast<LPARAM>(collector))) {
            return std::unexpected(last_error());
        }
        return std::move(list.pids);
    }

    std::uint32_t current_process_id() override {
        return static_cast<std::uint32_t>(GetCurrentProcessId());
    }
};

}  // namespace

ProcessPlatform& system_process_platform() {
    static Win32ProcessPlatform platform;
    return platform;
}

}  // namespace quorle::host
