#include "driver_setup/install/hardware_id_match.h"

#include <string_view>

#include "audio/cable/cable_identity.h"
#include "audio/cable/multi_string.h"
#include "common/text.h"

namespace quorle::setup {

bool lists_cable_hardware_id(std::span<const char16_t> multi_string) {
    const std::u16string_view units(multi_string.data(), multi_string.size());
    for (const std::u16string_view piece : audio::split_multi_string(units)) {
        if (audio::matches_cable_identity(utf16_to_utf8(piece), audio::kVbCableIdentity)) {
            return true;
        }
    }
    return false;
}

}  // namespace quorle::setup
