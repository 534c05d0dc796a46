#include "driver_setup/windows_path_components.h"

#include <gtest/gtest.h>

#include <string>

namespace quorle::setup {
namespace {

struct NameRow {
    std::string name;
    std::size_t components;
};

// Every kind of piece the rule knows, alone and combined.
const NameRow kNames[] = {
    // plain names, including ones that only look special
    {"vbaudio_cable64_win10.sys", 1},
    {"VBCABLE_Setup.exe", 1},
    {"...", 1},
    {". ", 1},
    {"1:x", 1},  // a digit is not a drive letter
    {"\xC3\xA9t\xC3\xA9.inf", 1},
    {"\xE6\x97\xA5\xE6\x9C\xAC.sys", 1},
    {std::string("a\0b", 3), 1},
    // separators
    {"a/b", 2},
    {"a\\b", 2},
    {"a\\/b", 2},
    {"a//", 1},
    {"a\\", 1},
    {"/", 1},
    {"\\", 1},
    {"//", 1},
    {"/a", 2},
    {"\\a\\b", 3},
    // dots
    {".", 1},
    {"..", 1},
    {"./a", 2},
    {"a/.", 1},
    {"a/./b", 2},
    {"a/..", 2},
    {"../a", 2},
    {"/.", 1},
    {"/..", 2},
    // drive prefixes
    {"C:", 1},
    {"z:", 1},
    {"C:x", 2},
    {"a:b", 2},
    {"C:\\", 2},
    {"C:/x", 3},
    {"C:.", 2},
    // share and namespace prefixes carry an implied root
    {"\\\\server\\share", 2},
    {"//server/share", 2},
    {"\\\\server\\share\\", 2},
    {"\\\\server\\share\\x", 3},
    {"\\\\?\\C:\\x", 3},
    {"\\\\?\\x", 2},
    {"\\\\.\\COM1", 2},
    {"\\\\server", 2},  // no share: a root and a name
    {"\\\\.", 1},       // no device name: a root and a dropped `.`
    // nothing
    {"", 0},
};

TEST(WindowsPathComponents, CountsEveryKindOfPiece) {
    for (const NameRow& row : kNames) {
        EXPECT_EQ(windows_path_component_count(row.name), row.components) << '"' << row.name << '"';
        EXPECT_EQ(is_single_path_component(row.name), row.components == 1)
            << '"' << row.name << '"';
    }
}

}  // namespace
}  // namespace quorle::setup
