#include <windows.h>

#include "driver_setup/library_search.h"

namespace quorle::setup {

std::uint32_t restrict_library_search() {
    // From here on LoadLibrary looks only in System32: a DLL planted beside the program, in
    // the current folder or on PATH is never picked up by an elevated run.
    if (SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32)) return 0;
    return static_cast<std::uint32_t>(GetLastError());
}

}  // namespace quorle::setup
