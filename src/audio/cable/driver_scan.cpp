#include "audio/cable/driver_scan.h"

#include <array>

#include "audio/cable/cable_identity.h"
#include "audio/cable/multi_string.h"
#include "common/text.h"

namespace quorle::audio {

// Judged by DN_HAS_PROBLEM itself: the problem number means something only with the flag.
bool node_started(ConfigRet result, const NodeStatus& status) {
    return result == kConfigRetSuccess && (status.status & kNodeHasProblem) == 0 &&
           (status.status & kNodeStarted) != 0;
}

bool node_needs_restart(ConfigRet result, const NodeStatus& status) {
    return result == kConfigRetSuccess &&
           (problem_of(status) == kProblemNeedsRestart || (status.status & kNodeNeedsRestart) != 0);
}

Result<std::u16string> fetch_present_device_ids(DeviceTree& tree) {
    for (int attempt = 0; attempt < kIdListAttempts; ++attempt) {
        std::uint32_t units = 0;
        if (tree.present_id_list_size(units) != kConfigRetSuccess) {
            return fail("Cannot enumerate Windows audio driver identities");
        }
        std::u16string list(units, u'\0');
        if (tree.present_id_list(std::span<char16_t>(list.data(), list.size())) ==
            kConfigRetSuccess) {
            return list;
        }
        // The list grew between the two calls: drop this buffer and ask again.
    }
    return fail("Audio devices changed during detection; refresh again");
}

std::vector<DriverDevice> scan_driver_devices(DeviceTree& tree, std::u16string_view id_list) {
    std::vector<DriverDevice> devices;
    for (const std::u16string_view raw_id : split_multi_string(id_list)) {
        // Through text and back, as every id handed to the platform is made.
        const std::u16string instance_id = utf8_to_utf16z(utf16_to_utf8(raw_id));
        DevNode node = 0;
        if (tree.locate(instance_id, node) != kConfigRetSuccess) continue;

        std::array<char16_t, kHardwareIdBufferBytes / sizeof(char16_t)> buffer{};
        auto length = static_cast<std::uint32_t>(kHardwareIdBufferBytes);
        if (tree.hardware_ids(node, buffer, length) != kConfigRetSuccess) continue;

        // The whole buffer is cut, whatever length came back: it was zero-filled, so
        // nothing beyond what the platform wrote can be mistaken for an identifier.
        for (const std::u16string_view raw_hardware_id :
             split_multi_string(std::u16string_view(buffer.data(), buffer.size()))) {
            std::string hardware_id = utf16_to_utf8(raw_hardware_id);
            if (!is_cable_identity(hardware_id)) continue;
            NodeStatus status;
            const ConfigRet result = tree.status(node, status);
            devices.push_back({std::move(hardware_id), node, node_started(result, status)});
        }
    }
    return devices;
}

}  // namespace quorle::audio
