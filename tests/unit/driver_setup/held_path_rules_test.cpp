#include "driver_setup/held_path_rules.h"

#include <gtest/gtest.h>

#include <string>

namespace quorle::setup {
namespace {

using namespace std::string_literals;

TEST(HeldPathRules, OnlyNameSurrogatesAreRefused) {
    struct Row {
        const char* name;
        ReparseFacts facts;
        bool refused;
    };
    const Row rows[] = {
        {"no reparse point", {false, 0, false}, false},
        {"symbolic link", {true, 0xA000000C, true}, true},       // IO_REPARSE_TAG_SYMLINK
        {"junction", {true, 0xA0000003, true}, true},            // IO_REPARSE_TAG_MOUNT_POINT
        {"WSL symbolic link", {true, 0xA000001D, true}, true},   // IO_REPARSE_TAG_LX_SYMLINK
        {"cloud placeholder", {true, 0x9000001A, true}, false},  // IO_REPARSE_TAG_CLOUD
        {"cloud placeholder, flags", {true, 0x9000601A, true}, false},  // IO_REPARSE_TAG_CLOUD_6
        {"deduplicated file", {true, 0x80000013, true}, false},         // IO_REPARSE_TAG_DEDUP
        {"compressed file", {true, 0x80000017, true}, false},           // IO_REPARSE_TAG_WOF
        {"app execution alias", {true, 0x8000001B, true}, false},  // IO_REPARSE_TAG_APPEXECLINK
        // The name is a reparse point but the handle is not: the open went through it, as only
        // a link does (Wine's view of a host symbolic link).
        {"a link the open followed", {false, 0, true}, true},
        // The tag of the handle decides, whatever the name shows.
        {"surrogate on the handle alone", {true, 0xA000000C, false}, true},
        {"cloud placeholder on the handle alone", {true, 0x9000001A, false}, false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(refuses_reparse_point(row.facts), row.refused) << row.name;
    }
}

TEST(HeldPathRules, PlainFinalPathWhenItFitsMaxPath) {
    // A path of `units` units in all: "C:\" and then letters.
    const auto local = [](std::size_t units) { return u"C:\\"s + std::u16string(units - 3, u'a'); };
    struct Row {
        const char* name;
        std::u16string final_path;
        std::u16string handed_on;
    };
    const Row rows[] = {
        {"local", u"\\\\?\\C:\\App\\drivers\\vbcable", u"C:\\App\\drivers\\vbcable"},
        {"lower-case drive", u"\\\\?\\d:\\x", u"d:\\x"},
        {"share", u"\\\\?\\UNC\\server\\share\\drivers\\vbcable",
         u"\\\\server\\share\\drivers\\vbcable"},
        {"259 units and the NUL fit", u"\\\\?\\" + local(259), local(259)},
        {"260 units do not fit", u"\\\\?\\" + local(260), u"\\\\?\\" + local(260)},
        {"a share of 259 units fits", u"\\\\?\\UNC\\" + std::u16string(257, u's'),
         u"\\\\" + std::u16string(257, u's')},
        {"a share of 260 units does not", u"\\\\?\\UNC\\" + std::u16string(258, u's'),
         u"\\\\?\\UNC\\" + std::u16string(258, u's')},
        {"volume name kept", u"\\\\?\\Volume{0b1c}\\x", u"\\\\?\\Volume{0b1c}\\x"},
        {"drive without its root kept", u"\\\\?\\C:", u"\\\\?\\C:"},
        {"already plain", u"C:\\x", u"C:\\x"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(plain_final_path(row.final_path), row.handed_on) << row.name;
    }
}

}  // namespace
}  // namespace quorle::setup
