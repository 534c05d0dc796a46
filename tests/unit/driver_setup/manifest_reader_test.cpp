#include "driver_setup/manifest_reader.h"

#include <gtest/gtest.h>

#include <string>

#include "common/text.h"

namespace quorle::setup {
namespace {

TEST(ManifestReader, ReadsAnObjectOfStringsIntoByteOrder) {
    const std::string text =
        "{\r\n  \"readme.txt\": \"r\",\r\n  \"VBCABLE_Setup.exe\": \"s\",\r\n"
        "  \"\xC3\xA9.sys\": \"e\",\r\n  \"Zeta\": \"z\"\r\n}\r\n \t\r\n";
    const Result<DigestManifest> manifest = read_manifest(text);
    ASSERT_TRUE(manifest.has_value()) << manifest.error();
    std::string order;
    for (const auto& [name, digest] : *manifest)
        order += digest;
    // Upper case before lower case, and bytes above 0x7F after all ASCII.
    EXPECT_EQ(order, "szre");
}

TEST(ManifestReader, TheLastOfTwoEqualNamesWins) {
    const Result<DigestManifest> manifest = read_manifest(R"({"a": "1", "b": "2", "a": "3"})");
    ASSERT_TRUE(manifest.has_value());
    EXPECT_EQ(*manifest, (DigestManifest{{"a", "3"}, {"b", "2"}}));
}

TEST(ManifestReader, EscapesAndEmptyObjectsAreJson) {
    EXPECT_EQ(read_manifest("{}").value(), DigestManifest{});
    EXPECT_EQ(read_manifest(R"({"a\\b\u00e9": "\u0041"})").value(),
              (DigestManifest{{"a\\b\xC3\xA9", "A"}}));
}

TEST(ManifestReader, MalformedManifestsGiveTheReadersOwnText) {
    struct Row {
        std::string text;
        std::string message;
    };
    const Row rows[] = {
        {"",
         "[json.exception.parse_error.101] parse error at line 1, column 1: syntax error while "
         "parsing value - unexpected end of input; expected '[', '{', or a literal"},
        {"{",
         "[json.exception.parse_error.101] parse error at line 1, column 2: syntax error while "
         "parsing object key - unexpected end of input; expected string literal"},
        {R"({"a": "x",})",
         "[json.exception.parse_error.101] parse error at line 1, column 11: syntax error while "
         "parsing object key - unexpected '}'; expected string literal"},
        {R"({"a": "x"} x)",
         "[json.exception.parse_error.101] parse error at line 1, column 12: syntax error while "
         "parsing value - invalid literal; last read: '\"x\"} x'; expected end of input"},
        {"{\r\n  \"a\": \"x\"\r\n}\r\n}",
         "[json.exception.parse_error.101] parse error at line 4, column 1: syntax error while "
         "parsing value - unexpected '}'; expected end of input"},
        {"[]", "[json.exception.type_error.302] type must be object, but is array"},
        {R"("a")", "[json.exception.type_error.302] type must be object, but is string"},
        {R"({"a": 1})", "[json.exception.type_error.302] type must be string, but is number"},
        {R"({"a": null})", "[json.exception.type_error.302] type must be string, but is null"},
        {R"({"a": {"b": "c"}})",
         "[json.exception.type_error.302] type must be string, but is object"},
        {R"({"a": "\ud800"})",
         "[json.exception.parse_error.101] parse error at line 1, column 14: syntax error while "
         "parsing value - invalid string: surrogate U+D800..U+DBFF must be followed by "
         "U+DC00..U+DFFF; last read: '\"\\ud800\"'"},
        {"{\"a\n\": \"x\"}",
         "[json.exception.parse_error.101] parse error at line 2, column 0: syntax error while "
         "parsing object key - invalid string: control character U+000A (LF) must be escaped "
         "to \\u000A or \\n; last read: '\"a<U+000A>'; expected string literal"},
    };
    for (const Row& row : rows) {
        const Result<DigestManifest> manifest = read_manifest(row.text);
        ASSERT_FALSE(manifest.has_value()) << row.text;
        EXPECT_EQ(manifest.error(), row.message) << row.text;
    }
}

TEST(ManifestReader, QuotedBytesThatAreNotUtf8BecomeReplacementCharacters) {
    const Result<DigestManifest> manifest = read_manifest("{\"a\": \"\xFF\"}");
    ASSERT_FALSE(manifest.has_value());
    EXPECT_EQ(manifest.error(),
              "[json.exception.parse_error.101] parse error at line 1, column 8: syntax error "
              "while parsing value - invalid string: ill-formed UTF-8 byte; last read: "
              "'\"\xEF\xBF\xBD'");
    EXPECT_TRUE(is_valid_utf8(manifest.error()));
}

}  // namespace
}  // namespace quorle::setup
