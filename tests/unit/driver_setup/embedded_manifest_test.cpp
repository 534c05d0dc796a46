#include "driver_setup/embedded_manifest.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "driver_setup/manifest_reader.h"
#include "driver_setup/windows_path_components.h"

namespace quorle::setup {
namespace {

TEST(EmbeddedManifest, IsTheSourceFileByteForByte) {
    std::ifstream file(QUORLE_SHIPPED_MANIFEST_PATH, std::ios::binary);
    ASSERT_TRUE(file.good()) << QUORLE_SHIPPED_MANIFEST_PATH;
    std::ostringstream source_bytes;
    source_bytes << file.rdbuf();
    const std::string source = std::move(source_bytes).str();
    EXPECT_EQ(embedded_manifest(), source);
    EXPECT_EQ(embedded_manifest().size(), 2982u);
}

TEST(EmbeddedManifest, HoldsThirtyOneWellFormedEntriesInTheShippedLayout) {
    const std::string_view text = embedded_manifest();
    // 31 member lines between "{" and "}", every line ending in CRLF, no bare LF.
    std::size_t crlf = 0;
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i + 1] == '\n') {
            EXPECT_EQ(text[i], '\r') << "line end at " << i + 1;
            ++crlf;
        }
    }
    EXPECT_EQ(crlf, 33u);
    EXPECT_TRUE(text.starts_with("{\r\n  \"VBCABLE_ControlPanel.exe\": \"f5b44706"));
    EXPECT_TRUE(text.ends_with(
        "9f9bc80a96cc94c761887749e51d9b4fb7ee6741ce624b8b2f9f85cd2e3fb02e\"\r\n}\r\n"));

    const Result<DigestManifest> manifest = read_manifest(text);
    ASSERT_TRUE(manifest.has_value()) << manifest.error();
    EXPECT_EQ(manifest->size(), 31u);
    EXPECT_EQ(manifest->begin()->first, "VBCABLE_ControlPanel.exe");
    EXPECT_EQ(manifest->count("vbMmeCable64_win10.inf"), 1u);
    for (const auto& [name, digest] : *manifest) {
        EXPECT_TRUE(is_single_path_component(name)) << name;
        EXPECT_EQ(digest.size(), 64u) << name;
        EXPECT_EQ(digest.find_first_not_of("0123456789abcdef"), std::string::npos) << name;
    }
}

}  // namespace
}  // namespace quorle::setup
