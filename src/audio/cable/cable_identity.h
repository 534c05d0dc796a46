#pragma once
// The hardware identities that tell the two virtual cables' driver devices apart, and how a
// hardware identifier is matched against them.
#include <string_view>

namespace quorle::audio {

inline constexpr std::string_view kVbCableIdentity = "VBAudioVACWDM";    // VB-CABLE
inline constexpr std::string_view kHifiCableIdentity = "VBAudioHFVAIO";  // Hi-Fi Cable

// True when `hardware_id` is exactly as long as `identity` (13 characters for both cables)
// and equal to it ignoring the case of ASCII letters. A longer identifier that merely
// begins with the identity does not match.
[[nodiscard]] bool matches_cable_identity(std::string_view hardware_id, std::string_view identity);

// True when `hardware_id` matches either cable's identity.
[[nodiscard]] bool is_cable_identity(std::string_view hardware_id);

}  // namespace quorle::audio
