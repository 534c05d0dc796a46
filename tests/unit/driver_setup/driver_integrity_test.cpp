#include "driver_setup/driver_integrity.h"

#include <gtest/gtest.h>

#include <array>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "driver_setup/embedded_manifest.h"
#include "driver_setup/sha256_digest.h"
#include "setup_fakes.h"
#include "temp_folder.h"

namespace quorle::setup {
namespace {

using testing::FakeFileReader;
using testing::TempFolder;

// The path the check reads for the entry `name` (UTF-8) in `folder`: the folder's text, one
// platform separator, then the name.
std::filesystem::path entry_path(const std::filesystem::path& folder, const std::string& name) {
    std::filesystem::path joined = folder;
    joined += std::filesystem::path::preferred_separator;
    joined += std::filesystem::path(std::u8string(name.begin(), name.end()));
    return joined;
}

const std::string kEmptyDigest = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
const std::string kAbcDigest = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

std::string digest_of(std::string_view content) {
    return sha256_hex(content).value();
}

std::string json_string(std::string_view text) {
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '\\' || c == '"') quoted += '\\';
        quoted += c;
    }
    return quoted + '"';
}

// A manifest in the shipped layout (CRLF lines, two-space indent), members in the given order.
std::string manifest_text(const std::vector<std::pair<std::string, std::string>>& members) {
    std::string text = "{\r\n";
    for (std::size_t i = 0; i < members.size(); ++i) {
        text += "  " + json_string(members[i].first) + ": " + json_string(members[i].second);
        text += i + 1 < members.size() ? ",\r\n" : "\r\n";
    }
    return text + "}\r\n";
}

// The check through the platform's own reader, which lets go of everything when it returns.
Status verify_through_system_reader(const std::filesystem::path& folder, std::string_view text) {
    return verify_driver_files(folder, text, *make_system_file_reader());
}

TEST(Sha256Digest, MatchesTheStandardVectors) {
    const std::pair<std::string, std::string> vectors[] = {
        {"", kEmptyDigest},
        {"abc", kAbcDigest},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& [input, digest] : vectors)
        EXPECT_EQ(sha256_hex(input), digest);
    const std::array<unsigned char, 5> bytes = {0x00, 0x0F, 0xA0, 0xFF, 0x5C};
    EXPECT_EQ(lower_hex(bytes), "000fa0ff5c");
}

TEST(DriverIntegrity, ChecksEveryEntryInByteOrderUnderTheFolder) {
    FakeFileReader reader;
    const std::filesystem::path folder = "/pkg/drivers/vbcable";
    const std::vector<std::string> names = {"readme.txt", "VBCABLE_Setup.exe", "b.inf",
                                            "VBCABLE_ControlPanel.exe", "\xC3\xA9.sys"};
    std::vector<std::pair<std::string, std::string>> members;
    for (const std::string& name : names) {
        reader.files[entry_path(folder, name)] = name + " content";
        members.emplace_back(name, digest_of(name + " content"));
    }
    EXPECT_TRUE(verify_driver_files(folder, manifest_text(members), reader).has_value());
    const std::vector<std::filesystem::path> expected_order = {
        entry_path(folder, "VBCABLE_ControlPanel.exe"), entry_path(folder, "VBCABLE_Setup.exe"),
        entry_path(folder, "b.inf"), entry_path(folder, "readme.txt"),
        entry_path(folder, "\xC3\xA9.sys")};
    EXPECT_EQ(reader.reads, expected_order);
    EXPECT_EQ(reader.limits, std::vector<std::size_t>(5, kMaxBundledFileBytes));
}

