// What only real Windows shows of the held driver tree: links that Wine cannot make as
// Windows makes them. Making a symbolic link needs an administrator (the hosted runners run
// as one) or Developer Mode; without that right the test fails and says so.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>
#include <memory>

#include "driver_setup/file_reader.h"
#include "temp_folder.h"

namespace quorle::setup {
namespace {

namespace fs = std::filesystem;
using Kind = FileReadError::Kind;
constexpr std::size_t kNoLimit = std::size_t{1} << 30;

// Makes `link` lead to `target`; the test fails, naming the missing right, when it cannot.
void make_link(const fs::path& link, const fs::path& target, bool folder) {
    const DWORD flags =
        SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE | (folder ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0);
    ASSERT_TRUE(CreateSymbolicLinkW(link.c_str(), target.c_str(), flags))
        << "making " << link << " needs an administrator or Developer Mode (error "
        << GetLastError() << ")";
}

TEST(WindowsAdmin, LinksWhereTheDriverTreeIsHeldAreRefused) {
    const testing::TempFolder app;
    const fs::path drivers = app.path() / "drivers";
    const fs::path vbcable = drivers / "vbcable";
    fs::create_directories(vbcable);
    fs::create_directories(app.path() / "elsewhere" / "vbcable");
    app.write("outside.sys", "abc");
    app.write(fs::path("drivers") / "vbcable" / "plain.sys", "abc");
    ASSERT_NO_FATAL_FAILURE(make_link(vbcable / "a.sys", app.path() / "outside.sys", false));
    ASSERT_NO_FATAL_FAILURE(
        make_link(drivers / "linked", app.path() / "elsewhere" / "vbcable", true));

    auto reader = make_system_file_reader();
    ASSERT_TRUE(reader->hold_folder(drivers).has_value());
    ASSERT_TRUE(reader->hold_folder(vbcable).has_value());
    // A symbolic link to a file is refused at the file...
    EXPECT_EQ(reader->read_regular_file(vbcable / "a.sys", kNoLimit).error(),
              (FileReadError{Kind::reparse, 0}));
    // ...while a plain file beside it is read and the target itself can be read directly.
    EXPECT_EQ(reader->read_regular_file(vbcable / "plain.sys", kNoLimit).value(), "abc");
    EXPECT_EQ(reader->read_regular_file(app.path() / "outside.sys", kNoLimit).value(), "abc");
    // A folder link where the driver folder is held is refused as well.
    EXPECT_EQ(make_system_file_reader()->hold_folder(drivers / "linked").error(),
              (FileReadError{Kind::reparse, 0}));
}

TEST(WindowsAdmin, TheHeldFolderIsNamedByItsFinalPath) {
    const testing::TempFolder root;
    const fs::path real = fs::absolute(root.path() / "real_app");
    fs::create_directories(real / "drivers" / "vbcable");
    ASSERT_NO_FATAL_FAILURE(make_link(root.path() / "app", real, true));
    const fs::path linked = root.path() / "app" / "drivers" / "vbcable";

    auto reader = make_system_file_reader();
    ASSERT_TRUE(reader->hold_folder(linked.parent_path()).has_value());
    ASSERT_TRUE(reader->hold_folder(linked).has_value());
    const fs::path final_path = reader->held_folder_final_path().value();
    // The same folder held by its real name (the temporary folder's own name may be a short
    // 8.3 form, which the final path never is), in the plain form, as it fits MAX_PATH.
    auto direct = make_system_file_reader();
    ASSERT_TRUE(direct->hold_folder(real / "drivers" / "vbcable").has_value());
    EXPECT_EQ(final_path, direct->held_folder_final_path().value());
    EXPECT_EQ(final_path.filename(), fs::path("vbcable"));
    EXPECT_EQ(final_path.parent_path().parent_path().filename(), fs::path("real_app"));
    EXPECT_NE(final_path.native().rfind(L"\\\\?\\", 0), 0u) << final_path;
}

}  // namespace
}  // namespace quorle::setup
