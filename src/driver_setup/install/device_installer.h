#pragma once
// The platform operations that creating the cable device and installing its driver rely on:
// SetupAPI device information sets and the class installer, newdev's driver update and the
// Configuration Manager's device-node status. Every operation hands back the platform's raw
// result: a success flag with the thread's last error read right after the call (so nothing
// that runs later, a destructor included, can change the code being reported), or a raw
// CONFIGRET. Messages, step order and clean-up belong to the caller.
#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace quorle::setup {

// Windows error codes the installer logic reacts to or that platform layers answer with.
inline constexpr std::uint32_t kErrorFileNotFound = 2;          // ERROR_FILE_NOT_FOUND
inline constexpr std::uint32_t kErrorAccessDenied = 5;          // ERROR_ACCESS_DENIED
inline constexpr std::uint32_t kErrorInsufficientBuffer = 122;  // ERROR_INSUFFICIENT_BUFFER
inline constexpr std::uint32_t kErrorCallNotImplemented = 120;  // ERROR_CALL_NOT_IMPLEMENTED
inline constexpr std::uint32_t kErrorNoMoreItems = 259;         // ERROR_NO_MORE_ITEMS

// Results of a wait.
inline constexpr std::uint32_t kWaitObject0 = 0;          // WAIT_OBJECT_0
inline constexpr std::uint32_t kWaitTimeout = 258;        // WAIT_TIMEOUT
inline constexpr std::uint32_t kWaitFailed = 0xFFFFFFFF;  // WAIT_FAILED

// Configuration Manager results and device-node bits.
inline constexpr std::uint32_t kConfigRetSuccess = 0x00;             // CR_SUCCESS
inline constexpr std::uint32_t kConfigRetCallNotImplemented = 0x34;  // CR_CALL_NOT_IMPLEMENTED
inline constexpr std::uint32_t kDevNodeStarted = 0x00000008;         // DN_STARTED
inline constexpr std::uint32_t kDevNodeNeedsRestart = 0x00000100;    // DN_NEED_RESTART
inline constexpr std::uint32_t kDevNodeHasProblem = 0x00000400;      // DN_HAS_PROBLEM
inline constexpr std::uint32_t kProblemNeedsRestart = 14;            // CM_PROB_NEED_RESTART

// How long a driver update that found nothing newer to install waits for Plug and Play to
// finish the installations it has pending, in milliseconds.
inline constexpr std::uint32_t kPendingInstallWaitMs = 10000;

// Device installation functions passed to the class installer.
inline constexpr std::uint32_t kDifRemove = 0x05;          // DIF_REMOVE
inline constexpr std::uint32_t kDifRegisterDevice = 0x19;  // DIF_REGISTERDEVICE

// The security descriptor of the folder made for the installer's temporary copies: a
// protected DACL (nothing inherited from the folder above) that lets only SYSTEM and the
// Administrators group in, with full access passed on to everything made inside it.
inline constexpr std::u16string_view kPrivateFolderSddl = u"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

// Sizes of the buffers the platform fills, in UTF-16 units.
inline constexpr std::size_t kClassNameUnits = 128;
inline constexpr std::size_t kHardwareIdUnits = 2048;  // 4096 bytes

// A device setup class GUID, laid out like the platform's GUID.
struct ClassGuid {
    std::uint32_t data1 = 0;
    std::uint16_t data2 = 0;
    std::uint16_t data3 = 0;
    std::array<std::uint8_t, 8> data4{};
    friend bool operator==(const ClassGuid&, const ClassGuid&) = default;
};

// The content of one device information element (SP_DEVINFO_DATA without its size field).
// `reserved` is the platform's private link from the element into its set; it is carried
// back unchanged. `dev_inst` is the device-node handle for the status query.
struct DeviceElement {
    ClassGuid class_guid;
    std::uint32_t dev_inst = 0;
    std::uintptr_t reserved = 0;
    friend bool operator==(const DeviceElement&, const DeviceElement&) = default;
};

// A BOOL-returning platform call: whether it succeeded and, when it did not, the thread's
// last error as read immediately after the call.
struct CallResult {
    bool succeeded = false;
    std::uint32_t last_error = 0;
};

// One open device information set. Destroying the object destroys the set
// (SetupDiDestroyDeviceInfoList), which also discards an element never registered.
class DeviceInfoSet {
  public:
    virtual ~DeviceInfoSet() = default;

    // SetupDiEnumDeviceInfo: member `index` into `element`; fails with kErrorNoMoreItems
    // after the last member.
    virtual CallResult enum_device_info(std::uint32_t index, DeviceElement& element) = 0;

