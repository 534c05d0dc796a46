#include "driver_setup/install/cable_install.h"

#include <algorithm>
#include <array>
#include <optional>
#include <type_traits>
#include <utility>

#include "common/result.h"
#include "audio/cable/cable_identity.h"
#include "common/text.h"
#include "driver_setup/install/hardware_id_match.h"

namespace quorle::setup {
namespace {

// Runs an undo action when the scope is left, unless released first.
template <class Undo>
class ScopeExit {
  public:
    explicit ScopeExit(Undo undo) : undo_(std::move(undo)) {}
    ScopeExit(const ScopeExit&) = delete;
    ScopeExit& operator=(const ScopeExit&) = delete;
    ~ScopeExit() {
        if (armed_) undo_();
    }
    void release() { armed_ = false; }

  private:
    Undo undo_;
    bool armed_ = true;
};

// The full INF path as a NUL-terminated UTF-16 string. Windows paths are UTF-16 already
// and are passed through unit for unit, so that no file name can fail to convert.
std::u16string inf_path_text(const std::filesystem::path& driver_folder) {
    const std::filesystem::path inf = driver_folder / kCableInfName;
    if constexpr (std::is_same_v<std::filesystem::path::value_type, wchar_t>) {
        const auto& native = inf.native();
        std::u16string units(native.size() + 1, u'\0');
        std::transform(native.begin(), native.end(), units.begin(),
                       [](wchar_t unit) { return static_cast<char16_t>(unit); });
        return units;
    } else {
        const std::u8string utf8 = inf.u8string();
        return utf8_to_utf16z(
            std::string_view(reinterpret_cast<const char*>(utf8.data()), utf8.size()));
    }
}

// The identifier followed by `nuls` NUL units: one for the driver update's string, two
// for the hardware-ID multi-string written on the new device.
std::u16string cable_id_with_nuls(std::size_t nuls) {
    std::u16string text = utf8_to_utf16z(audio::kVbCableIdentity);  // one NUL already
    text.append(nuls - 1, u'\0');
    return text;
}

// The class name as the platform left it in its buffer: up to the first NUL, or the
// whole buffer if it holds none, then NUL-terminated for the next call.
std::u16string class_name_text(std::span<const char16_t> buffer) {
    const auto end = std::find(buffer.begin(), buffer.end(), u'\0');
    std::u16string name(buffer.begin(), end);
    name.push_back(u'\0');
    return name;
}

SetupResult failure(std::string message) {
    return SetupFailure{std::move(message)};
}

// A device that works: its status was read, it flags no problem (the problem number means
// something only with DN_HAS_PROBLEM) and it is started.
bool started_without_problem(const DevNodeStatus& node) {
    return node.config_ret == kConfigRetSuccess && (node.status & kDevNodeHasProblem) == 0 &&
           (node.status & kDevNodeStarted) != 0;
}

enum class ExistingCable { kNone, kHealthy, kNotHealthy };

// Walks the present devices of the class and judges the first that lists the cable's
// identifier. A member whose hardware ids cannot be read is skipped.
Result<ExistingCable> find_existing_cable(DeviceInstaller& installer, DeviceInfoSet& class_set) {
    std::array<char16_t, kHardwareIdUnits> ids{};
    for (std::uint32_t index = 0;; ++index) {
        DeviceElement element{};
        const CallResult fetched = class_set.enum_device_info(index, element);
        if (!fetched.succeeded) {
            if (fetched.last_error == kErrorNoMoreItems) return ExistingCable::kNone;
            return fail(windows_error("enumerate adapter", fetched.last_error));
        }
        ids.fill(u'\0');
        if (!class_set.read_hardware_ids(element, ids).succeeded) continue;
        if (!lists_cable_hardware_id(ids)) continue;
        const DevNodeStatus node = installer.devnode_status(element.dev_inst);
        return started_without_problem(node) ? ExistingCable::kHealthy : ExistingCable::kNotHealthy;
    }
}

// What a driver update that found no better driver than the one already on the new device
// (ERROR_NO_MORE_ITEMS: the package is still in the driver store, and Plug and Play has put it
// on the device by itself) leaves behind, once pending installations are done: nothing when
// the device does not work, or whether the working device needs a restart. A needed restart
// is checked first, so that it is never reported as a plain success. When the wait ran out or
// failed, Plug and Play may still be setting the device up: a status that is not decided yet
// keeps the device, and a restart finishes it.
std::optional<bool> already_installed_restart(DeviceInstaller& installer,
                                              const DeviceElement& element) {
    const std::uint32_t waited = installer.wait_no_pending_installs(kPendingInstallWaitMs);
    const DevNodeStatus node = installer.devnode_status(element.dev_inst);
    const bool read = node.config_ret == kConfigRetSuccess;
    if (read &&
        ((node.status & kDevNodeNeedsRestart) != 0 || problem_of(node) == kProblemNeedsRestart)) {
        return true;
    }
    if (started_without_problem(node)) return false;
    if (waited == kWaitTimeout || waited == kWaitFailed) return true;
    return std::nullopt;
}

// Creates the cable device and installs its driver; the caller has prepared the temporary
// folder.
SetupResult install_into_system(DeviceInstaller& installer,
                                const std::filesystem::path& driver_folder) {
    const std::u16string inf_path = inf_path_text(driver_folder);
    const std::u16string hardware_id = cable_id_with_nuls(1);
    const std::u16string hardware_ids = cable_id_with_nuls(2);

    ClassGuid class_guid{};
    std::array<char16_t, kClassNameUnits> class_name_buffer{};
    if (const CallResult read = installer.read_inf_class(inf_path, class_guid, class_name_buffer);
        !read.succeeded) {
        return failure(windows_error("read signed INF", read.last_error));
    }
    const std::u16string class_name = class_name_text(class_name_buffer);

    // Declared before the creation list, so that it is destroyed after it on every path.
    const OpenedSet class_set = installer.open_present_devices(class_guid);
    if (!class_set.set)
        return failure(windows_error("enumerate audio adapters", class_set.last_error));

    const Result<ExistingCable> existing = find_existing_cable(installer, *class_set.set);
    if (!existing) return failure(existing.error());
    switch (*existing) {
        case ExistingCable::kHealthy:
            return SetupSuccess{.restart_required = false};
        case ExistingCable::kNotHealthy:
            return failure(std::string(kCableNotHealthyMessage));
        case ExistingCable::kNone:
            break;
    }

    const OpenedSet creation_list = installer.create_device_list(class_guid);
    if (!creation_list.set) {
        return failure(windows_error("create device list", creation_list.last_error));
    }
    DeviceInfoSet& list = *creation_list.set;

    DeviceElement element{};
    if (const CallResult created = list.create_device_info(class_name, class_guid, element);
        !created.succeeded) {
        return failure(windows_error("create cable device", created.last_error));
    }
    if (const CallResult written = list.write_hardware_ids(element, hardware_ids);
        !written.succeeded) {
        return failure(windows_error("set cable hardware identity", written.last_error));
    }
    if (const CallResult registered = list.call_class_installer(kDifRegisterDevice, element);
        !registered.succeeded) {
        return failure(windows_error("register cable device", registered.last_error));
    }

    // From here the device node exists in the system: a failed driver update removes it
    // again before the sets are destroyed. The removal's own result does not matter; the
    // update's error code, saved by the call, is the one reported.
    ScopeExit unregister(
        [&list, &element] { static_cast<void>(list.call_class_installer(kDifRemove, element)); });
    const DriverUpdateResult update = installer.update_driver(hardware_id, inf_path);
    if (!update.call.succeeded) {
        if (update.call.last_error == kErrorNoMoreItems) {
            if (const std::optional<bool> restart = already_installed_restart(installer, element)) {
                unregister.release();
                return SetupSuccess{.restart_required = *restart};
            }
        }
        return failure(windows_error("install signed cable", update.call.last_error));
    }
    unregister.release();
    return SetupSuccess{.restart_required = update.reboot_required};
}

}  // namespace

std::string windows_error(std::string_view step, std::uint32_t code) {
    std::string message(step);
    message += ": Windows error ";
    message += std::to_string(code);
    return message;
}

SetupResult install_cable_driver(DeviceInstaller& installer,
                                 const std::filesystem::path& driver_folder) {
    std::u16string sddl(kPrivateFolderSddl);
    sddl.push_back(u'\0');
    const PrivateFolder temp = installer.create_private_folder(sddl);
    if (!temp.call.succeeded) {
        return failure(windows_error("private temporary folder", temp.call.last_error));
    }
    // Declared before any device information set, so that it runs after they are destroyed.
    ScopeExit remove_temp([&installer, &temp] { installer.remove_private_folder(temp.path); });
    if (const CallResult pointed = installer.point_temp_environment(temp.path);
        !pointed.succeeded) {
        return failure(windows_error("temporary folder environment", pointed.last_error));
    }
    return install_into_system(installer, driver_folder);
}

SetupResult install_held_cable_driver(const FileReader& held_files, DeviceInstaller& installer) {
    const std::expected<std::filesystem::path, std::uint32_t> folder =
        held_files.held_folder_final_path();
    if (!folder) return failure(windows_error("driver folder final path", folder.error()));
    return install_cable_driver(installer, *folder);
}

}  // namespace quorle::setup
