#pragma once
// SHA-256 (FIPS 180-4) of a whole content, as text.
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace quorle::setup {

// Two lower-case hexadecimal digits per byte, high nibble first, bytes in order.
[[nodiscard]] std::string lower_hex(std::span<const unsigned char> bytes);

// Prepares the digest library once for the whole process, without reading any configuration
// file: the program runs elevated, and a configuration named by the user's environment (or
// found at a default path the user may be able to create) could load a module by path into
// it. Must run before any other use of the library. False when the preparation failed; every
// digest then fails as well.
[[nodiscard]] bool prepare_digest_library();

// The digest of `content` in one call, as 64 lower-case hexadecimal digits; nothing when the
// digest library fails or could not be prepared.
[[nodiscard]] std::optional<std::string> sha256_hex(std::string_view content);

}  // namespace quorle::setup