    // SetupDiGetDeviceRegistryPropertyW(SPDRP_HARDWAREID) into the whole of `buffer`
    // (no type or required-size output). Fails when the device has no hardware ids or
    // they do not fit.
    virtual CallResult read_hardware_ids(const DeviceElement& element,
                                         std::span<char16_t, kHardwareIdUnits> buffer) = 0;

    // SetupDiCreateDeviceInfoW with DICD_GENERATE_ID, no description and no window.
    // `device_name` is NUL-terminated.
    virtual CallResult create_device_info(const std::u16string& device_name,
                                          const ClassGuid& class_guid, DeviceElement& element) = 0;

    // SetupDiSetDeviceRegistryPropertyW(SPDRP_HARDWAREID) with the multi-string's units,
    // its terminating NULs included.
    virtual CallResult write_hardware_ids(const DeviceElement& element,
                                          std::span<const char16_t> multi_string) = 0;

    // SetupDiCallClassInstaller(`function`, this set, element).
    virtual CallResult call_class_installer(std::uint32_t function,
                                            const DeviceElement& element) = 0;
};

// A set, or no set and the last error of the call that failed to open one.
struct OpenedSet {
    std::unique_ptr<DeviceInfoSet> set;
    std::uint32_t last_error = 0;
};

// The driver update's outcome and the reboot flag it reported.
struct DriverUpdateResult {
    CallResult call;
    bool reboot_required = false;
};

// Device-node status query: the raw CONFIGRET and the two outputs, which are zero
// whenever the platform did not write them.
struct DevNodeStatus {
    std::uint32_t config_ret = 0;
    std::uint32_t status = 0;   // DN_* bits
    std::uint32_t problem = 0;  // CM_PROB_* number; meaningful only with DN_HAS_PROBLEM
};

// The node's problem number, or 0 when the status word does not flag a problem: without
// DN_HAS_PROBLEM the number may be a stale value left from an earlier problem.
[[nodiscard]] constexpr std::uint32_t problem_of(const DevNodeStatus& node) {
    return (node.status & kDevNodeHasProblem) != 0 ? node.problem : 0;
}

// The folder made for the installer's temporary copies: its NUL-terminated path, once made.
struct PrivateFolder {
    CallResult call;
    std::u16string path;
};

class DeviceInstaller {
  public:
    virtual ~DeviceInstaller() = default;

    // Makes a new folder inside the Windows folder's own "Temp" (GetWindowsDirectoryW, never
    // a folder that the environment names) with an unpredictable name, created with the
    // security descriptor `sddl` (SDDL text, NUL-terminated). A folder of that name that
    // exists already is a failure: nothing anyone made beforehand is used.
    virtual PrivateFolder create_private_folder(const std::u16string& sddl) = 0;

    // Points the process's TMP and TEMP variables at `folder` (NUL-terminated), so that the
    // platform installer's temporary copies go there.
    virtual CallResult point_temp_environment(const std::u16string& folder) = 0;

    // Removes `folder` (NUL-terminated) with everything in it. Nothing is reported: a failure
    // leaves a folder that only SYSTEM and Administrators can open.
    virtual void remove_private_folder(const std::u16string& folder) = 0;

    // SetupDiGetINFClassW: the INF's class GUID and class name (into the 128-unit buffer;
    // no required-size output). `inf_path` is NUL-terminated.
    virtual CallResult read_inf_class(const std::u16string& inf_path, ClassGuid& class_guid,
                                      std::span<char16_t, kClassNameUnits> class_name) = 0;

    // SetupDiGetClassDevsW(class, no enumerator, no window, DIGCF_PRESENT).
    virtual OpenedSet open_present_devices(const ClassGuid& class_guid) = 0;

    // SetupDiCreateDeviceInfoList(class, no window).
    virtual OpenedSet create_device_list(const ClassGuid& class_guid) = 0;

    // CM_Get_DevNode_Status(&status, &problem, dev_inst, 0).
    virtual DevNodeStatus devnode_status(std::uint32_t dev_inst) = 0;

    // CMP_WaitNoPendingInstallEvents(timeout_ms): WAIT_OBJECT_0 once Plug and Play has no
    // installation pending, WAIT_TIMEOUT, or WAIT_FAILED. Nothing the caller decides on.
    virtual std::uint32_t wait_no_pending_installs(std::uint32_t timeout_ms) = 0;

    // newdev's UpdateDriverForPlugAndPlayDevicesW(no window, hardware id, INF path,
    // flags 0, reboot flag preset to false). Both texts are NUL-terminated.
    virtual DriverUpdateResult update_driver(const std::u16string& hardware_id,
                                             const std::u16string& inf_path) = 0;
};

// The platform's installer: SetupAPI, newdev and cfgmgr32 on Windows; on Linux a layer
// that answers every call with "call not implemented".
[[nodiscard]] DeviceInstaller& system_device_installer();

}  // namespace quorle::setup
