// The real Linux layer against real processes: this test program and a child it starts.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <string>

#include "audio_host/process/ancestry.h"
#include "audio_host/process/application_list.h"
#include "audio_host/process/process_identity.h"
#include "audio_host/process/process_map.h"
#include "common/platform_error.h"

namespace quorle::host {
namespace {

std::string own_exe() {
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path);
    return n < 0 ? std::string() : std::string(path, static_cast<std::size_t>(n));
}

TEST(LinuxProcessPlatform, SnapshotHoldsThisProcessUnderItsParent) {
    ProcessPlatform& platform = system_process_platform();
    const Result<ProcessMap> map = snapshot_process_map(platform);
    ASSERT_TRUE(map) << map.error();
    const std::uint32_t own = platform.current_process_id();
    EXPECT_EQ(own, static_cast<std::uint32_t>(::getpid()));
    ASSERT_TRUE(map->contains(own));
    EXPECT_EQ(map->at(own), static_cast<std::uint32_t>(::getppid()));
    EXPECT_EQ(map->at(1), 0u);

    CaptureRequest request;
    request.excluded_pid = static_cast<std::uint32_t>(::getppid());
    EXPECT_TRUE(check_ancestry(*map, request, own));
}

TEST(LinuxProcessPlatform, OwnIdentityIsStableAndMatchesItsListForm) {
    ProcessPlatform& platform = system_process_platform();
    const std::uint32_t own = platform.current_process_id();
    const Result<ProcessIdentity> first = read_process_identity(platform, own);
    ASSERT_TRUE(first) << first.error();
    const Result<ProcessIdentity> second = read_process_identity(platform, own);
    ASSERT_TRUE(second) << second.error();
    EXPECT_EQ(first->exe, own_exe());
    EXPECT_EQ(first->creation_time, second->creation_time);
    // After 2000-01-01 and before the process read it.
    EXPECT_GT(first->creation_time, 125'911'584'000'000'000ULL);
    EXPECT_TRUE(is_running(platform, *first));

    CaptureRequest request;
    request.target = ProcessTarget{own};
    request.excluded_pid = 1;
    request.expected_exe = first->exe;
    request.expected_start = first->creation_time;
    EXPECT_TRUE(identity_matches(*second, request));
}

TEST(LinuxProcessPlatform, ExitedChildIsNotRunning) {
    ProcessPlatform& platform = system_process_platform();
    int to_child[2];
    ASSERT_EQ(::pipe(to_child), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        char byte = 0;
        ::close(to_child[1]);
        (void)::read(to_child[0], &byte, 1);  // wait until the parent has looked
        ::_exit(0);
    }
    ::close(to_child[0]);
    const Result<ProcessIdentity> identity =
        read_process_identity(platform, static_cast<std::uint32_t>(child));
    ASSERT_TRUE(identity) << identity.error();
    EXPECT_TRUE(is_running(platform, *identity));
    ::close(to_child[1]);  // the child reads end-of-file and exits
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_FALSE(is_running(platform, *identity));
    EXPECT_EQ(platform.wait_process(identity->handle.raw()), kWaitSignalled);
}

TEST(LinuxProcessPlatform, MissingProcessCannotBeOpened) {
    // Above the kernel's largest pid (4194304), so never a process.
    const Result<ProcessIdentity> identity =
        read_process_identity(system_process_platform(), 4'194'305);
    ASSERT_FALSE(identity);
    EXPECT_EQ(identity.error(), "open process: " + platform_error_text(ESRCH));
}

TEST(LinuxProcessPlatform, ListWithoutDisplayNamesTheXDisplay) {
    const char* saved = std::getenv("DISPLAY");
    const std::string restore = saved == nullptr ? "" : saved;
    ::unsetenv("DISPLAY");
    class Discard final : public OutputStream {
      public:
        int writes = 0;
        Status write(std::string_view) override {
            ++writes;
            return {};
        }
    } out;
    const Status status = list_applications(system_process_platform(), out);
    if (saved != nullptr) ::setenv("DISPLAY", restore.c_str(), 1);
    ASSERT_FALSE(status);
    EXPECT_EQ(status.error(),
              "enumerate application windows: cannot open X display: DISPLAY is not set "
              "(0x00000006)");
    EXPECT_EQ(out.writes, 0);
}

}  // namespace
}  // namespace quorle::host
