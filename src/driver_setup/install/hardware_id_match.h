#pragma once
// Recognising the VB-CABLE's hardware identifier in a device's hardware-ID list.
#include <span>
#include <string_view>

namespace quorle::setup {

// The VB-CABLE device's hardware identifier.
inline constexpr std::u16string_view kCableHardwareId = u"VBAudioVACWDM";

// True when `text` (UTF-8) is exactly the 13-byte identifier, ignoring the case of ASCII
// letters.
[[nodiscard]] bool is_cable_hardware_id(std::string_view text);

// True when any NUL-separated piece of `multi_string` names the cable. The whole span is
// searched, not only up to the list's double NUL, so stray text after the terminator of a
// zero-filled buffer counts as well; each piece is decoded from UTF-16 with invalid units
// replaced by U+FFFD. Empty pieces never match.
[[nodiscard]] bool lists_cable_hardware_id(std::span<const char16_t> multi_string);

}  // namespace quorle::setup
