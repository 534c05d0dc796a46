// cable_devices: what the driver setup's whole-program runs left in the device installer.
//
//   cable_devices INF list     one line per present device of the INF's class that carries
//                              the cable's hardware identifier:
//                              "device driver=<0|1> status_call=<code> status=<hex> problem=<n>"
//   cable_devices INF remove   removes those devices; prints "removed <n>"
//
// The class is read from the INF as the program reads it. Exit status 0, or 2 with a line on
// standard error when the INF or the class set cannot be read.
#include <windows.h>

#include <cfgmgr32.h>
#include <setupapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "driver_setup/install/hardware_id_match.h"
#include "driver_setup/install/win32/unique_device_info_set.h"

namespace {

using quorle::setup::win32::UniqueDeviceInfoSet;

bool carries_cable_id(HDEVINFO set, SP_DEVINFO_DATA& element) {
    std::u16string ids(2048, u'\0');
    if (!SetupDiGetDeviceRegistryPropertyW(
            set, &element, SPDRP_HARDWAREID, nullptr, reinterpret_cast<PBYTE>(ids.data()),
            static_cast<DWORD>(ids.size() * sizeof(char16_t)), nullptr)) {
        return false;
    }
    return quorle::setup::lists_cable_hardware_id(ids);
}

bool has_driver(HDEVINFO set, SP_DEVINFO_DATA& element) {
    wchar_t driver[512] = {};
    return SetupDiGetDeviceRegistryPropertyW(set, &element, SPDRP_DRIVER, nullptr,
                                             reinterpret_cast<PBYTE>(driver), sizeof driver,
                                             nullptr) &&
           driver[0] != L'\0';
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fputs("usage: cable_devices INF list|remove\n", stderr);
        return 2;
    }
    const std::wstring action = argv[2];
    GUID klass{};
    wchar_t class_name[128] = {};
    if (!SetupDiGetINFClassW(argv[1], &klass, class_name, 128, nullptr)) {
        std::fprintf(stderr, "cannot read the INF's class: %lu\n", GetLastError());
        return 2;
    }
    const UniqueDeviceInfoSet set(SetupDiGetClassDevsW(&klass, nullptr, nullptr, DIGCF_PRESENT));
    if (!set) {
        std::fprintf(stderr, "cannot open the class set: %lu\n", GetLastError());
        return 2;
    }
    unsigned removed = 0;
    for (DWORD index = 0;; ++index) {
        SP_DEVINFO_DATA element{};
        element.cbSize = sizeof element;
        if (!SetupDiEnumDeviceInfo(set.get(), index, &element)) break;
        if (!carries_cable_id(set.get(), element)) continue;
        if (action == L"remove") {
            if (SetupDiCallClassInstaller(DIF_REMOVE, set.get(), &element)) ++removed;
            continue;
        }
        // Zeroed first: a platform that answers without writing them leaves zeros.
        ULONG status = 0;
        ULONG problem = 0;
        const CONFIGRET call = CM_Get_DevNode_Status(&status, &problem, element.DevInst, 0);
        std::printf("device driver=%d status_call=%lu status=%lx problem=%lu\n",
                    has_driver(set.get(), element) ? 1 : 0, static_cast<unsigned long>(call),
                    static_cast<unsigned long>(status), static_cast<unsigned long>(problem));
    }
    if (action == L"remove") std::printf("removed %u\n", removed);
    return 0;
}
