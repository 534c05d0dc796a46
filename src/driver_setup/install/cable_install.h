#pragma once
// Creating the VB-CABLE's root device node and installing its signed driver, unless a
// present device of the INF's class already carries the cable's hardware identifier.
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

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
// keeps the device when, after pending installations, it works or waits for a restart;
// every other failed update removes the device again. Both device information sets are
// destroyed before returning, the creation list first.
[[nodiscard]] SetupResult install_cable_driver(DeviceInstaller& installer,
                                               const std::filesystem::path& driver_folder);

}  // namespace quorle::setup
