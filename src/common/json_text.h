#pragma once
// The JSON text rules of the audio host's output: compact form, strings escaped with
// exactly \" \\ \b \t \n \f \r and \u00XX (lower-case hex) for other characters below
// U+0020; solidus, U+007F and all non-ASCII characters are written unescaped.
#include <cstdint>
#include <string>
#include <string_view>

namespace quorle::json {

// Appends `text` as a quoted JSON string.
void append_string(std::string& out, std::string_view text);

// Appends an unsigned integer in plain decimal.
void append_uint(std::string& out, std::uint64_t value);

// Appends a quoted member name and the colon: "name":
void append_key(std::string& out, std::string_view name);

[[nodiscard]] std::string quoted(std::string_view text);

}  // namespace quorle::json
