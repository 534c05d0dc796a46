#pragma once
// Recognising the VB-CABLE's hardware identifier in a device's hardware-ID list.
#include <span>

namespace quorle::setup {

// True when any NUL-separated piece of `multi_string` is the VB-CABLE's identifier by the
// cable identity rule (13 characters, ASCII case ignored). The whole span is searched, not
// only up to the list's double NUL, so stray text after the terminator of a zero-filled
// buffer counts as well; each piece is decoded from UTF-16 with invalid units replaced by
// U+FFFD. Empty pieces never match.
[[nodiscard]] bool lists_cable_hardware_id(std::span<const char16_t> multi_string);

}  // namespace quorle::setup
