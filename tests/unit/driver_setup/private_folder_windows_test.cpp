// The security of the private temporary folder as Windows keeps it: Wine builds file security
// from Unix mode bits and keeps no DACL, so only real Windows can read it back.
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "driver_setup/install/device_installer.h"

namespace quorle::setup {
namespace {

// SDDL text is ASCII: shown unit for unit in a failure message.
std::string ascii(const std::wstring& text) {
    std::string shown;
    for (const wchar_t unit : text)
        shown.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
    return shown;
}

TEST(WindowsAdmin, PrivateTemporaryFolderCarriesOnlyItsProtectedDacl) {
    DeviceInstaller& installer = system_device_installer();
    const PrivateFolder folder =
        installer.create_private_folder(std::u16string(kPrivateFolderSddl) + u'\0');
    ASSERT_TRUE(folder.call.succeeded) << folder.call.last_error;
    const std::wstring path(reinterpret_cast<const wchar_t*>(folder.path.c_str()));

    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PACL dacl = nullptr;
    ASSERT_EQ(GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                    nullptr, nullptr, &dacl, nullptr, &descriptor),
              DWORD{ERROR_SUCCESS});
    LPWSTR text = nullptr;
    ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorW(
        descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr));
    const std::wstring sddl(text);
    LocalFree(text);
    LocalFree(descriptor);
    // Protected (nothing inherited from the Temp folder above) and the two entries alone. The
    // system may add its "auto-inherited" mark (D:PAI), which grants nothing.
    const std::size_t aces = sddl.find(L'(');
    ASSERT_NE(aces, std::wstring::npos) << ascii(sddl);
    EXPECT_TRUE(sddl.substr(0, aces) == L"D:P" || sddl.substr(0, aces) == L"D:PAI") << ascii(sddl);
    EXPECT_EQ(sddl.substr(aces), L"(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)") << ascii(sddl);

    installer.remove_private_folder(folder.path);
    EXPECT_FALSE(std::filesystem::exists(path));
}

}  // namespace
}  // namespace quorle::setup
