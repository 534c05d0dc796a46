// A test build of the driver setup entry. It starts exactly like quorle_driver_setup (library
// search restriction, standard streams, argument check, own path, driver folder) but its run
// step is chosen by the environment variable QUORLE_PROBE_OUTCOME, so that whole-program
// tests, also under Wine, can reach every exit status and see what the entry computed:
//   success   success, no restart (exit 0)
//   restart   success, restart required (exit 3010)
//   folder    failure whose message is the driver folder
//   planted   failure whose message says whether a DLL beside the program is picked up by a
//             plain LoadLibraryW, and whether it loads when asked for by its folder
//   system    calls one function of each of avrt, propsys, winmm, ksuser and cfgmgr32, which
//             the probe delay-loads like the program, then success (exit 0)
#include <cstdlib>
#include <string>

#include "driver_setup/setup_entry.h"

#ifdef _WIN32
#include <windows.h>

#include <avrt.h>
#include <cfgmgr32.h>
#include <delayimp.h>
#include <mmsystem.h>
#include <propvarutil.h>

// ksuser.dll's pin creation, declared by hand: its header needs the kernel-streaming types.
extern "C" DWORD WINAPI KsCreatePin(HANDLE filter, void* connect, ACCESS_MASK access, PHANDLE pin);
#endif

namespace {

std::string utf8_of(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

#ifdef _WIN32
std::string planted_library_report() {
    const wchar_t* name = L"quorle_planted.dll";
    std::string report = "default search: ";
    HMODULE module = LoadLibraryW(name);
    report += module != nullptr ? "loaded" : "not loaded";
    if (module != nullptr) FreeLibrary(module);
    report += "; application folder: ";
    module = LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_APPLICATION_DIR);
    report += module != nullptr ? "loaded" : "not loaded";
    if (module != nullptr) FreeLibrary(module);
    return report;
}

// One call into each DLL that a test plants a stand-in of: the first call loads the DLL
// (delay-loaded, from System32 only). Their results do not matter. ksuser.dll is loaded
// through the delay-load helper instead of a call: Wine's pin creation is a stub that ends
// the process. The reference to KsCreatePin keeps the import.
void call_system_libraries() {
    ULONG responsiveness = 0;
    (void)AvQuerySystemResponsiveness(nullptr, &responsiveness);
    PROPVARIANT value;
    PropVariantInit(&value);
    ULONG number = 0;
    (void)PropVariantToUInt32(value, &number);
    (void)timeGetTime();
    static auto* volatile const pin_creation = &KsCreatePin;
    (void)pin_creation;
    (void)__HrLoadAllImportsForDll("ksuser.dll");
    ULONG length = 0;
    (void)CM_Get_Device_ID_List_SizeW(&length, nullptr, CM_GETIDLIST_FILTER_NONE);
}
#else
std::string planted_library_report() {
    return "no library search on this platform";
}
void call_system_libraries() {}
#endif

// The value of an environment variable, empty when it is not set. On Windows read from the
// process environment itself: the C runtime's getenv is marked unsafe there (warning C4996,
// an error under /W4 /WX).
std::string environment_value(const char* name) {
#ifdef _WIN32
    const DWORD needed = GetEnvironmentVariableA(name, nullptr, 0);
    if (needed == 0) return {};
    std::string value(needed, '\0');
    const DWORD length = GetEnvironmentVariableA(name, value.data(), needed);
    if (length == 0 || length >= needed) return {};
    value.resize(length);
    return value;
#else
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
#endif
}

quorle::setup::SetupResult scripted_run(const std::filesystem::path& driver_folder) {
    const std::string chosen = environment_value("QUORLE_PROBE_OUTCOME");
    if (chosen == "success") return quorle::setup::SetupSuccess{false};
    if (chosen == "restart") return quorle::setup::SetupSuccess{true};
    if (chosen == "folder") return quorle::setup::SetupFailure{utf8_of(driver_folder)};
    if (chosen == "planted") return quorle::setup::SetupFailure{planted_library_report()};
    if (chosen == "system") {
        call_system_libraries();
        return quorle::setup::SetupSuccess{false};
    }
    return quorle::setup::SetupFailure{"unknown probe outcome"};
}

}  // namespace

int main(int argc, char** argv) {
    return quorle::setup::driver_setup_main(argc, argv, scripted_run);
}
