#include <gtest/gtest.h>

#include "driver_setup/install/cable_install.h"

namespace quorle::setup {
namespace {

// Linux has no device installer: the run stops at its first call, the private temporary
// folder, and installs nothing.
TEST(LinuxDeviceInstaller, RefusesAtTheFirstStep) {
    EXPECT_EQ(install_cable_driver(system_device_installer(), "drivers/vbcable"),
              SetupResult(SetupFailure{"private temporary folder: Windows error 120"}));

    DeviceInstaller& installer = system_device_installer();
    const PrivateFolder folder = installer.create_private_folder(u"D:P\0");
    EXPECT_FALSE(folder.call.succeeded);
    EXPECT_EQ(folder.call.last_error, kErrorCallNotImplemented);
    EXPECT_EQ(installer.point_temp_environment(u"/tmp\0").last_error, kErrorCallNotImplemented);
    const ClassGuid any{};
    EXPECT_EQ(installer.open_present_devices(any).last_error, kErrorCallNotImplemented);
    EXPECT_EQ(installer.create_device_list(any).set, nullptr);
    EXPECT_EQ(installer.devnode_status(1).config_ret, kConfigRetCallNotImplemented);
    EXPECT_EQ(installer.wait_no_pending_installs(kPendingInstallWaitMs), kWaitFailed);
    const DriverUpdateResult update = installer.update_driver(u"x", u"y");
    EXPECT_FALSE(update.call.succeeded);
    EXPECT_EQ(update.call.last_error, kErrorCallNotImplemented);
}

}  // namespace
}  // namespace quorle::setup
