#pragma once
// Creating the VB-CABLE's root device node and installing its signed driver, unless a
// present device of the INF's class already carries the cable's hardware identifier.
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "driver_setup/file_reader.h"
#include "driver_setup/install/device_installer.h"
#include "driver_setup/setup_result.h"

namespace quorle::setup {

// The INF installed on the cable device, inside the driver folder.
inline constexpr std::string_view kCableInfName = "vbMmeCable64_win10.inf";

// The message for an existing cable device that cannot be used as it is.
inline constexpr std::string_view kCableNotHealthyMessage =
    "Existing VB-CABLE device is not healthy; check Device Manager or restart Windows. No "
    "driver was replaced.";

// "<step>: Windows error <code in unsigned decimal>".
[[nodiscard]] std::string windows_error(std::string_view step, std::uint32_t code);

// Looks for a present cable device of the INF's class and judges its health; when there is
// none, creates the cable's device node, registers it and installs the INF found in
// `driver_folder` on it. Success carries whether Windows asked for a restart. A driver update
// that finds nothing better than the driver Plug and Play already put on the new device
// keeps the device when, after pending installations, it works or waits for a restart, and
// also when the wait for them ran out while the device is still being set up (a restart
// then finishes it); every other failed update removes the device again.
// Before the first installer call, the process's TMP and TEMP are pointed at a new private
// folder (see DeviceInstaller::create_private_folder), so that the installer's temporary copy
// of the package lies where the user cannot swap it; the folder is removed after the last
// call on every path. Both device information sets are destroyed before that, the creation
// list first.
[[nodiscard]] SetupResult install_cable_driver(DeviceInstaller& installer,
                                               const std::filesystem::path& driver_folder);

// Installs from the driver folder that `held_files` holds, named by its final path, so that
// what is installed is the tree that was verified, wherever the names that led to it point
// by now.
[[nodiscard]] SetupResult install_held_cable_driver(const FileReader& held_files,
                                                    DeviceInstaller& installer);

}  // namespace quorle::setup
