#include "common/platform_error.h"

#include <gtest/gtest.h>

namespace quorle {
namespace {

TEST(PlatformErrorText, TrimsTrailingWhiteSpaceAndAppendsCode) {
    EXPECT_EQ(format_error_text("Access is denied.\r\n", 0x80070005u),
              "Access is denied. (0x80070005)");
    EXPECT_EQ(format_error_text("msg \t\n\v\f\r ", 0x1u), "msg (0x00000001)");
    EXPECT_EQ(format_error_text("  inner  space", 0xABCDEFu), "  inner  space (0x00ABCDEF)");
    EXPECT_EQ(format_error_text("", 0x88890004u), "0x88890004");
    EXPECT_EQ(format_error_text(" \r\n", 0x0u), "0x00000000");
}

TEST(PlatformErrorText, HresultFromWin32) {
    EXPECT_EQ(hresult_from_win32(0), 0u);
    EXPECT_EQ(hresult_from_win32(5), 0x80070005u);
    EXPECT_EQ(hresult_from_win32(0x12345), 0x80072345u);  // low 16 bits only
    EXPECT_EQ(hresult_from_win32(0x80004005u), 0x80004005u);
}

TEST(PlatformErrorText, ContextComesFirst) {
    const std::string text = context_error("open process", 5);
    EXPECT_EQ(text.rfind("open process: ", 0), 0u) << text;
}

#ifdef _WIN32
TEST(PlatformErrorText, WindowsSystemMessages) {
    // Windows says "Access is denied.", Wine "Access denied.": the form is what matters.
    const std::string text = platform_error_text(hresult_from_win32(5));
    EXPECT_GT(text.size(), std::string(" (0x80070005)").size());
    EXPECT_TRUE(text.ends_with(". (0x80070005)")) << text;
    EXPECT_EQ(platform_error_text(0x8889FFFFu), "0x8889FFFF");
}
#else
TEST(PlatformErrorText, LinuxErrnoText) {
    EXPECT_EQ(platform_error_text(32), "Broken pipe (0x00000020)");
    EXPECT_EQ(platform_error_text(2), "No such file or directory (0x00000002)");
    EXPECT_EQ(platform_error_text(99999), "0x0001869F");
    EXPECT_EQ(platform_error_text(0x80070026u), "Function not implemented (0x80070026)");
    EXPECT_EQ(platform_error_text(0x80004005u), "0x80004005");
    EXPECT_EQ(os_error_message("capture worker: ", 11),
              "capture worker: Resource temporarily unavailable (os error 11)");
}
#endif

}  // namespace
}  // namespace quorle
