#include "audio/cable/cable_identity.h"

#include "common/text.h"

namespace quorle::audio {

bool matches_cable_identity(std::string_view hardware_id, std::string_view identity) {
    return hardware_id.size() == identity.size() && equals_ignore_ascii_case(hardware_id, identity);
}

bool is_cable_identity(std::string_view hardware_id) {
    return matches_cable_identity(hardware_id, kVbCableIdentity) ||
           matches_cable_identity(hardware_id, kHifiCableIdentity);
}

}  // namespace quorle::audio
