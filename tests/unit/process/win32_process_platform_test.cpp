// The real Windows layer against real processes: this test program and a suspended child
// it starts. Visible windows are tested by the whole-binary list test under a display.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <new>
#include <string>
#include <vector>

#include "audio_host/process/ancestry.h"
#include "audio_host/process/process_identity.h"
#include "audio_host/process/process_map.h"
#include "audio_host/process/win32/visible_windows_win32.h"
#include "common/platform_error.h"
#include "common/text.h"

namespace quorle::host {
namespace {

std::string own_exe() {
    std::wstring path(32768, L'\0');
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    return utf16_to_utf8(std::u16string_view(reinterpret_cast<const char16_t*>(path.data()), n));
}

TEST(Win32ProcessPlatform, SnapshotAndIdentityOfThisProcess) {
    ProcessPlatform& platform = system_process_platform();
    const std::uint32_t own = platform.current_process_id();
    EXPECT_EQ(own, GetCurrentProcessId());
    const Result<ProcessMap> map = snapshot_process_map(platform);
    ASSERT_TRUE(map) << map.error();
    ASSERT_TRUE(map->contains(own));

    const Result<ProcessIdentity> first = read_process_identity(platform, own);
    ASSERT_TRUE(first) << first.error();
    const Result<ProcessIdentity> second = read_process_identity(platform, own);
    ASSERT_TRUE(second) << second.error();
    EXPECT_TRUE(equals_ignore_ascii_case(first->exe, own_exe())) << first->exe;
    EXPECT_EQ(first->creation_time, second->creation_time);
    EXPECT_TRUE(is_running(platform, *first));

    CaptureRequest request;
    request.target = ProcessTarget{own};
    request.excluded_pid = map->at(own);
    request.expected_exe = first->exe;
    request.expected_start = first->creation_time;
    EXPECT_TRUE(identity_matches(*second, request));
}

TEST(Win32ProcessPlatform, EndedChildIsNotRunning) {
    std::wstring command = L"cmd.exe /c exit 0";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child{};
    ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE,
                               CREATE_SUSPENDED | CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                               &child));
    ProcessPlatform& platform = system_process_platform();
    const Result<ProcessIdentity> identity = read_process_identity(platform, child.dwProcessId);
    ASSERT_TRUE(identity) << identity.error();
    EXPECT_TRUE(is_running(platform, *identity));
    TerminateProcess(child.hProcess, 0);
    EXPECT_EQ(WaitForSingleObject(child.hProcess, 10000), WAIT_OBJECT_0);
    EXPECT_FALSE(is_running(platform, *identity));
    EXPECT_EQ(platform.wait_process(identity->handle.raw()), kWaitSignalled);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
}

TEST(Win32ProcessPlatform, MissingProcessCannotBeOpened) {
    // Far above every process id the system hands out.
    const Result<ProcessIdentity> identity =
        read_process_identity(system_process_platform(), 0xFFFFFFF3u);
    ASSERT_FALSE(identity);
    EXPECT_EQ(identity.error(), "open process: " + platform_error_text(0x80070057));
}

// A visible top-level window of this test program, destroyed with the object.
class OwnVisibleWindow {
  public:
    OwnVisibleWindow() {
        WNDCLASSW window_class{};
        window_class.lpfnWndProc = DefWindowProcW;
        window_class.hInstance = GetModuleHandleW(nullptr);
        window_class.lpszClassName = L"QuorleEnumWindowsTest";
        RegisterClassW(&window_class);
        window_ = CreateWindowExW(0, L"QuorleEnumWindowsTest", L"quorle",
                                  WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 100, 100, nullptr,
                                  nullptr, GetModuleHandleW(nullptr), nullptr);
    }
    ~OwnVisibleWindow() {
        if (window_ != nullptr) DestroyWindow(window_);
    }
    OwnVisibleWindow(const OwnVisibleWindow&) = delete;
    OwnVisibleWindow& operator=(const OwnVisibleWindow&) = delete;
    [[nodiscard]] HWND get() const { return window_; }

  private:
    HWND window_ = nullptr;
};

// Collects pids, or runs out of memory at the first one.
class TestCollector final : public VisibleWindowCollector {
  public:
    explicit TestCollector(bool out_of_memory) : out_of_memory_(out_of_memory) {}
    void add(std::uint32_t pid) override {
        ++calls;
        if (out_of_memory_) throw std::bad_alloc();
        pids.push_back(pid);
    }
    int calls = 0;
    std::vector<std::uint32_t> pids;

  private:
    bool out_of_memory_;
};

TEST(Win32VisibleWindows, AllocationFailureEndsTheEnumerationWithOutOfMemory) {
    const OwnVisibleWindow window;
    ASSERT_NE(window.get(), nullptr) << GetLastError();
    ASSERT_TRUE(IsWindowVisible(window.get()));

    TestCollector all(false);
    ASSERT_TRUE(EnumWindows(collect_visible_window,
                            reinterpret_cast<LPARAM>(static_cast<VisibleWindowCollector*>(&all))));
    EXPECT_NE(std::find(all.pids.begin(), all.pids.end(), GetCurrentProcessId()), all.pids.end());

    TestCollector failing(true);
    SetLastError(0);
    EXPECT_FALSE(
        EnumWindows(collect_visible_window,
                    reinterpret_cast<LPARAM>(static_cast<VisibleWindowCollector*>(&failing))));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OUTOFMEMORY));
    EXPECT_EQ(failing.calls, 1);  // the enumeration ended at the failure
}

}  // namespace
}  // namespace quorle::host
