// UTF-8/UTF-16 conversions: lossy conversion always yields valid UTF-8, valid text survives
// the round trip unchanged, and UTF-16 from any units converts back to the same units when
// it held no unpaired surrogate.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::string clean = quorle::bytes_to_utf8(bytes);
    if (!quorle::is_valid_utf8(clean)) __builtin_trap();
    if (quorle::is_valid_utf8(bytes) && clean != bytes) __builtin_trap();

    std::u16string wide = quorle::utf8_to_utf16z(clean);
    if (wide.empty() || wide.back() != u'\0') __builtin_trap();
    wide.pop_back();
    if (quorle::utf16_to_utf8(wide) != clean) __builtin_trap();

    // The same bytes read as UTF-16 units.
    std::u16string units(size / 2, u'\0');
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        units[i / 2] = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    }
    const std::string narrow = quorle::utf16_to_utf8(units);
    if (!quorle::is_valid_utf8(narrow)) __builtin_trap();
    bool unpaired = false;
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t u = units[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] <= 0xDFFF) {
            ++i;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            unpaired = true;
        }
    }
    std::u16string back = quorle::utf8_to_utf16z(narrow);
    back.pop_back();
    if (!unpaired && back != units) __builtin_trap();
    return 0;
}
