// The Windows file layer against the system's own file sharing rules: what a reader holds
// can be read by others but neither changed, removed nor renamed until the reader is gone; a
// reparse point where a folder is held is refused; and the driver folder formed from a module
// path with the "\\?\" prefix opens the same files as the plain form.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "driver_setup/driver_folder.h"
#include "driver_setup/file_reader.h"
#include "driver_setup/win32/unique_file_handle.h"
#include "setup_fakes.h"
#include "temp_folder.h"

namespace quorle::setup {
namespace {

namespace fs = std::filesystem;
constexpr std::size_t kNoLimit = std::size_t{1} << 30;

// 0 when `succeeded`, otherwise the thread's last error.
DWORD outcome(BOOL succeeded) {
    return succeeded ? ERROR_SUCCESS : GetLastError();
}

DWORD open_for(const fs::path& path, DWORD access, DWORD flags = FILE_ATTRIBUTE_NORMAL) {
    const UniqueFileHandle handle(
        CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, flags, nullptr));
    return handle.valid() ? ERROR_SUCCESS : GetLastError();
}

// app/drivers/vbcable with two files, as the program's folder holds them.
struct Package {
    testing::TempFolder app;
    fs::path drivers = app.path() / "drivers";
    fs::path vbcable = drivers / "vbcable";
    Package() {
        fs::create_directories(vbcable);
        app.write(fs::path("drivers") / "vbcable" / "a.sys", "abc");
        app.write(fs::path("drivers") / "vbcable" / "b.inf", "[Version]\r\n");
    }
};

TEST(HeldDriverFiles, OthersMayReadButNotChangeRemoveOrRenameUntilReleased) {
    const Package package;
    const fs::path file = package.vbcable / "a.sys";
    auto reader = make_system_file_reader();
    ASSERT_TRUE(reader->hold_folder(package.drivers).has_value());
    ASSERT_TRUE(reader->hold_folder(package.vbcable).has_value());
    ASSERT_EQ(reader->read_regular_file(file, kNoLimit).value(), "abc");
    ASSERT_EQ(reader->read_regular_file(package.vbcable / "b.inf", kNoLimit).value(),
              "[Version]\r\n");

    struct Attempt {
        const char* name;
        std::function<DWORD()> run;
        DWORD while_held;
    };
    // In this order, so that each step still finds what it works on after release.
    const Attempt attempts[] = {
        {"read the file", [&] { return open_for(file, GENERIC_READ); }, ERROR_SUCCESS},
        {"read it through a second reader",
         [&] {
             return make_system_file_reader()->read_regular_file(file, kNoLimit).has_value()
                        ? ERROR_SUCCESS
                        : ERROR_GEN_FAILURE;
         },
         ERROR_SUCCESS},
        {"open the file for writing", [&] { return open_for(file, GENERIC_WRITE); },
         ERROR_SHARING_VIOLATION},
        {"delete the file", [&] { return outcome(DeleteFileW(file.c_str())); },
         ERROR_SHARING_VIOLATION},
        {"rename the driver folder",
         [&] {
             return outcome(
                 MoveFileW(package.vbcable.c_str(), (package.drivers / "vbcable.old").c_str()));
         },
         ERROR_SHARING_VIOLATION},
        {"rename the drivers folder",
         [&] {
             return outcome(
                 MoveFileW(package.drivers.c_str(), (package.app.path() / "drivers.old").c_str()));
         },
         ERROR_SHARING_VIOLATION},
    };
    for (const Attempt& attempt : attempts) {
        EXPECT_EQ(attempt.run(), attempt.while_held) << attempt.name << " while held";
    }
    reader.reset();
    for (const Attempt& attempt : attempts) {
        EXPECT_EQ(attempt.run(), DWORD{ERROR_SUCCESS}) << attempt.name << " after release";
    }
}

#ifdef QUORLE_TEST_FOLDER_LINK_ROOT
// The build prepared a folder with real/vbcable/a.sys ("abc") and a host symbolic link
// "drivers" leading to "real": Wine makes no junctions, but shows such a link as a folder
// reparse point, as Windows shows a junction.
TEST(HeldDriverFiles, AReparsePointOrAFileIsNotHeldAsAFolder) {
    const fs::path root(QUORLE_TEST_FOLDER_LINK_ROOT);
    const fs::path drivers = root / "drivers";
    // The reparse point leads to the files...
    ASSERT_EQ(make_system_file_reader()
                  ->read_regular_file(drivers / "vbcable" / "a.sys", kNoLimit)
                  .value(),
              "abc");
    // ...but is not held as the drivers folder; the real folder behind it is.
    auto reader = make_system_file_reader();
    const auto refused = reader->hold_folder(drivers);
    ASSERT_FALSE(refused.has_value());
    EXPECT_EQ(refused.error().kind, FileReadError::Kind::reparse);
    EXPECT_TRUE(reader->hold_folder(root / "real").has_value());
    EXPECT_TRUE(reader->hold_folder(root / "real" / "vbcable").has_value());

    const auto file = reader->hold_folder(root / "real" / "vbcable" / "a.sys");
    ASSERT_FALSE(file.has_value());
    EXPECT_EQ(file.error().kind, FileReadError::Kind::not_regular);
    EXPECT_EQ(reader->hold_folder(root / "absent").error(),
              (FileReadError{FileReadError::Kind::open, ERROR_FILE_NOT_FOUND}));
}
#endif

TEST(DriverFolderPath, AModulePathWithTheLongPrefixOpensTheSameFiles) {
    const Package package;
    const fs::path program = fs::absolute(package.app.path()) / "quorle_driver_setup.exe";
    ASSERT_EQ(program.native().rfind(L"\\\\", 0), std::wstring::npos) << program;
    for (const std::wstring& module_path : {program.native(), L"\\\\?\\" + program.native()}) {
        SCOPED_TRACE(fs::path(module_path).string());
        testing::FakeOwnExecutable own;
        own.answer = fs::path(module_path);
        const Result<fs::path> folder = locate_driver_folder(own);
        ASSERT_TRUE(folder.has_value());
        auto reader = make_system_file_reader();
        EXPECT_TRUE(reader->hold_folder(folder->parent_path()).has_value());
        EXPECT_TRUE(reader->hold_folder(*folder).has_value());
        EXPECT_EQ(reader->read_regular_file(append_as_text(*folder, "a.sys"), kNoLimit).value(),
                  "abc");
    }
}

}  // namespace
}  // namespace quorle::setup
