// Built when the X11 or X-Resource development files are missing: the list cannot see any
// window and says so.
#include <cerrno>

#include "audio_host/process/linux/x11_windows.h"

namespace quorle::host::linux_process {

RawResult<std::vector<std::uint32_t>> x11_visible_window_pids() {
    return std::unexpected(RawError(ENOTSUP, "built without X11 support"));
}

}  // namespace quorle::host::linux_process
