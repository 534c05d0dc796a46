// The device installer on Windows: SetupAPI, newdev (loaded at run time from System32 only,
// since it is not a known DLL and must not be picked up from the application folder),
// cfgmgr32, and the private folder for the installer's temporary copies. Every failed call's
// last error is read in the same expression as the call.
#include <windows.h>

#include <cfgmgr32.h>
#include <objbase.h>
#include <sddl.h>
#include <setupapi.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <expected>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

#include "driver_setup/install/device_installer.h"
#include "driver_setup/install/win32/unique_device_info_set.h"
#include "driver_setup/install/win32/unique_module.h"

namespace quorle::setup {
namespace {

static_assert(kErrorFileNotFound == ERROR_FILE_NOT_FOUND);
static_assert(kErrorAccessDenied == ERROR_ACCESS_DENIED);
static_assert(kErrorCallNotImplemented == ERROR_CALL_NOT_IMPLEMENTED);
static_assert(kErrorInsufficientBuffer == ERROR_INSUFFICIENT_BUFFER);
static_assert(kErrorNoMoreItems == ERROR_NO_MORE_ITEMS);
static_assert(kWaitObject0 == WAIT_OBJECT_0);
static_assert(kWaitTimeout == WAIT_TIMEOUT);
static_assert(kWaitFailed == WAIT_FAILED);
static_assert(kConfigRetSuccess == CR_SUCCESS);
static_assert(kConfigRetCallNotImplemented == CR_CALL_NOT_IMPLEMENTED);
static_assert(kDevNodeStarted == DN_STARTED);
static_assert(kDevNodeNeedsRestart == DN_NEED_RESTART);
static_assert(kDevNodeHasProblem == DN_HAS_PROBLEM);
static_assert(kProblemNeedsRestart == CM_PROB_NEED_RESTART);
static_assert(kDifRemove == DIF_REMOVE);
static_assert(kDifRegisterDevice == DIF_REGISTERDEVICE);
static_assert(sizeof(wchar_t) == sizeof(char16_t));
#if defined(_WIN64)
static_assert(sizeof(SP_DEVINFO_DATA) == 32);
#endif

// newdev's driver update, declared here because the function is taken from the DLL.
using UpdateDriverFunction = BOOL(WINAPI*)(HWND, LPCWSTR, LPCWSTR, DWORD, PBOOL);

const wchar_t* wide(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

// The outcome of a BOOL call. Called with the call itself as the argument, so that the
// last error is read before anything else runs.
CallResult checked(BOOL succeeded) {
    if (succeeded) return {.succeeded = true, .last_error = ERROR_SUCCESS};
    return {.succeeded = false, .last_error = GetLastError()};
}

// The failure of the call that has just returned.
CallResult failed_just_now() {
    return {.succeeded = false, .last_error = GetLastError()};
}

GUID to_native(const ClassGuid& guid) {
    GUID native{};
    native.Data1 = guid.data1;
    native.Data2 = guid.data2;
    native.Data3 = guid.data3;
    std::copy(guid.data4.begin(), guid.data4.end(), native.Data4);
    return native;
}

ClassGuid from_native(const GUID& native) {
    ClassGuid guid;
    guid.data1 = native.Data1;
    guid.data2 = native.Data2;
    guid.data3 = native.Data3;
    std::copy(std::begin(native.Data4), std::end(native.Data4), guid.data4.begin());
    return guid;
}

// A zeroed element with its size field set, as every SetupAPI call expects it.
SP_DEVINFO_DATA blank_element() {
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof(SP_DEVINFO_DATA);
    return data;
}

SP_DEVINFO_DATA to_native(const DeviceElement& element) {
    SP_DEVINFO_DATA data = blank_element();
    data.ClassGuid = to_native(element.class_guid);
    data.DevInst = element.dev_inst;
    data.Reserved = element.reserved;
    return data;
}

DeviceElement from_native(const SP_DEVINFO_DATA& data) {
    return {.class_guid = from_native(data.ClassGuid),
            .dev_inst = data.DevInst,
            .reserved = data.Reserved};
}

class Win32DeviceInfoSet final : public DeviceInfoSet {
  public:
    explicit Win32DeviceInfoSet(win32::UniqueDeviceInfoSet set) : set_(std::move(set)) {}

    CallResult enum_device_info(std::uint32_t index, DeviceElement& element) override {
        SP_DEVINFO_DATA data = blank_element();
        const CallResult result = checked(SetupDiEnumDeviceInfo(set_.get(), index, &data));
        if (result.succeeded) element = from_native(data);
        return result;
    }

    CallResult read_hardware_ids(const DeviceElement& element,
                                 std::span<char16_t, kHardwareIdUnits> buffer) override {
        SP_DEVINFO_DATA data = to_native(element);
        return checked(SetupDiGetDeviceRegistryPropertyW(
            set_.get(), &data, SPDRP_HARDWAREID, nullptr, reinterpret_cast<PBYTE>(buffer.data()),
            static_cast<DWORD>(buffer.size_bytes()), nullptr));
    }

    CallResult create_device_info(const std::u16string& device_name, const ClassGuid& class_guid,
                                  DeviceElement& element) override {
        const GUID guid = to_native(class_guid);
        SP_DEVINFO_DATA data = blank_element();
        const CallResult result = checked(SetupDiCreateDeviceInfoW(
            set_.get(), wide(device_name), &guid, nullptr, nullptr, DICD_GENERATE_ID, &data));
        if (result.succeeded) element = from_native(data);
        return result;
    }

    CallResult write_hardware_ids(const DeviceElement& element,
                                  std::span<const char16_t> multi_string) override {
        SP_DEVINFO_DATA data = to_native(element);
        return checked(SetupDiSetDeviceRegistryPropertyW(
            set_.get(), &data, SPDRP_HARDWAREID, reinterpret_cast<const BYTE*>(multi_string.data()),
            static_cast<DWORD>(multi_string.size_bytes())));
    }

    CallResult call_class_installer(std::uint32_t function, const DeviceElement& element) override {
        SP_DEVINFO_DATA data = to_native(element);
        return checked(SetupDiCallClassInstaller(function, set_.get(), &data));
    }

  private:
    win32::UniqueDeviceInfoSet set_;
};

OpenedSet adopt(HDEVINFO handle) {
    if (handle == INVALID_HANDLE_VALUE) return {.set = nullptr, .last_error = GetLastError()};
    win32::UniqueDeviceInfoSet owner(handle);
    return {.set = std::make_unique<Win32DeviceInfoSet>(std::move(owner)),
            .last_error = ERROR_SUCCESS};
}

// Frees a security descriptor made by the SDDL conversion, keeping the last error.
struct LocalFreer {
    void operator()(void* memory) const noexcept {
        const DWORD saved = GetLastError();
        LocalFree(memory);
        SetLastError(saved);
    }
};

// "quorle-" and the 32 hexadecimal digits of a random GUID (CoCreateGuid draws it from the
// system's cryptographic random source): a name no one can guess beforehand.
std::expected<std::wstring, std::uint32_t> unpredictable_name() {
    GUID guid{};
    if (const HRESULT result = CoCreateGuid(&guid); FAILED(result)) {
        return std::unexpected(static_cast<std::uint32_t>(result));
    }
    std::array<unsigned char, sizeof(GUID)> bytes{};
    std::memcpy(bytes.data(), &guid, sizeof(GUID));
    constexpr wchar_t kDigits[] = L"0123456789abcdef";
    std::wstring name = L"quorle-";
    for (const unsigned char byte : bytes) {
        name.push_back(kDigits[byte >> 4]);
        name.push_back(kDigits[byte & 0xF]);
    }
    return name;
}

class Win32DeviceInstaller final : public DeviceInstaller {
  public:
    PrivateFolder create_private_folder(const std::u16string& sddl) override {
        // The Windows folder's own Temp, never a folder named by the environment.
        std::array<wchar_t, MAX_PATH + 1> windows{};
        const UINT length = GetWindowsDirectoryW(windows.data(), MAX_PATH + 1);
        if (length == 0) return {.call = failed_just_now(), .path = {}};
        if (length > MAX_PATH) {
            return {.call = {.succeeded = false, .last_error = ERROR_INSUFFICIENT_BUFFER},
                    .path = {}};
        }
        const std::expected<std::wstring, std::uint32_t> name = unpredictable_name();
        if (!name) return {.call = {.succeeded = false, .last_error = name.error()}, .path = {}};
        const std::wstring folder = std::wstring(windows.data(), length) + L"\\Temp\\" + *name;

        PSECURITY_DESCRIPTOR raw = nullptr;
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(wide(sddl), SDDL_REVISION_1, &raw,
                                                                  nullptr)) {
            return {.call = failed_just_now(), .path = {}};
        }
        const std::unique_ptr<void, LocalFreer> descriptor(raw);
        SECURITY_ATTRIBUTES attributes{};
        attributes.nLength = sizeof attributes;
        attributes.lpSecurityDescriptor = descriptor.get();
        attributes.bInheritHandle = FALSE;
        // Fails with ERROR_ALREADY_EXISTS for a name that is taken: never reused.
        const CallResult made = checked(CreateDirectoryW(folder.c_str(), &attributes));
        if (!made.succeeded) return {.call = made, .path = {}};
        std::u16string path(folder.size() + 1, u'\0');
        std::transform(folder.begin(), folder.end(), path.begin(),
                       [](wchar_t unit) { return static_cast<char16_t>(unit); });
        return {.call = made, .path = std::move(path)};
    }

    CallResult point_temp_environment(const std::u16string& folder) override {
        const CallResult tmp = checked(SetEnvironmentVariableW(L"TMP", wide(folder)));
        if (!tmp.succeeded) return tmp;
        return checked(SetEnvironmentVariableW(L"TEMP", wide(folder)));
    }

    void remove_private_folder(const std::u16string& folder) override {
        // MSVC's library removes a link found inside without following it. libstdc++ (the
        // mingw build) has no link support on Windows and would follow one; only SYSTEM and
        // administrators can make one here (the folder's ACL).
        std::error_code ignored;
        std::filesystem::remove_all(std::filesystem::path(wide(folder)), ignored);
    }

    CallResult read_inf_class(const std::u16string& inf_path, ClassGuid& class_guid,
                              std::span<char16_t, kClassNameUnits> class_name) override {
        GUID guid{};
        const CallResult result = checked(
            SetupDiGetINFClassW(wide(inf_path), &guid, reinterpret_cast<PWSTR>(class_name.data()),
                                static_cast<DWORD>(class_name.size()), nullptr));
        if (result.succeeded) class_guid = from_native(guid);
        return result;
    }

    OpenedSet open_present_devices(const ClassGuid& class_guid) override {
        const GUID guid = to_native(class_guid);
        return adopt(SetupDiGetClassDevsW(&guid, nullptr, nullptr, DIGCF_PRESENT));
    }

    OpenedSet create_device_list(const ClassGuid& class_guid) override {
        const GUID guid = to_native(class_guid);
        return adopt(SetupDiCreateDeviceInfoList(&guid, nullptr));
    }

    DevNodeStatus devnode_status(std::uint32_t dev_inst) override {
        // Zeroed beforehand: a platform that answers without writing them (Wine's stub)
        // then reports a device that is neither started nor in trouble.
        ULONG status = 0;
        ULONG problem = 0;
        const CONFIGRET result = CM_Get_DevNode_Status(&status, &problem, dev_inst, 0);
        return {.config_ret = result, .status = status, .problem = problem};
    }

    std::uint32_t wait_no_pending_installs(std::uint32_t timeout_ms) override {
        return CMP_WaitNoPendingInstallEvents(timeout_ms);
    }

    DriverUpdateResult update_driver(const std::u16string& hardware_id,
                                     const std::u16string& inf_path) override {
        // A failure to load newdev or find the function counts as the update failing.
        const win32::UniqueModule newdev(
            LoadLibraryExW(L"newdev.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
        if (!newdev) return {.call = failed_just_now(), .reboot_required = false};
        const FARPROC entry = GetProcAddress(newdev.get(), "UpdateDriverForPlugAndPlayDevicesW");
        if (entry == nullptr) return {.call = failed_just_now(), .reboot_required = false};
        const auto update =
            reinterpret_cast<UpdateDriverFunction>(reinterpret_cast<void (*)()>(entry));
        BOOL reboot = FALSE;
        const CallResult result =
            checked(update(nullptr, wide(hardware_id), wide(inf_path), 0, &reboot));
        return {.call = result, .reboot_required = result.succeeded && reboot != FALSE};
    }
};

}  // namespace

DeviceInstaller& system_device_installer() {
    static Win32DeviceInstaller installer;
    return installer;
}

}  // namespace quorle::setup
