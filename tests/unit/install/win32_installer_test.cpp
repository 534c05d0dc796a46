// The Windows device installer against the system's own SetupAPI: a root device of a
// made-up class is created for the cable's hardware identifier from a small INF without a
// driver binary. Under Wine, whose driver update accepts any INF, it is found again by a
// second run and removed at the end; Windows refuses the INF, which has no catalog, and the
// run must remove the device again. Needs an administrator on Windows (label admin).
#include <windows.h>

#include <cfgmgr32.h>
#include <setupapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "driver_setup/file_reader.h"
#include "driver_setup/install/cable_install.h"
#include "driver_setup/install/hardware_id_match.h"
#include "driver_setup/install/win32/unique_device_info_set.h"
#include "unit/install/fake_device_installer.h"

namespace quorle::setup {
namespace {

namespace fs = std::filesystem;
using win32::UniqueDeviceInfoSet;

// {6F1E3A52-8C0B-4B7D-9E21-5A3C7D40B9E1}: a class that no real device uses.
constexpr GUID kTestClass = {
    0x6F1E3A52, 0x8C0B, 0x4B7D, {0x9E, 0x21, 0x5A, 0x3C, 0x7D, 0x40, 0xB9, 0xE1}};

constexpr const char* kInf =
    "[Version]\r\n"
    "Signature=\"$Windows NT$\"\r\n"
    "Class=QuorleTestCable\r\n"
    "ClassGuid={6F1E3A52-8C0B-4B7D-9E21-5A3C7D40B9E1}\r\n"
    "Provider=%Mfg%\r\n"
    "DriverVer=01/01/2024,1.0.0.0\r\n"
    "\r\n"
    "[Manufacturer]\r\n"
    "%Mfg%=Models,NTamd64,NTarm64\r\n"
    "\r\n"
    "[Models.NTamd64]\r\n"
    "%Device%=CableInstall,VBAudioVACWDM\r\n"
    "\r\n"
    "[Models.NTarm64]\r\n"
    "%Device%=CableInstall,VBAudioVACWDM\r\n"
    "\r\n"
    "[CableInstall]\r\n"
    "\r\n"
    "[CableInstall.Services]\r\n"
    "AddService=,2\r\n"
    "\r\n"
    "[Strings]\r\n"
    "Mfg=\"Quorle tests\"\r\n"
    "Device=\"Quorle test cable\"\r\n";

// Wine's driver update reports success for any INF; Windows checks the package's signature.
bool running_under_wine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// The errors with which Windows refuses a driver package that is not signed: the test INF
// names no catalog, which gives ERROR_NO_CATALOG_FOR_OEM_INF (0xE000022F, 3758096943) on
// current systems; a policy that checks Authenticode or the catalog's attributes first
// answers with one of the others.
constexpr std::array<std::uint32_t, 9> kSignatureErrors = {
    static_cast<std::uint32_t>(ERROR_NO_CATALOG_FOR_OEM_INF),
    static_cast<std::uint32_t>(ERROR_NO_AUTHENTICODE_CATALOG),
    static_cast<std::uint32_t>(ERROR_AUTHENTICODE_DISALLOWED),
    static_cast<std::uint32_t>(ERROR_AUTHENTICODE_TRUSTED_PUBLISHER),
    static_cast<std::uint32_t>(ERROR_AUTHENTICODE_TRUST_NOT_ESTABLISHED),
    static_cast<std::uint32_t>(ERROR_AUTHENTICODE_PUBLISHER_NOT_TRUSTED),
    static_cast<std::uint32_t>(ERROR_SIGNATURE_OSATTRIBUTE_MISMATCH),
    static_cast<std::uint32_t>(ERROR_ONLY_VALIDATE_VIA_AUTHENTICODE),
    static_cast<std::uint32_t>(TRUST_E_NOSIGNATURE),
};

// A private folder under the temporary directory, removed with everything in it.
class TempFolder {
  public:
    explicit TempFolder(const std::string& name)
        : path_(fs::temp_directory_path() / (name + "-" + std::to_string(GetCurrentProcessId()))) {
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    [[nodiscard]] const fs::path& path() const { return path_; }

  private:
    fs::path path_;
};

// Present devices of the test class whose hardware ids name the cable, with the text of
// their driver property (empty when there is none).
struct TestDevice {
    SP_DEVINFO_DATA element;
    std::wstring driver;
};

std::wstring string_property(HDEVINFO set, SP_DEVINFO_DATA& element, DWORD property) {
    std::vector<wchar_t> buffer(1024, L'\0');
    if (!SetupDiGetDeviceRegistryPropertyW(
            set, &element, property, nullptr, reinterpret_cast<PBYTE>(buffer.data()),
            static_cast<DWORD>(buffer.size() * sizeof(wchar_t)), nullptr)) {
        return {};
    }
    return buffer.data();
}

std::vector<TestDevice> cable_devices(HDEVINFO set) {
    std::vector<TestDevice> found;
    for (DWORD index = 0;; ++index) {
        SP_DEVINFO_DATA element{};
        element.cbSize = sizeof element;
        if (!SetupDiEnumDeviceInfo(set, index, &element)) break;
        std::u16string ids(kHardwareIdUnits, u'\0');
        if (!SetupDiGetDeviceRegistryPropertyW(
                set, &element, SPDRP_HARDWAREID, nullptr, reinterpret_cast<PBYTE>(ids.data()),
                static_cast<DWORD>(ids.size() * sizeof(char16_t)), nullptr)) {
            continue;
        }
        if (!lists_cable_hardware_id(ids)) continue;
        found.push_back({element, string_property(set, element, SPDRP_DRIVER)});
    }
    return found;
}

UniqueDeviceInfoSet present_test_class() {
    return UniqueDeviceInfoSet(SetupDiGetClassDevsW(&kTestClass, nullptr, nullptr, DIGCF_PRESENT));
}

std::size_t remove_cable_devices() {
    const UniqueDeviceInfoSet set = present_test_class();
    if (!set) return 0;
    std::size_t removed = 0;
    for (TestDevice& device : cable_devices(set.get())) {
        if (SetupDiCallClassInstaller(DIF_REMOVE, set.get(), &device.element)) ++removed;
    }
    return removed;
}

std::size_t count_cable_devices() {
    const UniqueDeviceInfoSet set = present_test_class();
    return set ? cable_devices(set.get()).size() : 0;
}

// Whether the platform reports the one cable device as started and without a problem.
bool started_without_problem() {
    const UniqueDeviceInfoSet set = present_test_class();
    if (!set) return false;
    const std::vector<TestDevice> devices = cable_devices(set.get());
    if (devices.size() != 1) return false;
    ULONG status = 0;
    ULONG problem = 0;
    return CM_Get_DevNode_Status(&status, &problem, devices[0].element.DevInst, 0) == CR_SUCCESS &&
           problem == 0 && (status & DN_STARTED) != 0;
}

// The value of an environment variable, or nothing when it is not set.
std::optional<std::wstring> environment(const wchar_t* name) {
    std::vector<wchar_t> buffer(32768, L'\0');
    const DWORD length =
        GetEnvironmentVariableW(name, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0 || length >= buffer.size()) return std::nullopt;
    return std::wstring(buffer.data(), length);
}

// Puts TMP and TEMP back as they were when the test began.
class TempVariablesRestored {
  public:
    TempVariablesRestored() : tmp_(environment(L"TMP")), temp_(environment(L"TEMP")) {}
    ~TempVariablesRestored() {
        SetEnvironmentVariableW(L"TMP", tmp_ ? tmp_->c_str() : nullptr);
        SetEnvironmentVariableW(L"TEMP", temp_ ? temp_->c_str() : nullptr);
    }
    TempVariablesRestored(const TempVariablesRestored&) = delete;
    TempVariablesRestored& operator=(const TempVariablesRestored&) = delete;

