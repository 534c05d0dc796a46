// What only real Windows shows of the held driver tree: links that Wine cannot make as
// Windows makes them, refused, and a compressed file (a reparse point that is no link), read.
// Making a symbolic link needs an administrator (the hosted runners run as one) or Developer
// Mode; without that right the test fails and says so.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

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

// A file that Windows keeps compressed (a WOF reparse point, as "compact /exe" makes it, and as
// the system does for its own files) is no link: it is held and read with its own content.
TEST(WindowsAdmin, ACompressedFileIsReadLikeAPlainOne) {
    const testing::TempFolder folder;
    std::string content;
    for (int i = 0; i < 20000; ++i)
        content += "compressible line " + std::to_string(i % 7) + "\r\n";
    const fs::path file = folder.write("packed.sys", content);
    const std::wstring command = L"compact.exe /c /exe:xpress4k \"" + file.native() + L"\" >NUL";
    ASSERT_EQ(_wsystem(command.c_str()), 0);
    const DWORD attributes = GetFileAttributesW(file.c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    // Whether the system shows the reparse point to this name or not, the content is the same.
    auto reader = make_system_file_reader();
    EXPECT_EQ(reader->read_regular_file(file, kNoLimit).value(), content)
        << "attributes " << attributes;
}

}  // namespace
}  // namespace quorle::setup