TEST(DriverIntegrity, TheFirstFailingEntryEndsTheCheck) {
    using Kind = FileReadError::Kind;
    const std::filesystem::path folder = "/pkg";
    struct Row {
        std::string label;
        std::string name;                                   // the entry under test
        std::expected<std::string, FileReadError> content;  // what reading it gives
        std::string expected_digest;
        std::string message;
    };
    const Row rows[] = {
        {"absent", "m.sys", std::unexpected(FileReadError{Kind::open, 2}), kAbcDigest,
         "missing bundled driver file m.sys"},
        {"access denied", "m.sys", std::unexpected(FileReadError{Kind::open, 5}), kAbcDigest,
         "missing bundled driver file m.sys"},
        {"a folder", "m.sys", std::unexpected(FileReadError{Kind::not_regular, 0}), kAbcDigest,
         "missing bundled driver file m.sys"},
        {"too large", "m.sys", std::unexpected(FileReadError{Kind::too_large, 0}), kAbcDigest,
         "missing bundled driver file m.sys"},
        {"read error", "m.sys", std::unexpected(FileReadError{Kind::read, 23}), kAbcDigest,
         "missing bundled driver file m.sys"},
        {"a symbolic link or junction", "m.sys", std::unexpected(FileReadError{Kind::reparse, 0}),
         kAbcDigest, "missing bundled driver file m.sys"},
        {"changed", "m.sys", std::string("abd"), kAbcDigest,
         "bundled driver integrity check failed: m.sys"},
        {"emptied", "m.sys", std::string(), kAbcDigest,
         "bundled driver integrity check failed: m.sys"},
        {"upper-case digest", "m.sys", std::string("abc"),
         "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD",
         "bundled driver integrity check failed: m.sys"},
        {"short digest", "m.sys", std::string("abc"), kAbcDigest.substr(0, 63),
         "bundled driver integrity check failed: m.sys"},
        {"long digest", "m.sys", std::string("abc"), kAbcDigest + "0",
         "bundled driver integrity check failed: m.sys"},
        {"two parts", "m/x.sys", std::string("abc"), kAbcDigest, "invalid bundled file name"},
        {"empty name", "", std::string("abc"), kAbcDigest, "invalid bundled file name"},
    };
    for (const Row& row : rows) {
        FakeFileReader reader;
        // "a.sys" sorts before the entry and passes; "z.sys" sorts after and is never read.
        reader.files[folder / "a.sys"] = std::string("abc");
        reader.files[entry_path(folder, row.name)] = row.content;
        reader.files[folder / "z.sys"] = std::string("abc");
        const std::string text = manifest_text(
            {{"z.sys", kAbcDigest}, {row.name, row.expected_digest}, {"a.sys", kAbcDigest}});
        const Status status = verify_driver_files(folder, text, reader);
        ASSERT_FALSE(status.has_value()) << row.label;
        EXPECT_EQ(status.error(), row.message) << row.label;
        // Entries before the failing one were read; the failing one only if its name passed.
        std::vector<std::filesystem::path> expected_reads;
        if (row.name > "a.sys") expected_reads.push_back(folder / "a.sys");
        if (row.message != "invalid bundled file name") {
            expected_reads.push_back(entry_path(folder, row.name));
        }
        EXPECT_EQ(reader.reads, expected_reads) << row.label;
    }
}

TEST(DriverIntegrity, AnUnreadableManifestReadsNoFile) {
    FakeFileReader reader;
    const Status status = verify_driver_files("/pkg", R"({"a.sys": 1})", reader);
    EXPECT_EQ(status.error(), "[json.exception.type_error.302] type must be string, but is number");
    EXPECT_TRUE(reader.calls.empty());
}

