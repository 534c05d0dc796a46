#include "common/json_text.h"

#include <gtest/gtest.h>

namespace quorle::json {
namespace {

TEST(JsonString, EscapesExactlyTheStandardSet) {
    struct Case {
        std::string input;
        std::string expected;
    };
    const Case cases[] = {
        {"", R"("")"},
        {"quote\" back\\", R"("quote\" back\\")"},
        {"\b\t\n\f\r", R"("\b\t\n\f\r")"},
        {std::string("\x00\x01\x1f", 3), R"("\u0000\u0001\u001f")"},
        {"\x0b", R"("\u000b")"},
        {"a/b\x7f", "\"a/b\x7f\""},
        {"\xc3\xa9\xe2\x82\xac", "\"\xc3\xa9\xe2\x82\xac\""},
        {"C:\\Apps\\player.exe", R"("C:\\Apps\\player.exe")"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(json::quoted(c.input), c.expected);
    }
}

TEST(JsonNumber, WritesPlainDecimal) {
    std::string out;
    append_uint(out, 0);
    out += ',';
    append_uint(out, 18446744073709551615ull);
    EXPECT_EQ(out, "0,18446744073709551615");
}

}  // namespace
}  // namespace quorle::json
