#pragma once
// Text of a failed operating-system or audio call, in one form on every platform:
//   "<message without trailing white space> (0xXXXXXXXX)"   or, without a message,
//   "0xXXXXXXXX"
// A step's failure message is "<context>: <platform error text>".
#include <cstdint>
#include <string>
#include <string_view>
#include <system_error>

namespace quorle {

// HRESULT_FROM_WIN32: a positive Windows error number n becomes 0x80070000 | (n & 0xFFFF);
// 0 stays 0; values that already look like an HRESULT (high bit set) pass unchanged.
[[nodiscard]] constexpr std::uint32_t hresult_from_win32(std::uint32_t code) {
    if (static_cast<std::int32_t>(code) <= 0) return code;
    return (code & 0x0000FFFFu) | 0x80070000u;
}

// The code written as "0x" and eight upper-case hexadecimal digits.
[[nodiscard]] std::string hex_code(std::uint32_t code);

// Combines a system message (trailing tab, LF, VT, FF, CR and space removed) with the code.
// An empty message (after trimming) gives the code-only form.
[[nodiscard]] std::string format_error_text(std::string_view system_message, std::uint32_t code);

// The platform error text for `code`:
// - Windows: `code` is an HRESULT (convert last-error values with hresult_from_win32 first);
//   the message comes from the system message tables.
// - Linux: `code` is an errno value, or an errno value e carried as hresult_from_win32(e)
//   (0x8007xxxx); the message is strerror's text, and an unknown number gives the code-only
//   form.
[[nodiscard]] std::string platform_error_text(std::uint32_t code);

// Linux layers whose codes carry a facility of their own (the PulseAudio capture's
// 0xA050xxxx) register the description of those codes once, before any can be reported;
// platform_error_text then uses it. The provider answers an empty text for other codes.
using ErrorDescriptionProvider = std::string (*)(std::uint32_t code);
void set_error_description_provider(ErrorDescriptionProvider provider);
// The registered provider's description of `code`; empty without a provider or an answer.
[[nodiscard]] std::string registered_error_description(std::uint32_t code);

// "<context>: <platform_error_text(code)>"
[[nodiscard]] std::string context_error(std::string_view context, std::uint32_t code);

// "<prefix><description> (os error <code in decimal>)", the form used for failed thread
// creation. `code` is the operating system's own error number.
[[nodiscard]] std::string os_error_message(std::string_view prefix, int code);
// The same form for an error of the C++ runtime: its own category's description (an errno
// value's strerror text from std::thread, never the Windows message table), trailing white
// space removed, and its number.
[[nodiscard]] std::string os_error_message(std::string_view prefix, const std::error_code& code);

// The operating system's description of its own error number (strerror on Linux,
// FormatMessage on Windows), trailing white space removed.
[[nodiscard]] std::string os_error_description(int code);

}  // namespace quorle
