// The Windows file layer against the system's own file sharing rules: what a reader holds
// can be read by others but neither changed, removed nor renamed until the reader is gone; a
// junction where a folder is held is refused; and the driver folder formed from a module
// path with the "\\?\" prefix opens the same files as the plain form.
#include <windows.h>

#include <winioctl.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

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

// Turns the empty folder `link` into a junction that leads to `target`.
bool make_junction(const fs::path& link, const fs::path& target) {
    if (!CreateDirectoryW(link.c_str(), nullptr)) return false;
    const UniqueFileHandle handle(
        CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!handle.valid()) return false;
    const std::wstring substitute = L"\\??\\" + target.native();
    const std::wstring print = target.native();
    const auto substitute_bytes = static_cast<USHORT>(substitute.size() * sizeof(wchar_t));
    const auto print_bytes = static_cast<USHORT>(print.size() * sizeof(wchar_t));
    // The mount point layout: four offsets and lengths, then both NUL-terminated names.
    constexpr std::size_t kHeader = 8;  // tag, data length, reserved
    constexpr std::size_t kOffsets = 8;
    const std::size_t data_bytes = kOffsets + substitute_bytes + 2 + print_bytes + 2;
    std::vector<unsigned char> buffer(kHeader + data_bytes, 0);
    const auto put16 = [&buffer](std::size_t at, std::size_t value) {
        const auto word = static_cast<USHORT>(value);
        std::memcpy(buffer.data() + at, &word, sizeof word);
    };
    const DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
    std::memcpy(buffer.data(), &tag, sizeof tag);
    put16(4, data_bytes);
    put16(kHeader + 0, 0);
    put16(kHeader + 2, substitute_bytes);
    put16(kHeader + 4, substitute_bytes + 2u);
    put16(kHeader + 6, print_bytes);
    std::memcpy(buffer.data() + kHeader + kOffsets, substitute.data(), substitute_bytes);
    std::memcpy(buffer.data() + kHeader + kOffsets + substitute_bytes + 2, print.data(),
                print_bytes);
    DWORD returned = 0;
    return DeviceIoControl(handle.get(), FSCTL_SET_REPARSE_POINT, buffer.data(),
                           static_cast<DWORD>(buffer.size()), nullptr, 0, &returned,
                           nullptr) != FALSE;
}

// A folder with real/vbcable/a.sys ("abc") and a reparse point "drivers" leading to "real": a
// junction made here where the system can make one, otherwise (Wine makes none) the host
// symbolic link that the build prepared.
struct LinkedFolder {
    testing::TempFolder temp;
    fs::path root = temp.path();
    bool made_here = false;

    LinkedFolder() {
        fs::create_directories(root / "real" / "vbcable");
        temp.write(fs::path("real") / "vbcable" / "a.sys", "abc");
        made_here = make_junction(root / "drivers", root / "real");
        if (made_here) return;
        RemoveDirectoryW((root / "drivers").c_str());
#ifdef QUORLE_TEST_FOLDER_LINK_ROOT
        root = fs::path(QUORLE_TEST_FOLDER_LINK_ROOT);
#endif
    }
    ~LinkedFolder() {
        if (made_here) RemoveDirectoryW((root / "drivers").c_str());
    }
    LinkedFolder(const LinkedFolder&) = delete;
    LinkedFolder& operator=(const LinkedFolder&) = delete;
};

TEST(HeldDriverFiles, AReparsePointOrAFileIsNotHeldAsAFolder) {
    const LinkedFolder linked;
    const fs::path drivers = linked.root / "drivers";
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
    EXPECT_TRUE(reader->hold_folder(linked.root / "real").has_value());
    EXPECT_TRUE(reader->hold_folder(linked.root / "real" / "vbcable").has_value());

    const auto file = reader->hold_folder(linked.root / "real" / "vbcable" / "a.sys");
    ASSERT_FALSE(file.has_value());
    EXPECT_EQ(file.error().kind, FileReadError::Kind::not_regular);
    EXPECT_EQ(reader->hold_folder(linked.root / "absent").error(),
              (FileReadError{FileReadError::Kind::open, ERROR_FILE_NOT_FOUND}));
}

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