// Both folders are held, outer first, once and before the first file is read; a folder that
// cannot be held fails like a missing first file and no file is read.
TEST(DriverIntegrity, HoldsTheFoldersBeforeTheFirstFile) {
    using Kind = FileReadError::Kind;
    const std::filesystem::path folder = std::filesystem::path("/app") / "drivers" / "vbcable";
    const std::string hold_outer = "hold " + folder.parent_path().string();
    const std::string hold_inner = "hold " + folder.string();
    const std::string read_a = "read " + (folder / "a.sys").string();
    const std::string read_b = "read " + (folder / "b.sys").string();
    struct Row {
        std::string label;
        std::map<std::filesystem::path, FileReadError> refused;
        std::vector<std::pair<std::string, std::string>> members;
        std::optional<std::string> message;  // nothing: success
        std::vector<std::string> calls;
    };
    const std::vector<std::pair<std::string, std::string>> two = {{"b.sys", kAbcDigest},
                                                                  {"a.sys", kAbcDigest}};
    const Row rows[] = {
        {"both held", {}, two, std::nullopt, {hold_outer, hold_inner, read_a, read_b}},
        {"outer refused as a reparse point",
         {{folder.parent_path(), {Kind::reparse, 0}}},
         two,
         "missing bundled driver file a.sys",
         {hold_outer}},
        {"driver folder refused as a reparse point",
         {{folder, {Kind::reparse, 0}}},
         two,
         "missing bundled driver file a.sys",
         {hold_outer, hold_inner}},
        {"driver folder absent",
         {{folder, {Kind::open, 2}}},
         two,
         "missing bundled driver file a.sys",
         {hold_outer, hold_inner}},
        {"an invalid first name fails before anything is held",
         {},
         {{"A/y", kAbcDigest}, {"a.sys", kAbcDigest}},
         "invalid bundled file name",
         {}},
        {"an empty manifest holds nothing", {}, {}, std::nullopt, {}},
    };
    for (const Row& row : rows) {
        FakeFileReader reader;
        reader.files[folder / "a.sys"] = std::string("abc");
        reader.files[folder / "b.sys"] = std::string("abc");
        reader.refused_folders = row.refused;
        const Status status = verify_driver_files(folder, manifest_text(row.members), reader);
        if (row.message) {
            ASSERT_FALSE(status.has_value()) << row.label;
            EXPECT_EQ(status.error(), *row.message) << row.label;
        } else {
            EXPECT_TRUE(status.has_value()) << row.label;
        }
        EXPECT_EQ(reader.calls, row.calls) << row.label;
    }
}

TEST(DriverIntegrity, RealFolderPassesWithExtraFilesAndSubfolders) {
    const TempFolder folder;
    folder.write("VBCABLE_Setup.exe", "abc");
    folder.write("empty.cat", "");
    folder.write("not_listed.sys", "anything");
    std::filesystem::create_directories(folder.path() / "sub" / "deeper");
    folder.write("sub/VBCABLE_Setup.exe", "different");
    const std::string text =
        manifest_text({{"VBCABLE_Setup.exe", kAbcDigest}, {"empty.cat", kEmptyDigest}});
    const Status status = verify_through_system_reader(folder.path(), text);
    EXPECT_TRUE(status.has_value()) << status.error();
}

TEST(DriverIntegrity, RealFolderReportsTheFirstMissingNameInByteOrder) {
    const TempFolder folder;
    folder.write("b.inf", "abc");
    const std::string text = manifest_text(
        {{"readme.txt", kAbcDigest}, {"b.inf", kAbcDigest}, {"VBCABLE_Setup.exe", kAbcDigest}});
    EXPECT_EQ(verify_through_system_reader(folder.path(), text).error(),
              "missing bundled driver file VBCABLE_Setup.exe");
}

TEST(DriverIntegrity, RealFolderChangedOrEmptiedFileFails) {
    const TempFolder folder;
    const std::string content = "0123456789";
    const std::string text = manifest_text({{"vb.sys", digest_of(content)}});
    std::string changed = content;
    changed[4] = static_cast<char>(changed[4] ^ 0x01);
    for (const std::string& replacement : {changed, std::string(), content + "\n"}) {
        folder.write("vb.sys", replacement);
        EXPECT_EQ(verify_through_system_reader(folder.path(), text).error(),
                  "bundled driver integrity check failed: vb.sys");
    }
    folder.write("vb.sys", content);
    EXPECT_TRUE(verify_through_system_reader(folder.path(), text).has_value());
}

TEST(DriverIntegrity, RealFolderNamesThatPassTheRuleButNameNoFileAreMissing) {
    const TempFolder folder;
    std::filesystem::create_directory(folder.path() / "sub.sys");
    // A folder in the file's place, and single-component names that name folders or nothing.
    for (const std::string name : {"sub.sys", ".", "..", "/", "\\", "C:", "a\\.", "a//"}) {
        const Status status =
            verify_through_system_reader(folder.path(), manifest_text({{name, kAbcDigest}}));
        ASSERT_FALSE(status.has_value()) << name;
        EXPECT_EQ(status.error(), "missing bundled driver file " + name);
    }
}

TEST(DriverIntegrity, ShippedManifestAgainstAMissingFolderNamesItsFirstFile) {
    const TempFolder folder;
    EXPECT_EQ(
        verify_through_system_reader(folder.path() / "drivers" / "vbcable", embedded_manifest())
            .error(),
        "missing bundled driver file VBCABLE_ControlPanel.exe");
}

}  // namespace
}  // namespace quorle::setup
