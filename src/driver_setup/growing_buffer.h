#pragma once
// Platform calls that copy a text into a caller's buffer of fixed size and silently cut it
// when it does not fit (GetModuleFileNameW, readlink): call again with a doubled buffer until
// the text fits.
#include <cstddef>
#include <cstdint>
#include <expected>
#include <string>

namespace quorle::setup {

// `fill(buffer, capacity)` writes at most `capacity` units and returns how many it wrote, or
// an error code. A result equal to `capacity` may be a cut text, so the buffer doubles and
// the call repeats. Once the capacity would pass `max_capacity`, `too_long_code` is returned.
template <class Char, class Fill>
[[nodiscard]] std::expected<std::basic_string<Char>, std::uint32_t> read_with_growing_buffer(
    Fill&& fill, std::size_t initial_capacity, std::size_t max_capacity,
    std::uint32_t too_long_code) {
    std::basic_string<Char> buffer;
    for (std::size_t capacity = initial_capacity; capacity <= max_capacity; capacity *= 2) {
        buffer.assign(capacity, Char{});
        const std::expected<std::size_t, std::uint32_t> written = fill(buffer.data(), capacity);
        if (!written) return std::unexpected(written.error());
        if (*written < capacity) {
            buffer.resize(*written);
            return buffer;
        }
    }
    return std::unexpected(too_long_code);
}

}  // namespace quorle::setup
