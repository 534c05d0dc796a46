#pragma once
// Lists of UTF-16 strings as Windows hands them out: a run of NUL-terminated strings in one
// buffer (device instance id lists, hardware-identifier lists).
#include <string_view>
#include <vector>

namespace quorle::audio {

// Cuts `buffer` at every NUL unit and returns the non-empty pieces in order. Empty pieces
// (the list's closing NUL, zero padding after it) are skipped, so the cut simply runs to the
// end of the buffer, and a last piece without its NUL ends at the buffer's end. The pieces
// point into `buffer`.
[[nodiscard]] std::vector<std::u16string_view> split_multi_string(std::u16string_view buffer);

}  // namespace quorle::audio
