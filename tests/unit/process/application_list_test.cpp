#include "audio_host/process/application_list.h"

#include <gtest/gtest.h>

#include <mutex>

#include "common/platform_error.h"
#include "fakes/fake_process_platform.h"

namespace quorle::host {
namespace {

using fakes::FakeProcessPlatform;
using Call = FakeProcessPlatform::Call;

// Records each whole write.
class RecordingStream final : public OutputStream {
  public:
    std::vector<std::string> writes;
    Status write(std::string_view bytes) override {
        writes.emplace_back(bytes);
        return {};
    }
};

TEST(ApplicationLabel, IsThePartAfterTheLastSeparator) {
    const std::pair<const char*, const char*> rows[] = {
        {"C:\\Apps\\player.exe", "player.exe"},
        {"C:/Apps/tool.exe", "tool.exe"},
        {"C:\\Apps/mixed\\Last.EXE", "Last.EXE"},
        {"C:/Apps\\mixed/last", "last"},
        {"player.exe", "player.exe"},
        {"C:\\Apps\\", ""},
        {"/", ""},
        {"", ""},
        {"\\\\?\\Volume\\a b.exe", "a b.exe"},
    };
    for (const auto& [exe, label] : rows)
        EXPECT_EQ(application_label(exe), label) << exe;
}

TEST(ApplicationListJson, WritesCompactEntriesInGivenOrder) {
    EXPECT_EQ(application_list_json({}), "[]");
    EXPECT_EQ(application_list_json({{4312, "C:\\Apps\\player.exe", 133'512'345'678'901'234ULL}}),
              R"([{"id":"pid:4312","label":"player.exe","exe":"C:\\Apps\\player.exe",)"
              R"("start_time":133512345678901234,"active":false}])");
    EXPECT_EQ(application_list_json({{1, "C:\\a\"b\\c\"d.exe", 18'446'744'073'709'551'615ULL},
                                     {4294967295u, "x\n\x01\x7f\xC3\xA9", 0}}),
              R"([{"id":"pid:1","label":"c\"d.exe","exe":"C:\\a\"b\\c\"d.exe",)"
              R"("start_time":18446744073709551615,"active":false},)"
              R"({"id":"pid:4294967295","label":"x\n\u0001)"
              "\x7f\xC3\xA9"
              R"(","exe":"x\n\u0001)"
              "\x7f\xC3\xA9"
              R"(","start_time":0,"active":false}])");
}

TEST(ListApplications, ListsEachWindowOwnerOnceInAscendingOrder) {
    FakeProcessPlatform platform;
    platform.add(4312, 1, u"C:\\Apps\\player.exe", 20);
    platform.add(812, 1, u"C:/Apps/tool.exe", 10);
    platform.window_pids = {4312, 812, 4312, 0};
    RecordingStream out;
    ASSERT_TRUE(list_applications(platform, out));
    ASSERT_EQ(out.writes.size(), 1u);
    EXPECT_EQ(out.writes[0], application_list_json({{812, "C:/Apps/tool.exe", 10},
                                                    {4312, "C:\\Apps\\player.exe", 20}}));
    EXPECT_EQ(platform.peak_open_processes(), 1u);
    EXPECT_EQ(platform.open_handle_count(), 0u);
}

TEST(ListApplications, LeavesOutProcessesThatCannotBeReadOrHaveExited) {
    FakeProcessPlatform platform;
    platform.add(10, 1, u"C:\\keep\\a.exe", 1);
    platform.add(11, 1, u"C:\\x.exe", 1).open_error = RawError(0x80070005);
    platform.add(12, 1, u"C:\\x.exe", 1).image_error = RawError(0x8007001F);
    platform.add(13, 1, u"C:\\x.exe", 1).time_error = RawError(0x80070005);
    platform.add(14, 1, u"C:\\x.exe", 1).wait_result = kWaitSignalled;
    platform.add(15, 1, u"C:\\x.exe", 1).wait_result = kWaitFailed;
    platform.add(16, 1, u"C:\\keep\\b.exe", 2);
    platform.window_pids = {16, 15, 14, 13, 12, 11, 10, 99 /* no such process */};
    RecordingStream out;
    ASSERT_TRUE(list_applications(platform, out));
    ASSERT_EQ(out.writes.size(), 1u);
    EXPECT_EQ(out.writes[0],
              application_list_json({{10, "C:\\keep\\a.exe", 1}, {16, "C:\\keep\\b.exe", 2}}));
    EXPECT_EQ(platform.open_handle_count(), 0u);
    EXPECT_EQ(platform.peak_open_processes(), 1u);
    EXPECT_TRUE(platform.misuse().empty());
}

TEST(ListApplications, NothingToListWritesAnEmptyArray) {
    for (const std::vector<std::uint32_t>& windows :
         {std::vector<std::uint32_t>{}, std::vector<std::uint32_t>{0, 0, 77}}) {
        FakeProcessPlatform platform;
        platform.window_pids = windows;
        RecordingStream out;
        ASSERT_TRUE(list_applications(platform, out));
        EXPECT_EQ(out.writes, std::vector<std::string>{"[]"});
    }
}

TEST(ListApplications, EnumerationFailureWritesNothing) {
    const std::pair<RawError, std::string> rows[] = {
        {RawError(0x80070578), "enumerate application windows: " + platform_error_text(0x80070578)},
        {RawError(6, "cannot open X display"),
         "enumerate application windows: cannot open X display (0x00000006)"},
    };
    for (const auto& [error, message] : rows) {
        FakeProcessPlatform platform;
        platform.add(10, 1, u"a", 1);
        platform.window_pids = {10};
        platform.fail_call(Call::VisibleWindows, 1, error);
        RecordingStream out;
        const Status status = list_applications(platform, out);
        ASSERT_FALSE(status);
        EXPECT_EQ(status.error(), message);
        EXPECT_TRUE(out.writes.empty());
        EXPECT_EQ(platform.events(), std::vector<std::string>{"windows"});
    }
}

// A platform writer that accepts a few bytes and then fails with a code.
class FailingWriter final : public RawWriter {
  public:
    std::string written;
    WriteOutcome write_some(const char* data, std::size_t size) override {
        if (written.empty()) {
            const std::size_t n = size < 3 ? size : 3;
            written.append(data, n);
            return {n, 0, false};
        }
        return {0, 32, false};
    }
};

TEST(ListApplications, WriteFailureReportsThePlatformTextOfTheWriteError) {
    FakeProcessPlatform platform;
    platform.add(10, 1, u"C:\\a.exe", 1);
    platform.window_pids = {10};
    FailingWriter writer;
    std::mutex lock;
    LockedStream out(writer, lock);
    const Status status = list_applications(platform, out);
    ASSERT_FALSE(status);
    EXPECT_EQ(status.error(), platform_error_text(32));
    EXPECT_EQ(writer.written, "[{\"");
    EXPECT_EQ(platform.open_handle_count(), 0u);
}

TEST(ListApplications, EveryHandleIsClosedWhicheverCallFails) {
    const Call calls[] = {Call::OpenProcess, Call::ImageName, Call::CreationTime};
    for (const Call call : calls) {
        for (int nth = 1; nth <= 3; ++nth) {
            SCOPED_TRACE(static_cast<int>(call) * 10 + nth);
            FakeProcessPlatform platform;
            platform.add(1, 0, u"a", 1);
            platform.add(2, 0, u"b", 2);
            platform.add(3, 0, u"c", 3);
            platform.window_pids = {3, 2, 1};
            platform.fail_call(call, nth, RawError(0x80004005));
            RecordingStream out;
            ASSERT_TRUE(list_applications(platform, out));
            std::vector<ApplicationEntry> expected = {{1, "a", 1}, {2, "b", 2}, {3, "c", 3}};
            expected.erase(expected.begin() + (nth - 1));
            EXPECT_EQ(out.writes, std::vector<std::string>{application_list_json(expected)});
            EXPECT_EQ(platform.open_handle_count(), 0u);
            EXPECT_TRUE(platform.misuse().empty());
        }
    }
}

}  // namespace
}  // namespace quorle::host
