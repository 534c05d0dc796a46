#include "driver_setup/install/hardware_id_match.h"

#include "common/text.h"

namespace quorle::setup {

bool is_cable_hardware_id(std::string_view text) {
    constexpr std::string_view kIdentity = "VBAudioVACWDM";
    return text.size() == kIdentity.size() && equals_ignore_ascii_case(text, kIdentity);
}

bool lists_cable_hardware_id(std::span<const char16_t> multi_string) {
    const std::u16string_view units(multi_string.data(), multi_string.size());
    std::size_t begin = 0;
    while (begin < units.size()) {
        std::size_t end = units.find(u'\0', begin);
        if (end == std::u16string_view::npos) end = units.size();
        if (end > begin && is_cable_hardware_id(utf16_to_utf8(units.substr(begin, end - begin)))) {
            return true;
        }
        begin = end + 1;
    }
    return false;
}

}  // namespace quorle::setup
