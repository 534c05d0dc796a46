// The real Windows layer against real processes: this test program and a suspended child
// it starts. Visible windows are tested by the whole-binary list test under a display.
#include <windows.h>

#include <gtest/gtest.h>

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

// The EnumWindows callback's handing over of one window: a collector that runs out of memory
// ends the enumeration with ERROR_OUTOFMEMORY instead of throwing into user32. (Without a
// display Wine has no windows to enumerate; the list under a display is tested whole.)
TEST(Win32VisibleWindows, AllocationFailureEndsTheEnumerationWithOutOfMemory) {
    TestCollector collecting(false);
    SetLastError(0);
    EXPECT_EQ(add_window_owner(collecting, 42), TRUE);
    EXPECT_EQ(collecting.pids, std::vector<std::uint32_t>{42});
    EXPECT_EQ(GetLastError(), 0u);

    TestCollector failing(true);
    EXPECT_EQ(add_window_owner(failing, 42), FALSE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_OUTOFMEMORY));
    EXPECT_EQ(failing.calls, 1);
}

}  // namespace
}  // namespace quorle::host
