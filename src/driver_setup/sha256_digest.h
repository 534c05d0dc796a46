#pragma once
// SHA-256 (FIPS 180-4) of a whole content, as text.
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace quorle::setup {

// Two lower-case hexadecimal digits per byte, high nibble first, bytes in order.
[[nodiscard]] std::string lower_hex(std::span<const unsigned char> bytes);

// The digest of `content` in one call, as 64 lower-case hexadecimal digits; nothing when the
// digest library fails.
[[nodiscard]] std::optional<std::string> sha256_hex(std::string_view content);

}  // namespace quorle::setup
