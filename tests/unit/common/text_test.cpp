#include "common/text.h"

#include <gtest/gtest.h>

namespace quorle {
namespace {

struct Utf16Case {
    std::u16string input;
    std::string expected;
};

TEST(Utf16ToUtf8, ConvertsAndReplacesUnpairedSurrogates) {
    const Utf16Case cases[] = {
        {u"", ""},
        {u"C:\\Apps\\player.exe", "C:\\Apps\\player.exe"},
        {u"\u00e9\u4e2d", "\xc3\xa9\xe4\xb8\xad"},
        {u"\U0001F600", "\xf0\x9f\x98\x80"},                    // a valid pair
        {std::u16string(1, char16_t{0xD800}), "\xef\xbf\xbd"},  // lone high
        {std::u16string(1, char16_t{0xDC00}), "\xef\xbf\xbd"},  // lone low
        {std::u16string{char16_t{0xDC00}, char16_t{0xD800}}, "\xef\xbf\xbd\xef\xbf\xbd"},
        {std::u16string{u'a', char16_t{0xD83D}, u'b'},
         "a\xef\xbf\xbd"
         "b"},
        {std::u16string{char16_t{0xD83D}, char16_t{0xD83D}, char16_t{0xDE00}},
         "\xef\xbf\xbd\xf0\x9f\x98\x80"},
        {std::u16string(1, char16_t{0}), std::string(1, '\0')},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(utf16_to_utf8(c.input), c.expected);
    }
}

TEST(Utf8ToUtf16z, AppendsExactlyOneNul) {
    const std::u16string wide = utf8_to_utf16z("VBAudioVACWDM");
    ASSERT_EQ(wide.size(), 14u);
    EXPECT_EQ(wide.back(), u'\0');
    EXPECT_EQ(wide.substr(0, 13), u"VBAudioVACWDM");
    EXPECT_EQ(utf8_to_utf16z(""), std::u16string(1, u'\0'));
    EXPECT_EQ(utf8_to_utf16z("\xf0\x9f\x98\x80"), (std::u16string{0xD83D, 0xDE00, 0}));
    EXPECT_EQ(utf8_to_utf16z("a\xff"), (std::u16string{u'a', 0xFFFD, 0}));
}

TEST(BytesToUtf8, ReplacesEachMaximalInvalidSubsequence) {
    struct Case {
        std::string input;
        std::string expected;
    };
    const std::string r = "\xef\xbf\xbd";
    const Case cases[] = {
        {"plain", "plain"},
        {"\xc3\xa9", "\xc3\xa9"},
        // Unicode's own example (table 3-8): 61 F1 80 80 E1 80 C2 62 80 63 80 BF 64.
        {"\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64",
         "a" + r + r + r + "b" + r + "c" + r + r + "d"},
        {"\xc0\xaf", r + r},                  // overlong: each byte on its own
        {"\xed\xa0\x80", r + r + r},          // encoded surrogate
        {"\xf4\x90\x80\x80", r + r + r + r},  // beyond U+10FFFF
        {"\xe2\x82", r},                      // truncated at the end: one replacement
        {"\xe2\x82"
         "a",
         r + "a"},
        {"\xff\xfe", r + r},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(bytes_to_utf8(c.input), c.expected) << "input size " << c.input.size();
        EXPECT_TRUE(is_valid_utf8(bytes_to_utf8(c.input)));
    }
    EXPECT_FALSE(is_valid_utf8("\xc3"));
}

TEST(AsciiCase, FoldsOnlyAsciiLetters) {
    EXPECT_TRUE(equals_ignore_ascii_case("C:\\Apps\\Player.EXE", "c:\\apps\\player.exe"));
    EXPECT_FALSE(equals_ignore_ascii_case("\xc3\x89", "\xc3\xa9"));  // É vs é
    EXPECT_FALSE(equals_ignore_ascii_case("abc", "abc\\"));
    EXPECT_FALSE(equals_ignore_ascii_case("@", "`"));  // neighbours of the letter ranges
    EXPECT_FALSE(equals_ignore_ascii_case("[", "{"));
}

}  // namespace
}  // namespace quorle
