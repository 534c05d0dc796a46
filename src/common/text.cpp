#include "common/text.h"

#include <cstdint>

namespace quorle {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

void append_utf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

void append_utf16(std::u16string& out, char32_t cp) {
    if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
    } else {
        const char32_t v = cp - 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (v >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (v & 0x3FF)));
    }
}

// Decodes one code point starting at `i`. Returns the code point and advances `i` past
// the sequence; an ill-formed sequence yields U+FFFD and advances past its maximal subpart
// (the longest prefix of a well-formed sequence, at least one byte), as Unicode recommends.
char32_t decode_utf8(std::string_view s, std::size_t& i, bool& valid) {
    const auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(s[k]); };
    const std::uint8_t b0 = byte(i);
    valid = true;
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    std::size_t need = 0;
    char32_t cp = 0;
    std::uint8_t lo = 0x80;
    std::uint8_t hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        need = 1;
        cp = b0 & 0x1Fu;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        need = 2;
        cp = b0 & 0x0Fu;
        if (b0 == 0xE0) lo = 0xA0;
        if (b0 == 0xED) hi = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        need = 3;
        cp = b0 & 0x07u;
        if (b0 == 0xF0) lo = 0x90;
        if (b0 == 0xF4) hi = 0x8F;
    } else {
        ++i;
        valid = false;
        return kReplacement;
    }
    std::size_t j = i + 1;
    for (std::size_t k = 0; k < need; ++k, ++j) {
        if (j >= s.size()) {
            i = j;
            valid = false;
            return kReplacement;
        }
        const std::uint8_t b = byte(j);
        const std::uint8_t low_bound = k == 0 ? lo : std::uint8_t{0x80};
        const std::uint8_t high_bound = k == 0 ? hi : std::uint8_t{0xBF};
        if (b < low_bound || b > high_bound) {
            i = j;  // the offending byte starts the next sequence
            valid = false;
            return kReplacement;
        }
        cp = (cp << 6) | (b & 0x3Fu);
    }
    i = j;
    return cp;
}

}  // namespace

std::string utf16_to_utf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t u = text[i];
        if (u >= 0xD800 && u <= 0xDBFF) {
            if (i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
                const char32_t cp =
                    0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
                append_utf8(out, cp);
                ++i;
            } else {
                append_utf8(out, kReplacement);
            }
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            append_utf8(out, kReplacement);
        } else {
            append_utf8(out, u);
        }
    }
    return out;
}

std::u16string utf8_to_utf16z(std::string_view text) {
    std::u16string out;
    out.reserve(text.size() + 1);
    std::size_t i = 0;
    bool valid = true;
    while (i < text.size()) {
        append_utf16(out, decode_utf8(text, i, valid));
    }
    out.push_back(u'\0');
    return out;
}

std::string bytes_to_utf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    std::size_t i = 0;
    bool valid = true;
    while (i < bytes.size()) {
        const std::size_t start = i;
        const char32_t cp = decode_utf8(bytes, i, valid);
        if (valid) {
            out.append(bytes.substr(start, i - start));
        } else {
            append_utf8(out, cp);
        }
    }
    return out;
}

bool is_valid_utf8(std::string_view bytes) {
    std::size_t i = 0;
    bool valid = true;
    while (i < bytes.size()) {
        decode_utf8(bytes, i, valid);
        if (!valid) return false;
    }
    return true;
}

char ascii_lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equals_ignore_ascii_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
    }
    return true;
}

}  // namespace quorle
