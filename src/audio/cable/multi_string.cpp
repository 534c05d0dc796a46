#include "audio/cable/multi_string.h"

namespace quorle::audio {

std::vector<std::u16string_view> split_multi_string(std::u16string_view buffer) {
    std::vector<std::u16string_view> pieces;
    std::size_t start = 0;
    while (start < buffer.size()) {
        std::size_t end = buffer.find(u'\0', start);
        if (end == std::u16string_view::npos) end = buffer.size();
        if (end > start) pieces.push_back(buffer.substr(start, end - start));
        start = end + 1;
    }
    return pieces;
}

}  // namespace quorle::audio
