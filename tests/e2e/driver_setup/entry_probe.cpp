// A test build of the driver setup entry. It starts exactly like quorle_driver_setup (library
// search restriction, standard streams, argument check, own path, driver folder) but its run
// step is chosen by the environment variable QUORLE_PROBE_OUTCOME, so that whole-program
// tests, also under Wine, can reach every exit status and see what the entry computed:
//   success   success, no restart (exit 0)
//   restart   success, restart required (exit 3010)
//   folder    failure whose message is the driver folder
//   planted   failure whose message says whether a DLL beside the program is picked up by a
//             plain LoadLibraryW, and whether it loads when asked for by its folder
#include <cstdlib>
#include <string>

#include "driver_setup/setup_entry.h"

#ifdef _WIN32
#include <windows.h>
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
#else
std::string planted_library_report() {
    return "no library search on this platform";
}
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
    return quorle::setup::SetupFailure{"unknown probe outcome"};
}

}  // namespace

int main(int argc, char** argv) {
    return quorle::setup::driver_setup_main(argc, argv, scripted_run);
}
