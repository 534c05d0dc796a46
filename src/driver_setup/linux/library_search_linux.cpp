#include "driver_setup/library_search.h"

namespace quorle::setup {

// Shared objects are found through the loader's fixed paths and the binary's own run path;
// there is no per-process search list to narrow.
std::uint32_t restrict_library_search() {
    return 0;
}

}  // namespace quorle::setup
