#include "audio_host/process/process_identity.h"

#include <gtest/gtest.h>

#include "common/platform_error.h"
#include "fakes/fake_process_platform.h"

namespace quorle::host {
namespace {

using fakes::FakeProcessPlatform;
using Call = FakeProcessPlatform::Call;
using Events = std::vector<std::string>;

TEST(ReadProcessIdentity, ReadsPathAndTimeAndOwnsTheHandleUntilReleased) {
    FakeProcessPlatform platform;
    // An unpaired high surrogate in the path becomes U+FFFD.
    platform.add(42, 1, u"C:\\Apps\\pl\xD800yer.exe", 133'000'000'000'000'123ULL);
    {
        const Result<ProcessIdentity> identity = read_process_identity(platform, 42);
        ASSERT_TRUE(identity) << identity.error();
        EXPECT_EQ(identity->exe, "C:\\Apps\\pl\xEF\xBF\xBDyer.exe");
        EXPECT_EQ(identity->creation_time, 133'000'000'000'000'123ULL);
        EXPECT_TRUE(identity->handle.valid());
        EXPECT_EQ(platform.open_handle_count(), 1u);
        EXPECT_TRUE(is_running(platform, *identity));
    }
    EXPECT_EQ(platform.events(),
              (Events{"open 42 -> h1", "image h1", "times h1", "wait h1", "close h1"}));
    EXPECT_EQ(platform.open_handle_count(), 0u);
    EXPECT_TRUE(platform.misuse().empty());
}

TEST(ReadProcessIdentity, FailuresCarryTheirContextAndCloseTheHandle) {
    struct Row {
        Call call;
        RawError error;
        std::string message;
        Events events;
    };
    const Row rows[] = {
        {Call::OpenProcess,
         RawError(0x80070057),
         "open process: " + platform_error_text(0x80070057),
         {"open 42 failed"}},
        {Call::ImageName,
         RawError(0x8007001F),
         "process executable: " + platform_error_text(0x8007001F),
         {"open 42 -> h1", "image h1", "close h1"}},
        {Call::CreationTime,
         RawError(0x80070005),
         "process identity: " + platform_error_text(0x80070005),
         {"open 42 -> h1", "image h1", "times h1", "close h1"}},
        {Call::CreationTime,
         RawError(75, "clock out of range"),
         "process identity: clock out of range (0x0000004B)",
         {"open 42 -> h1", "image h1", "times h1", "close h1"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.message);
        FakeProcessPlatform platform;
        platform.add(42, 1, u"C:\\A.exe", 5);
        platform.fail_call(row.call, 1, row.error);
        const Result<ProcessIdentity> identity = read_process_identity(platform, 42);
        ASSERT_FALSE(identity);
        EXPECT_EQ(identity.error(), row.message);
        EXPECT_EQ(platform.events(), row.events);
        EXPECT_EQ(platform.open_handle_count(), 0u);
        EXPECT_TRUE(platform.misuse().empty());
    }
}

TEST(ProcessHandle, MovesOwnershipAndClosesExactlyOnce) {
    FakeProcessPlatform platform;
    platform.add(7, 1, u"a", 1);
    platform.add(8, 1, u"b", 1);
    Result<ProcessIdentity> first = read_process_identity(platform, 7);
    Result<ProcessIdentity> second = read_process_identity(platform, 8);
    ASSERT_TRUE(first && second);
    ProcessHandle moved = std::move(first->handle);
    EXPECT_FALSE(first->handle.valid());
    EXPECT_FALSE(is_running(platform, *first));  // a released identity is not running
    moved = std::move(second->handle);           // closes h1, takes h2
    EXPECT_EQ(platform.open_handle_count(), 1u);
    moved.reset();
    moved.reset();
    EXPECT_EQ(platform.open_handle_count(), 0u);
    EXPECT_TRUE(platform.misuse().empty()) << platform.misuse().front();
}

TEST(IsRunning, OnlyATimedOutWaitMeansRunning) {
    const std::pair<std::uint32_t, bool> rows[] = {
        {kWaitTimedOut, true},
        {kWaitSignalled, false},
        {kWaitFailed, false},
        {0x00000080, false},  // WAIT_ABANDONED
    };
    for (const auto& [wait_result, running] : rows) {
        SCOPED_TRACE(wait_result);
        FakeProcessPlatform platform;
        platform.add(9, 1, u"x", 1).wait_result = wait_result;
        const Result<ProcessIdentity> identity = read_process_identity(platform, 9);
        ASSERT_TRUE(identity);
        EXPECT_EQ(is_running(platform, *identity), running);
    }
}

TEST(IdentityMatches, FoldsOnlyAsciiLettersAndComparesTimeExactly) {
    struct Row {
        const char* exe;
        std::uint64_t time;
        const char* expected_exe;
        std::uint64_t expected_start;
        bool matches;
    };
    const Row rows[] = {
        {"C:\\Apps\\Player.EXE", 100, "c:\\apps\\player.exe", 100, true},
        {"C:\\Apps\\player.exe", 100, "C:\\Apps\\player.exe", 100, true},
        {"C:\\Apps\\player.exe", 100, "C:\\Apps\\player.exe\\", 100, false},
        {"C:\\Apps\\player.exe", 100, "C:/Apps/player.exe", 100, false},
        {"C:\\Apps\\player.exe", 100, "C:\\Apps\\player.exe", 101, false},
        {"C:\\Apps\\player.exe", 101, "C:\\Apps\\player.exe", 100, false},
        {"C:\\\xC3\x89t\xC3\xA9.exe", 1, "c:\\\xC3\x89T\xC3\xA9.EXE", 1, true},   // É stays É
        {"C:\\\xC3\x89t\xC3\xA9.exe", 1, "C:\\\xC3\xA9t\xC3\xA9.exe", 1, false},  // É is not é
        {"C:\\[x].exe", 1, "C:\\{x}.exe", 1, false},  // [ ] are not folded
        {"C:\\Apps\\player.exe", 100, "C:\\Apps\\player.ex", 100, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.exe) + " vs " + row.expected_exe);
        ProcessIdentity identity{row.exe, {}, row.time};
        CaptureRequest request;
        request.target = ProcessTarget{4};
        request.excluded_pid = 2;
        request.expected_exe = row.expected_exe;
        request.expected_start = row.expected_start;
        EXPECT_EQ(identity_matches(identity, request), row.matches);
    }
    CaptureRequest system;
    system.excluded_pid = 2;
    EXPECT_FALSE(identity_matches(ProcessIdentity{"x", {}, 1}, system));
}

}  // namespace
}  // namespace quorle::host
