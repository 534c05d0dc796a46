#pragma once
// Reading an open file to its end with a size limit, shared by the platform file readers.
#include <algorithm>
#include <cstddef>
#include <expected>
#include <new>
#include <string>

#include "driver_setup/file_reader.h"

namespace quorle::setup {

// `read(buffer, size)` reads at most `size` bytes and returns how many it read (0 at the end
// of the file) or its error. `size_hint` is the size the platform reports for the file; the
// content may still turn out shorter or longer. More than `max_bytes`, or a buffer that
// cannot be allocated, fails as too large.
template <class Read>
[[nodiscard]] std::expected<std::string, FileReadError> read_to_end(Read&& read,
                                                                    std::size_t size_hint,
                                                                    std::size_t max_bytes) {
    constexpr std::size_t kGrowStep = std::size_t{64} << 10;
    const FileReadError too_large{FileReadError::Kind::too_large, 0};
    if (size_hint > max_bytes) return std::unexpected(too_large);
    std::string content;
    std::size_t filled = 0;
    try {
        content.resize(size_hint);
        for (;;) {
            if (filled == content.size()) {
                if (content.size() >= max_bytes) {
                    // At the limit: one more byte would be one too many.
                    char extra = 0;
                    const std::expected<std::size_t, FileReadError> more = read(&extra, 1);
                    if (!more) return std::unexpected(more.error());
                    if (*more != 0) return std::unexpected(too_large);
                    break;
                }
                const std::size_t room = max_bytes - content.size();
                content.resize(content.size() + std::min(room, std::max(kGrowStep, filled)));
            }
            const std::expected<std::size_t, FileReadError> got =
                read(content.data() + filled, content.size() - filled);
            if (!got) return std::unexpected(got.error());
            if (*got == 0) break;
            filled += std::min(*got, content.size() - filled);
        }
    } catch (const std::bad_alloc&) {
        return std::unexpected(too_large);
    } catch (const std::length_error&) {
        return std::unexpected(too_large);
    }
    content.resize(filled);
    return content;
}

}  // namespace quorle::setup
