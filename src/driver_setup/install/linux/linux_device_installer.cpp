// Linux has no Windows device installer: every operation answers "call not implemented",
// so an installation ends at its first step and nothing pretends to have been installed.
#include "driver_setup/install/device_installer.h"

namespace quorle::setup {
namespace {

class UnavailableDeviceInstaller final : public DeviceInstaller {
  public:
    PrivateFolder create_private_folder(const std::u16string&) override {
        return {.call = not_implemented(), .path = {}};
    }
    CallResult point_temp_environment(const std::u16string&) override { return not_implemented(); }
    void remove_private_folder(const std::u16string&) override {}
    CallResult read_inf_class(const std::u16string&, ClassGuid&,
                              std::span<char16_t, kClassNameUnits>) override {
        return not_implemented();
    }
    OpenedSet open_present_devices(const ClassGuid&) override {
        return {.set = nullptr, .last_error = kErrorCallNotImplemented};
    }
    OpenedSet create_device_list(const ClassGuid&) override {
        return {.set = nullptr, .last_error = kErrorCallNotImplemented};
    }
    DevNodeStatus devnode_status(std::uint32_t) override {
        return {.config_ret = kConfigRetCallNotImplemented, .status = 0, .problem = 0};
    }
    std::uint32_t wait_no_pending_installs(std::uint32_t) override { return kWaitFailed; }
    DriverUpdateResult update_driver(const std::u16string&, const std::u16string&) override {
        return {.call = not_implemented(), .reboot_required = false};
    }

  private:
    static CallResult not_implemented() {
        return {.succeeded = false, .last_error = kErrorCallNotImplemented};
    }
};

}  // namespace

DeviceInstaller& system_device_installer() {
    static UnavailableDeviceInstaller installer;
    return installer;
}

}  // namespace quorle::setup
