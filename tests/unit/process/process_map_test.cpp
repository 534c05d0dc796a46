#include "audio_host/process/process_map.h"

#include <gtest/gtest.h>

#include "audio_host/process/ancestry.h"
#include "common/platform_error.h"
#include "fakes/fake_process_platform.h"

namespace quorle::host {
namespace {

using fakes::FakeProcessPlatform;
using Call = FakeProcessPlatform::Call;
using Events = std::vector<std::string>;

TEST(SnapshotProcessMap, MapsEveryEntryAndClosesTheSnapshotOnce) {
    FakeProcessPlatform platform;
    platform.snapshot = {{0, 0}, {4, 0}, {20, 4}, {30, 20}};
    const Result<ProcessMap> map = snapshot_process_map(platform);
    ASSERT_TRUE(map) << map.error();
    EXPECT_EQ(*map, (ProcessMap{{0, 0}, {4, 0}, {20, 4}, {30, 20}}));
    EXPECT_EQ(platform.events(), (Events{"snapshot -> h1", "first h1", "next h1", "next h1",
                                         "next h1", "next h1", "close h1"}));
    EXPECT_TRUE(platform.misuse().empty());
}

TEST(SnapshotProcessMap, AnIdReportedTwiceKeepsItsLastParent) {
    FakeProcessPlatform platform;
    platform.own_pid = 30;
    platform.snapshot = {{30, 99}, {20, 4}, {30, 20}};
    const Result<ProcessMap> map = snapshot_process_map(platform);
    ASSERT_TRUE(map) << map.error();
    EXPECT_EQ(map->at(30), 20u);
    CaptureRequest request;
    request.excluded_pid = 20;
    EXPECT_TRUE(check_ancestry(*map, request, platform.own_pid));
}

TEST(SnapshotProcessMap, FailuresCarryTheirContextAndReleaseTheSnapshot) {
    struct Row {
        Call call;
        int nth;
        RawError error;
        std::string message;  // empty: success with the entries read before the failure
        ProcessMap map;
        Events events;
    };
    const Row rows[] = {
        {Call::CreateSnapshot,
         1,
         RawError(0x80070005),
         "process snapshot: " + platform_error_text(0x80070005),
         {},
         {"snapshot failed"}},
        {Call::FirstProcess,
         1,
         RawError(0x80070018),
         "first process: " + platform_error_text(0x80070018),
         {},
         {"snapshot -> h1", "first h1", "close h1"}},
        // Any failure of the next-entry call ends the walk, whatever its reason.
        {Call::NextProcess,
         2,
         RawError(0x8007001F),
         "",
         {{10, 1}, {11, 10}},
         {"snapshot -> h1", "first h1", "next h1", "next h1", "close h1"}},
        {Call::FirstProcess,
         1,
         RawError(5, "access to the process list was refused"),
         "first process: access to the process list was refused (0x00000005)",
         {},
         {"snapshot -> h1", "first h1", "close h1"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.message);
        FakeProcessPlatform platform;
        platform.snapshot = {{10, 1}, {11, 10}, {12, 11}};
        platform.fail_call(row.call, row.nth, row.error);
        const Result<ProcessMap> map = snapshot_process_map(platform);
        if (row.message.empty()) {
            ASSERT_TRUE(map) << map.error();
            EXPECT_EQ(*map, row.map);
        } else {
            ASSERT_FALSE(map);
            EXPECT_EQ(map.error(), row.message);
        }
        EXPECT_EQ(platform.events(), row.events);
        EXPECT_EQ(platform.open_handle_count(), 0u);
        EXPECT_TRUE(platform.misuse().empty());
    }
}

TEST(SnapshotProcessMap, AnEmptySnapshotHasNoFirstEntry) {
    FakeProcessPlatform platform;
    const Result<ProcessMap> map = snapshot_process_map(platform);
    ASSERT_FALSE(map);
    EXPECT_EQ(map.error(),
              "first process: " + platform_error_text(FakeProcessPlatform::kNoMoreEntries));
    EXPECT_EQ(platform.open_handle_count(), 0u);
}

}  // namespace
}  // namespace quorle::host
