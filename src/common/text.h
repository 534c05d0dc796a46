#pragma once
// Text conversions between the platform's encodings and the UTF-8 used everywhere inside.
#include <string>
#include <string_view>

namespace quorle {

// UTF-16 to UTF-8; every unpaired surrogate becomes U+FFFD.
[[nodiscard]] std::string utf16_to_utf8(std::u16string_view text);

// UTF-8 to UTF-16 for a platform call. The returned string holds the text followed by
// exactly one terminating NUL unit inside its contents (so data() is ready to pass and
// size() counts the NUL). Invalid UTF-8 becomes U+FFFD, one per maximal invalid subsequence.
[[nodiscard]] std::u16string utf8_to_utf16z(std::string_view text);

// Arbitrary bytes to valid UTF-8: valid sequences pass unchanged, each maximal invalid
// subsequence (Unicode's "substitution of maximal subparts") becomes one U+FFFD.
[[nodiscard]] std::string bytes_to_utf8(std::string_view bytes);

// True when `bytes` is well-formed UTF-8.
[[nodiscard]] bool is_valid_utf8(std::string_view bytes);

// ASCII-only case folding: maps A-Z to a-z, leaves every other byte unchanged.
[[nodiscard]] char ascii_lower(char c);
[[nodiscard]] bool equals_ignore_ascii_case(std::string_view a, std::string_view b);

}  // namespace quorle
