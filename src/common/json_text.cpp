#include "common/json_text.h"

#include <charconv>

namespace quorle::json {

void append_string(std::string& out, std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    out.push_back('"');
    for (const char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\f':
                out += "\\f";
                break;
            case '\r':
                out += "\\r";
                break;
            default: {
                const auto u = static_cast<unsigned char>(c);
                if (u < 0x20) {
                    out += "\\u00";
                    out.push_back(kHex[u >> 4]);
                    out.push_back(kHex[u & 0x0F]);
                } else {
                    out.push_back(c);
                }
            }
        }
    }
    out.push_back('"');
}

void append_uint(std::string& out, std::uint64_t value) {
    char buffer[24];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    (void)ec;  // 24 bytes always hold a 64-bit value
    out.append(buffer, end);
}

void append_key(std::string& out, std::string_view name) {
    append_string(out, name);
    out.push_back(':');
}

std::string quoted(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    append_string(out, text);
    return out;
}

}  // namespace quorle::json
