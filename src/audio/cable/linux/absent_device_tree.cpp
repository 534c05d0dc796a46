// Linux has no Windows device tree: every Configuration Manager call answers that it is not
// implemented here, so detection stops at its first step and claims nothing.
#include "audio/cable/system_cable_platform.h"

namespace quorle::audio {
namespace {

class AbsentDeviceTree final : public DeviceTree {
  public:
    ConfigRet present_id_list_size(std::uint32_t& units) override {
        units = 0;
        return kConfigRetNotImplemented;
    }
    ConfigRet present_id_list(std::span<char16_t> /*buffer*/) override {
        return kConfigRetNotImplemented;
    }
    ConfigRet locate(std::u16string_view /*instance_id_z*/, DevNode& node) override {
        node = 0;
        return kConfigRetNotImplemented;
    }
    ConfigRet hardware_ids(DevNode /*node*/, std::span<char16_t> /*buffer*/,
                           std::uint32_t& length_bytes) override {
        length_bytes = 0;
        return kConfigRetNotImplemented;
    }
    ConfigRet status(DevNode /*node*/, NodeStatus& status) override {
        status = {};
        return kConfigRetNotImplemented;
    }
    ConfigRet parent(DevNode /*node*/, DevNode& parent) override {
        parent = 0;
        return kConfigRetNotImplemented;
    }
};

}  // namespace

std::unique_ptr<DeviceTree> system_device_tree() {
    return std::make_unique<AbsentDeviceTree>();
}

}  // namespace quorle::audio
