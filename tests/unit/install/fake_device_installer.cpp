#include "unit/install/fake_device_installer.h"

#include <algorithm>
#include <memory>

namespace quorle::setup::testing {
namespace {

constexpr std::uint32_t kErrorInvalidParameter = 87;
// Tags that the fake's elements carry in `reserved`, so that a set can tell its own
// elements from anyone else's, as SetupAPI does.
constexpr std::uintptr_t kClassMemberTag = 0x1000;
constexpr std::uintptr_t kCreatedTag = 0x2000;

CallResult ok() {
    return {.succeeded = true, .last_error = 0};
}
CallResult failed(std::uint32_t code) {
    return {.succeeded = false, .last_error = code};
}

class FakeSet final : public DeviceInfoSet {
  public:
    FakeSet(FakeDeviceInstaller& owner, std::string name, bool is_class_set)
        : owner_(owner), name_(std::move(name)), is_class_set_(is_class_set) {
        ++owner_.open_sets;
    }
    ~FakeSet() override {
        --owner_.open_sets;
        owner_.log.push_back("destroy " + name_);
    }
    FakeSet(const FakeSet&) = delete;
    FakeSet& operator=(const FakeSet&) = delete;

    CallResult enum_device_info(std::uint32_t index, DeviceElement& element) override {
        record("enum " + std::to_string(index));
        if (owner_.enum_failure && owner_.enum_failure->first == index) {
            return failed(owner_.enum_failure->second);
        }
        const auto& devices = members();
        if (index >= devices.size()) return failed(kErrorNoMoreItems);
        element = {.class_guid = owner_.inf_class_guid,
                   .dev_inst = devices[index].dev_inst,
                   .reserved = kClassMemberTag + index};
        return ok();
    }

    CallResult read_hardware_ids(const DeviceElement& element,
                                 std::span<char16_t, kHardwareIdUnits> buffer) override {
        const FakeDevice* device = member(element);
        if (device == nullptr) return foreign("read_hardware_ids");
        record("read_hardware_ids " + std::to_string(element.reserved - kClassMemberTag));
        if (device->hardware_ids_error) return failed(*device->hardware_ids_error);
        // Like the platform: only the property's own bytes are written, and a list that
        // does not fit is an error.
        if (device->hardware_ids.size() > buffer.size()) return failed(kErrorInsufficientBuffer);
        std::copy(device->hardware_ids.begin(), device->hardware_ids.end(), buffer.begin());
        return ok();
    }

    CallResult create_device_info(const std::u16string& device_name, const ClassGuid& class_guid,
                                  DeviceElement& element) override {
        record("create_device_info");
        owner_.created_device_name = device_name;
        owner_.created_device_class = class_guid;
        if (auto code = owner_.failure(Op::kCreateDeviceInfo)) return failed(*code);
        element = {.class_guid = class_guid, .dev_inst = kCreatedDevInst, .reserved = kCreatedTag};
        created_ = true;
        return ok();
    }

    CallResult write_hardware_ids(const DeviceElement& element,
                                  std::span<const char16_t> multi_string) override {
        if (!is_created(element)) return foreign("write_hardware_ids");
        record("write_hardware_ids");
        owner_.written_hardware_ids.assign(multi_string.begin(), multi_string.end());
        if (auto code = owner_.failure(Op::kWriteHardwareIds)) return failed(*code);
        return ok();
    }

    CallResult call_class_installer(std::uint32_t function, const DeviceElement& element) override {
        const char* what = function == kDifRegisterDevice ? "register"
                           : function == kDifRemove       ? "remove"
                                                          : "class installer (unexpected)";
        if (!is_created(element)) return foreign(what);
        record(what);
        const Op op = function == kDifRegisterDevice ? Op::kRegisterDevice : Op::kRemoveDevice;
        if (auto code = owner_.failure(op)) return failed(*code);
        return ok();
    }

  private:
    void record(const std::string& call) { owner_.log.push_back(name_ + ": " + call); }

    CallResult foreign(const std::string& call) {
        record(call + " with a foreign element");
        return failed(kErrorInvalidParameter);
    }

    // A creation list holds no present devices.
    const std::vector<FakeDevice>& members() const {
        static const std::vector<FakeDevice> none;
        return is_class_set_ ? owner_.present_devices : none;
    }

