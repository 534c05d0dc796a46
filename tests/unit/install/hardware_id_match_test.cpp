#include "driver_setup/install/hardware_id_match.h"

#include <gtest/gtest.h>

#include <string>

namespace quorle::setup {
namespace {

using namespace std::string_literals;

// Pieces of a hardware-ID list, matched by the exact identity rule: 13 characters, ASCII
// case ignored, anywhere in the buffer.
TEST(HardwareIdMatch, MultiStrings) {
    const std::pair<std::u16string, bool> rows[] = {
        {u"VBAudioVACWDM\0\0"s, true},
        {u"vbaudiovacwdm\0\0"s, true},
        {u"VBAUDIOVACWDM\0\0"s, true},
        {u"ROOT\\MEDIA\0VBAudioVACWDM\0\0"s, true},
        {u"\0\0\0VBAudioVACWDM\0"s, true},   // empty pieces before it
        {u"A\0\0VBAudioVACWDM\0\0"s, true},  // after the list's terminator
        {u"VBAudioVACWDM"s, true},           // no terminator at all
        {u"VBAudioVACWDMX\0\0"s, false},     // one character too many
        {u"VBAudioVACWD\0\0"s, false},       // one character missing
        {u" VBAudioVACWDM\0\0"s, false},
        {u"ROOT\\VBAudioVACWDM\0\0"s, false},
        {u"VBAudioVACWDM\u00A0\0\0"s, false},
        {u"VBAudioVACWD\u041C\0\0"s, false},  // Cyrillic capital EM in place of M
        {u"VBAudioVACWD\u212A\0\0"s, false},  // Kelvin sign: not an ASCII letter
        {u"VBAudioVACW\xD800M\0\0"s, false},  // unpaired surrogate decodes to U+FFFD
        {u"\0\0"s, false},
        {u""s, false},
        {u"VBAudioHFVAIO\0\0"s, false},  // the Hi-Fi Cable is not the cable installed here
    };
    for (std::size_t row = 0; row < std::size(rows); ++row) {
        SCOPED_TRACE("row " + std::to_string(row));
        EXPECT_EQ(lists_cable_hardware_id(rows[row].first), rows[row].second);
    }
}

}  // namespace
}  // namespace quorle::setup
