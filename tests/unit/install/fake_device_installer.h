#pragma once
// A scripted device installer: present devices, the INF's class and the outcome of every
// call are set by the test; any call can be made to fail with any last-error code. Every
// call and every release of a device information set is appended to `log`, so a test can
// compare the whole sequence, clean-up order included.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "driver_setup/install/device_installer.h"

namespace quorle::setup::testing {

// The calls that can be made to fail.
enum class Op {
    kCreatePrivateFolder,
    kPointTempEnvironment,
    kReadInfClass,
    kOpenPresentDevices,
    kCreateDeviceList,
    kCreateDeviceInfo,
    kWriteHardwareIds,
    kRegisterDevice,
    kRemoveDevice,
    kUpdateDriver,
};

// One present device of the INF's class.
struct FakeDevice {
    std::u16string hardware_ids;  // written into the buffer as given, NULs included
    std::optional<std::uint32_t> hardware_ids_error;  // the property read fails with this code
    std::uint32_t dev_inst = 0;
    DevNodeStatus node{.config_ret = kConfigRetSuccess, .status = kDevNodeStarted, .problem = 0};
};

inline constexpr std::uint32_t kConfigRetNoSuchDevnode = 0x0D;  // CR_NO_SUCH_DEVNODE
// The device instance handle of the device the fake creates.
inline constexpr std::uint32_t kCreatedDevInst = 0x900;
// The private temporary folder the fake makes.
inline constexpr std::u16string_view kFakePrivateFolder = u"C:\\Windows\\Temp\\quorle-1";

// The INF class the fake reports, unless the test changes it.
inline constexpr ClassGuid kFakeClassGuid{
    0x4D36E96C, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

class FakeDeviceInstaller final : public DeviceInstaller {
  public:
    // --- script ---
    ClassGuid inf_class_guid = kFakeClassGuid;
    std::u16string inf_class_name = u"MEDIA";  // copied into the buffer, at most 128 units
    std::vector<FakeDevice> present_devices;
    std::map<Op, std::uint32_t> failures;  // the call fails with this last error
    // Fetching the member at `first` fails with the code `second` (instead of the member or
    // the end of the list).
    std::optional<std::pair<std::uint32_t, std::uint32_t>> enum_failure;
    bool reboot_required = false;  // reported by a successful driver update
    // The status of the device the run creates, once registered.
    DevNodeStatus created_node{.config_ret = kConfigRetNoSuchDevnode, .status = 0, .problem = 0};
    std::uint32_t pending_wait_result = kWaitObject0;

    // --- record ---
    std::vector<std::string> log;
    std::u16string private_folder_sddl;   // as passed to create_private_folder
    std::u16string temp_environment;      // as passed to point_temp_environment
    std::u16string removed_folder;        // as passed to remove_private_folder
    std::u16string read_inf_path;         // as passed to read_inf_class
    std::u16string update_inf_path;       // as passed to update_driver
    std::u16string update_hardware_id;    // as passed to update_driver
    std::u16string created_device_name;   // as passed to create_device_info
    std::u16string written_hardware_ids;  // as passed to write_hardware_ids
    std::vector<ClassGuid> set_classes;   // the class of every set opened or created
    ClassGuid created_device_class{};
    int open_sets = 0;  // sets not destroyed yet

    PrivateFolder create_private_folder(const std::u16string& sddl) override;
    CallResult point_temp_environment(const std::u16string& folder) override;
    void remove_private_folder(const std::u16string& folder) override;
    CallResult read_inf_class(const std::u16string& inf_path, ClassGuid& class_guid,
                              std::span<char16_t, kClassNameUnits> class_name) override;
    OpenedSet open_present_devices(const ClassGuid& class_guid) override;
    OpenedSet create_device_list(const ClassGuid& class_guid) override;
    DevNodeStatus devnode_status(std::uint32_t dev_inst) override;
    std::uint32_t wait_no_pending_installs(std::uint32_t timeout_ms) override;
    DriverUpdateResult update_driver(const std::u16string& hardware_id,
                                     const std::u16string& inf_path) override;

    // Used by the fake's sets.
    [[nodiscard]] std::optional<std::uint32_t> failure(Op op) const;
};

}  // namespace quorle::setup::testing