    const FakeDevice* member(const DeviceElement& element) const {
        const auto& devices = members();
        if (element.reserved < kClassMemberTag) return nullptr;
        const std::uintptr_t index = element.reserved - kClassMemberTag;
        if (index >= devices.size() || element.dev_inst != devices[index].dev_inst) return nullptr;
        return &devices[index];
    }

    bool is_created(const DeviceElement& element) const {
        return created_ && element.reserved == kCreatedTag && element.dev_inst == kCreatedDevInst;
    }

    FakeDeviceInstaller& owner_;
    std::string name_;
    bool is_class_set_;
    bool created_ = false;
};

}  // namespace

std::optional<std::uint32_t> FakeDeviceInstaller::failure(Op op) const {
    const auto found = failures.find(op);
    if (found == failures.end()) return std::nullopt;
    return found->second;
}

PrivateFolder FakeDeviceInstaller::create_private_folder(const std::u16string& sddl) {
    log.emplace_back("create_private_folder");
    private_folder_sddl = sddl;
    if (auto code = failure(Op::kCreatePrivateFolder)) return {.call = failed(*code), .path = {}};
    std::u16string path(kFakePrivateFolder);
    path.push_back(u'\0');
    return {.call = ok(), .path = std::move(path)};
}

CallResult FakeDeviceInstaller::point_temp_environment(const std::u16string& folder) {
    log.emplace_back("point_temp_environment");
    temp_environment = folder;
    if (auto code = failure(Op::kPointTempEnvironment)) return failed(*code);
    return ok();
}

void FakeDeviceInstaller::remove_private_folder(const std::u16string& folder) {
    log.emplace_back("remove_private_folder");
    removed_folder = folder;
}

CallResult FakeDeviceInstaller::read_inf_class(const std::u16string& inf_path,
                                               ClassGuid& class_guid,
                                               std::span<char16_t, kClassNameUnits> class_name) {
    log.push_back("read_inf_class");
    read_inf_path = inf_path;
    if (auto code = failure(Op::kReadInfClass)) return failed(*code);
    class_guid = inf_class_guid;
    const std::size_t units = std::min(inf_class_name.size(), class_name.size());
    std::copy_n(inf_class_name.begin(), units, class_name.begin());
    return ok();
}

OpenedSet FakeDeviceInstaller::open_present_devices(const ClassGuid& class_guid) {
    log.push_back("open_present_devices");
    set_classes.push_back(class_guid);
    if (auto code = failure(Op::kOpenPresentDevices)) return {.set = nullptr, .last_error = *code};
    return {.set = std::make_unique<FakeSet>(*this, "class set", true), .last_error = 0};
}

OpenedSet FakeDeviceInstaller::create_device_list(const ClassGuid& class_guid) {
    log.push_back("create_device_list");
    set_classes.push_back(class_guid);
    if (auto code = failure(Op::kCreateDeviceList)) return {.set = nullptr, .last_error = *code};
    return {.set = std::make_unique<FakeSet>(*this, "creation list", false), .last_error = 0};
}

DevNodeStatus FakeDeviceInstaller::devnode_status(std::uint32_t dev_inst) {
    log.push_back("devnode_status " + std::to_string(dev_inst));
    for (const FakeDevice& device : present_devices) {
        if (device.dev_inst == dev_inst) return device.node;
    }
    if (dev_inst == kCreatedDevInst) return created_node;
    return {.config_ret = kConfigRetNoSuchDevnode, .status = 0, .problem = 0};
}

std::uint32_t FakeDeviceInstaller::wait_no_pending_installs(std::uint32_t timeout_ms) {
    log.push_back("wait_no_pending_installs " + std::to_string(timeout_ms));
    return pending_wait_result;
}

DriverUpdateResult FakeDeviceInstaller::update_driver(const std::u16string& hardware_id,
                                                      const std::u16string& inf_path) {
    log.push_back("update_driver");
    update_hardware_id = hardware_id;
    update_inf_path = inf_path;
    if (auto code = failure(Op::kUpdateDriver)) {
        return {.call = failed(*code), .reboot_required = false};
    }
    return {.call = ok(), .reboot_required = reboot_required};
}

}  // namespace quorle::setup::testing
