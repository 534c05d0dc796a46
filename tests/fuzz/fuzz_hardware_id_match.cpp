// Hardware-ID multi-strings of any content: the search never reads outside the buffer and
// agrees with a direct check on the UTF-16 units (a piece names the cable exactly when it
// is 13 units long and each unit is the identifier's ASCII letter in either case).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "driver_setup/install/hardware_id_match.h"

namespace {

char16_t lower_ascii(char16_t unit) {
    return unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit - u'A' + u'a') : unit;
}

bool names_cable(std::u16string_view piece) {
    constexpr std::u16string_view kId = u"VBAudioVACWDM";
    if (piece.size() != kId.size()) return false;
    for (std::size_t i = 0; i < kId.size(); ++i) {
        if (lower_ascii(piece[i]) != lower_ascii(kId[i])) return false;
    }
    return true;
}

bool expected_match(std::u16string_view units) {
    std::size_t begin = 0;
    while (begin <= units.size()) {
        std::size_t end = units.find(u'\0', begin);
        if (end == std::u16string_view::npos) end = units.size();
        if (names_cable(units.substr(begin, end - begin))) return true;
        begin = end + 1;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Exactly sized, so that any read past the end is caught by the sanitizer.
    std::vector<char16_t> units(size / 2);
    for (std::size_t i = 0; i < units.size(); ++i) {
        units[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    }
    const bool found = quorle::setup::lists_cable_hardware_id(units);
    if (found != expected_match(std::u16string_view(units.data(), units.size()))) std::abort();
    return 0;
}