  private:
    std::optional<std::wstring> tmp_;
    std::optional<std::wstring> temp_;
};

fs::path windows_temp() {
    wchar_t windows[MAX_PATH + 1] = {};
    const UINT length = GetWindowsDirectoryW(windows, MAX_PATH + 1);
    EXPECT_TRUE(length > 0 && length <= MAX_PATH);
    return fs::path(windows) / "Temp";
}

std::u16string with_nul(const fs::path& path) {
    const std::wstring& native = path.native();
    std::u16string text(native.size() + 1, u'\0');
    std::transform(native.begin(), native.end(), text.begin(),
                   [](wchar_t unit) { return static_cast<char16_t>(unit); });
    return text;
}

TEST(Win32DeviceInstaller, MissingInfIsReportedWithItsWindowsError) {
    const TempFolder empty("quorle-install-missing");
    const TempVariablesRestored restored;
    EXPECT_EQ(install_cable_driver(system_device_installer(), empty.path()),
              SetupResult(SetupFailure{"read signed INF: Windows error 2"}));
    // The run pointed the variables at its private folder under the Windows folder's Temp,
    // and removed that folder before it returned.
    const std::optional<std::wstring> tmp = environment(L"TMP");
    ASSERT_TRUE(tmp.has_value());
    EXPECT_EQ(environment(L"TEMP"), tmp);
    EXPECT_EQ(fs::path(*tmp).parent_path(), windows_temp());
    EXPECT_FALSE(fs::exists(*tmp));
}

TEST(Win32DeviceInstaller, PrivateTemporaryFolder) {
    const TempVariablesRestored restored;
    DeviceInstaller& installer = system_device_installer();
    const std::u16string sddl = std::u16string(kPrivateFolderSddl) + u'\0';
    const PrivateFolder first = installer.create_private_folder(sddl);
    const PrivateFolder second = installer.create_private_folder(sddl);
    ASSERT_TRUE(first.call.succeeded) << first.call.last_error;
    ASSERT_TRUE(second.call.succeeded) << second.call.last_error;
    const fs::path folder(reinterpret_cast<const wchar_t*>(first.path.c_str()));
    const fs::path other(reinterpret_cast<const wchar_t*>(second.path.c_str()));
    EXPECT_EQ(first.path.back(), u'\0');
    EXPECT_NE(folder, other);
    for (const fs::path& made : {folder, other}) {
        EXPECT_EQ(made.parent_path(), windows_temp());
        const std::wstring name = made.filename().native();
        ASSERT_EQ(name.size(), 7u + 32u) << made;
        EXPECT_EQ(name.substr(0, 7), L"quorle-");
        EXPECT_EQ(name.find_first_not_of(L"0123456789abcdef", 7), std::wstring::npos) << made;
        EXPECT_TRUE(fs::is_directory(made));
    }

    // The variables name the folder, and so does the system's temporary path.
    ASSERT_TRUE(installer.point_temp_environment(first.path).succeeded);
    EXPECT_EQ(environment(L"TMP"), folder.native());
    EXPECT_EQ(environment(L"TEMP"), folder.native());
    wchar_t temp_path[MAX_PATH + 1] = {};
    ASSERT_NE(GetTempPathW(MAX_PATH + 1, temp_path), 0u);
    EXPECT_EQ(std::wstring(temp_path), folder.native() + L"\\");

    // Removed with what the installer may have left inside.
    fs::create_directories(folder / "{copy}" / "sub");
    std::ofstream(folder / "{copy}" / "sub" / "x.inf") << "x";
    installer.remove_private_folder(first.path);
    installer.remove_private_folder(second.path);
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_FALSE(fs::exists(other));
    // Removing what is gone already reports nothing and changes nothing.
    installer.remove_private_folder(with_nul(folder));
}

#ifdef QUORLE_TEST_HELD_LINK_ROOT
// The build prepared real_app/drivers/vbcable and a host symbolic link "app" leading to
// real_app: under Wine the final path of a folder reached through it is the target's.
TEST(Win32DeviceInstaller, InstallsFromTheHeldFolderBehindALink) {
    const fs::path root = fs::path(QUORLE_TEST_HELD_LINK_ROOT).make_preferred();
    const fs::path linked = root / "app" / "drivers" / "vbcable";
    const fs::path real = root / "real_app" / "drivers" / "vbcable";
    const std::unique_ptr<FileReader> held = make_system_file_reader();
    EXPECT_EQ(held->held_folder_final_path().error(), std::uint32_t{ERROR_INVALID_HANDLE});
    // A link above the held folders is no reason to refuse them.
    ASSERT_TRUE(held->hold_folder(linked.parent_path()).has_value());
    ASSERT_TRUE(held->hold_folder(linked).has_value());
    EXPECT_EQ(held->held_folder_final_path().value(), real);

    testing::FakeDeviceInstaller fake;
    EXPECT_EQ(install_held_cable_driver(*held, fake),
              SetupResult(SetupSuccess{.restart_required = false}));
    EXPECT_EQ(fake.read_inf_path, with_nul(real / std::string(kCableInfName)));
    EXPECT_EQ(fake.update_inf_path, fake.read_inf_path);
}
#endif

// The copies of INF files that the platform made in the system's INF folder whose content is
// exactly `content`.
std::vector<fs::path> system_inf_copies(const std::string& content) {
    wchar_t windows[MAX_PATH] = {};
    const UINT length = GetWindowsDirectoryW(windows, MAX_PATH);
    std::vector<fs::path> copies;
    if (length == 0 || length >= MAX_PATH) return copies;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(fs::path(windows) / "inf", error)) {
        if (!entry.is_regular_file() || entry.path().extension() != ".inf") continue;
        const auto text = make_system_file_reader()->read_regular_file(entry.path(), 1 << 20);
        if (text && *text == content) copies.push_back(entry.path());
    }
    return copies;
}

TEST(Win32DeviceInstaller, CreatesTheCableOnceAndJudgesItAfterwards) {
    const TempFolder folder("quorle-install-inf");
    // The driver folder as the program's folder holds it, and an INF that no earlier run
    // can have copied already.
    const fs::path drivers = folder.path() / "drivers";
    const fs::path driver_folder = drivers / "vbcable";
    fs::create_directories(driver_folder);
    const std::string inf_text = std::string(kInf) + "; run " +
                                 std::to_string(GetCurrentProcessId()) + "-" +
                                 std::to_string(GetTickCount64()) + "\r\n";
    {
        std::ofstream inf(driver_folder / std::string(kCableInfName), std::ios::binary);
        inf << inf_text;
        ASSERT_TRUE(inf.good());
    }
    remove_cable_devices();  // what an interrupted earlier run may have left
    ASSERT_EQ(count_cable_devices(), 0u);

    // First run, with the folders and the INF held as a verified run holds them and installed
    // from the held folder's final path: nothing of the class exists, so the device is
    // created, registered and the INF installed on it.
    SetupResult first;
    {
        const std::unique_ptr<FileReader> held = make_system_file_reader();
        ASSERT_TRUE(held->hold_folder(drivers).has_value());
        ASSERT_TRUE(held->hold_folder(driver_folder).has_value());
        ASSERT_EQ(
            held->read_regular_file(driver_folder / std::string(kCableInfName), 1 << 20).value(),
            inf_text);
        first = install_held_cable_driver(*held, system_device_installer());
    }
    if (!running_under_wine()) {
        // Windows refuses the unsigned package: the run reports the signature error of the
        // driver update and removes the device it created, so nothing is left behind. What
        // is left is counted first, then cleared whatever the outcome.
        const std::size_t left = count_cable_devices();
        remove_cable_devices();
        for (const fs::path& copy : system_inf_copies(inf_text)) {
            DeleteFileW(copy.c_str());
            DeleteFileW(fs::path(copy).replace_extension(".pnf").c_str());
        }
        const auto* failed = std::get_if<SetupFailure>(&first);
        ASSERT_NE(failed, nullptr) << "Windows installed a driver package without a catalog";
        EXPECT_TRUE(std::any_of(kSignatureErrors.begin(), kSignatureErrors.end(),
                                [&](std::uint32_t code) {
                                    return failed->message ==
                                           windows_error("install signed cable", code);
                                }))
            << failed->message;
        EXPECT_EQ(left, 0u) << "the refused device was not removed";
        return;
    }
    // Wine's driver update reports success whatever happens, so the outcome is judged by
    // the device's driver property and by the platform's copy of the INF.
    EXPECT_EQ(first, SetupResult(SetupSuccess{.restart_required = false}));
    {
        const UniqueDeviceInfoSet set = present_test_class();
        ASSERT_TRUE(set);
        const std::vector<TestDevice> devices = cable_devices(set.get());
        ASSERT_EQ(devices.size(), 1u);
        EXPECT_FALSE(devices[0].driver.empty()) << "the driver was not installed";
    }
    const std::vector<fs::path> copies = system_inf_copies(inf_text);
    EXPECT_EQ(copies.size(), 1u) << "the INF was not copied into the system's INF folder";

    // Second run: the device is found and judged by its node status, and nothing new is
    // created. Wine answers the status query without writing its outputs, so there the
    // device counts as not started and the run ends with the "not healthy" message.
    const SetupResult expected =
        started_without_problem() ? SetupResult(SetupSuccess{.restart_required = false})
                                  : SetupResult(SetupFailure{std::string(kCableNotHealthyMessage)});
    EXPECT_EQ(install_cable_driver(system_device_installer(), driver_folder), expected);
    EXPECT_EQ(count_cable_devices(), 1u);

    EXPECT_EQ(remove_cable_devices(), 1u);
    EXPECT_EQ(count_cable_devices(), 0u);
    // The copies, and the precompiled form the platform keeps beside each.
    for (const fs::path& copy : copies) {
        DeleteFileW(copy.c_str());
        DeleteFileW(fs::path(copy).replace_extension(".pnf").c_str());
    }
}

}  // namespace
}  // namespace quorle::setup
