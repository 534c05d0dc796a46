// The platform's file reader against real files.
#include "driver_setup/file_reader.h"

#include <gtest/gtest.h>

#include <string>

#include "temp_folder.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace quorle::setup {
namespace {

using Kind = FileReadError::Kind;
constexpr std::size_t kNoLimit = std::size_t{1} << 30;

std::string binary_bytes(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 131 + 17) % 256);
    return bytes;
}

TEST(SystemFileReader, ReadsRegularFilesExactly) {
    const testing::TempFolder folder;
    const std::string contents[] = {"", "\r\n\0\x1a\xff", binary_bytes(70000),
                                    binary_bytes(3u << 20)};
    for (const std::string& content : contents) {
        const auto file = folder.write("f.bin", content);
        const auto read = make_system_file_reader()->read_regular_file(file, kNoLimit);
        ASSERT_TRUE(read.has_value()) << content.size();
        EXPECT_EQ(*read, content) << content.size();
    }
}

TEST(SystemFileReader, NonAsciiNamesAreFound) {
    const testing::TempFolder folder;
    const auto file = folder.write(std::filesystem::path(u8"caf\u00e9 \u65e5.sys"), "x");
    EXPECT_EQ(make_system_file_reader()->read_regular_file(file, kNoLimit).value(), "x");
}

TEST(SystemFileReader, RefusesWhatIsNotAReadableRegularFile) {
    const testing::TempFolder folder;
    folder.write("present", "abc");
    std::filesystem::create_directory(folder.path() / "sub");
    // A NUL inside the name must not open the file named by the part before it.
    std::filesystem::path::string_type with_nul = (folder.path() / "present").native();
    with_nul.push_back('\0');
    with_nul += (folder.path() / "x").native().substr(0, 1);
    const std::filesystem::path cases[] = {folder.path() / "absent", folder.path() / "sub",
                                           folder.path() / "absent" / "x",
                                           std::filesystem::path(with_nul)};
    for (const auto& path : cases) {
        const auto read = make_system_file_reader()->read_regular_file(path, kNoLimit);
        ASSERT_FALSE(read.has_value()) << path;
        EXPECT_TRUE(read.error().kind == Kind::open || read.error().kind == Kind::not_regular)
            << path;
    }
}

TEST(SystemFileReader, ALimitRefusesOneByteMore) {
    const testing::TempFolder folder;
    const auto file = folder.write("ten", "0123456789");
    EXPECT_EQ(make_system_file_reader()->read_regular_file(file, 10).value(), "0123456789");
    const auto refused = make_system_file_reader()->read_regular_file(file, 9);
    ASSERT_FALSE(refused.has_value());
    EXPECT_EQ(refused.error().kind, Kind::too_large);
}

#ifndef _WIN32
// Descriptors open in this process, to prove that every path out of a read closes its file.
std::size_t open_descriptor_count() {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count;
}

TEST(SystemFileReader, SpecialFilesFailAtOnceAndNothingStaysOpen) {
    const testing::TempFolder folder;
    const auto regular = folder.write("regular", "abc");
    const auto fifo = folder.path() / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const auto dangling = folder.path() / "dangling";
    std::filesystem::create_symlink(folder.path() / "nowhere", dangling);
    const auto link = folder.path() / "link";
    std::filesystem::create_symlink(regular, link);

    const std::size_t before = open_descriptor_count();
    // A FIFO without a writer would block an ordinary open for ever.
    const auto from_fifo = make_system_file_reader()->read_regular_file(fifo, kNoLimit);
    ASSERT_FALSE(from_fifo.has_value());
    EXPECT_EQ(from_fifo.error().kind, Kind::not_regular);
    const auto from_device = make_system_file_reader()->read_regular_file("/dev/zero", kNoLimit);
    ASSERT_FALSE(from_device.has_value());
    EXPECT_EQ(from_device.error().kind, Kind::not_regular);
    const auto from_folder = make_system_file_reader()->read_regular_file(folder.path(), kNoLimit);
    ASSERT_FALSE(from_folder.has_value());
    EXPECT_EQ(from_folder.error().kind, Kind::not_regular);
    EXPECT_EQ(make_system_file_reader()->read_regular_file(dangling, kNoLimit).error().kind,
              Kind::open);
    EXPECT_EQ(make_system_file_reader()->read_regular_file(regular, 2).error().kind,
              Kind::too_large);
    EXPECT_EQ(make_system_file_reader()->read_regular_file(link, kNoLimit).value(), "abc");
    EXPECT_EQ(open_descriptor_count(), before);
}
#endif

}  // namespace
}  // namespace quorle::setup
