#include "driver_setup/driver_folder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/platform_error.h"
#include "driver_setup/growing_buffer.h"
#include "setup_fakes.h"

namespace quorle::setup {
namespace {

using std::filesystem::path;

struct JoinRow {
    path folder;
    std::string tail;
    path::string_type joined;
};

TEST(DriverFolder, AppendsAsTextWithOneSeparator) {
#ifdef _WIN32
    const JoinRow rows[] = {
        {L"C:\\app", "drivers/vbcable", L"C:\\app\\drivers/vbcable"},
        {L"C:\\app\\", "drivers/vbcable", L"C:\\app\\drivers/vbcable"},
        {L"C:\\app/", "x", L"C:\\app/x"},
        {L"C:\\", "drivers/vbcable", L"C:\\drivers/vbcable"},
        {L"", "drivers/vbcable", L"drivers/vbcable"},
        // a rooted or drive-carrying tail is appended, never substituted
        {L"C:\\app", "D:\\evil", L"C:\\app\\D:\\evil"},
        {L"C:\\app", "\\evil", L"C:\\app\\\\evil"},
        {L"C:\\app", "\xC3\xA9.sys", L"C:\\app\\\u00E9.sys"},
    };
#else
    const JoinRow rows[] = {
        {"/opt/app", "drivers/vbcable", "/opt/app/drivers/vbcable"},
        {"/opt/app/", "drivers/vbcable", "/opt/app/drivers/vbcable"},
        {"/", "drivers/vbcable", "/drivers/vbcable"},
        {"", "drivers/vbcable", "drivers/vbcable"},
        // a rooted tail is appended, never substituted
        {"/opt/app", "/etc/passwd", "/opt/app//etc/passwd"},
        {"/opt/app", "C:\\x", "/opt/app/C:\\x"},
        {"/opt/app", "\xC3\xA9.sys", "/opt/app/\xC3\xA9.sys"},
    };
#endif
    for (const JoinRow& row : rows) {
        EXPECT_EQ(append_as_text(row.folder, row.tail).native(), row.joined) << row.tail;
    }
}

TEST(DriverFolder, ApplicationFolderIsTheParentUnlessOnlyARoot) {
#ifdef _WIN32
    EXPECT_EQ(application_folder_of(L"C:\\Program Files\\Quorle\\setup.exe").value(),
              path(L"C:\\Program Files\\Quorle"));
    EXPECT_EQ(application_folder_of(L"C:\\setup.exe").value(), path(L"C:\\"));
    const path rootless[] = {L"C:\\", L"C:", L"\\", L""};
#else
    EXPECT_EQ(application_folder_of("/opt/quorle/quorle_driver_setup").value(),
              path("/opt/quorle"));
    EXPECT_EQ(application_folder_of("/quorle_driver_setup").value(), path("/"));
    const path rootless[] = {"/", "//", ""};
#endif
    for (const path& only_root : rootless) {
        EXPECT_EQ(application_folder_of(only_root).error(), "missing application folder")
            << only_root;
    }
}

TEST(DriverFolder, LocateJoinsTheDriverFolderBesideTheProgram) {
    testing::FakeOwnExecutable own;
#ifdef _WIN32
    own.answer = path(L"C:\\Quorle\\quorle_driver_setup.exe");
    EXPECT_EQ(locate_driver_folder(own).value().native(), L"C:\\Quorle\\drivers\\vbcable");
    // After the long-path prefix every character is taken literally: backslashes only.
    own.answer = path(L"\\\\?\\C:\\Quorle\\quorle_driver_setup.exe");
    EXPECT_EQ(locate_driver_folder(own).value().native(), L"\\\\?\\C:\\Quorle\\drivers\\vbcable");
    own.answer = path(L"C:\\");
#else
    EXPECT_EQ(locate_driver_folder(own).value().native(), "/opt/quorle/drivers/vbcable");
    own.answer = path("/");
#endif
    EXPECT_EQ(locate_driver_folder(own).error(), "missing application folder");
    own.answer = std::unexpected(std::uint32_t{2});
    EXPECT_EQ(locate_driver_folder(own).error(), os_error_message("", 2));
#ifdef _WIN32
    EXPECT_EQ(own.calls, 4);
#else
    EXPECT_EQ(own.calls, 3);
#endif
}

// A platform call that copies a text of `length` units and cuts it at the capacity, like
// GetModuleFileNameW and readlink.
struct CuttingCall {
    std::size_t length = 0;
    std::size_t fail_on_call = 0;  // 1-based; 0: never
    std::vector<std::size_t> capacities;

    std::expected<std::size_t, std::uint32_t> operator()(char* buffer, std::size_t capacity) {
        capacities.push_back(capacity);
        if (capacities.size() == fail_on_call) return std::unexpected(std::uint32_t{5});
        const std::size_t copied = length < capacity ? length : capacity;
        for (std::size_t i = 0; i < copied; ++i)
            buffer[i] = static_cast<char>('a' + i % 26);
        return copied;
    }
};

TEST(GrowingBuffer, DoublesUntilTheTextFitsAndGivesUpPastTheLimit) {
    struct Row {
        std::size_t length;
        std::size_t fail_on_call;
        std::vector<std::size_t> capacities;
        std::expected<std::size_t, std::uint32_t> outcome;  // text length or error code
    };
    const Row rows[] = {
        {0, 0, {4}, 0},
        {3, 0, {4}, 3},
        {4, 0, {4, 8}, 4},  // a full buffer may be a cut text
        {9, 0, {4, 8, 16}, 9},
        {16, 0, {4, 8, 16, 32}, 16},
        {32, 0, {4, 8, 16, 32}, std::unexpected(std::uint32_t{122})},
        {100, 0, {4, 8, 16, 32}, std::unexpected(std::uint32_t{122})},
        {9, 2, {4, 8}, std::unexpected(std::uint32_t{5})},
        {9, 1, {4}, std::unexpected(std::uint32_t{5})},
    };
    for (const Row& row : rows) {
        CuttingCall call{row.length, row.fail_on_call, {}};
        const std::expected<std::string, std::uint32_t> text =
            read_with_growing_buffer<char>(std::ref(call), 4, 32, 122);
        EXPECT_EQ(call.capacities, row.capacities) << row.length;
        if (row.outcome) {
            ASSERT_TRUE(text.has_value()) << row.length;
            EXPECT_EQ(text->size(), *row.outcome);
            for (std::size_t i = 0; i < text->size(); ++i) {
                EXPECT_EQ((*text)[i], static_cast<char>('a' + i % 26));
            }
        } else {
            ASSERT_FALSE(text.has_value()) << row.length;
            EXPECT_EQ(text.error(), row.outcome.error());
        }
    }
}

}  // namespace
}  // namespace quorle::setup
