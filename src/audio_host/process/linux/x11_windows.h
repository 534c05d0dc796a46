#pragma once
// The windows a person can see on the X display, reduced to the ids of their processes.
#include <cstdint>
#include <vector>

#include "audio_host/process/process_platform.h"

namespace quorle::host::linux_process {

// The owning process id of each visible client window of the display named by DISPLAY (0
// where no owner is known). Client windows are the windows of the applications, never a
// window manager's frames: the root's _NET_CLIENT_LIST where a window manager publishes it;
// otherwise each viewable child of the root, or, when that child is a frame, its descendant
// that carries WM_STATE. Owners come from the X-Resource extension's client ids, with the
// window's _NET_WM_PID only as a fallback.
// Failures: DISPLAY unset or the display cannot be opened (ENXIO / the connection's errno,
// with the description "cannot open X display"), the root's children cannot be listed, the
// connection breaks while the windows are read (EPIPE, with the description
// "lost the connection to the X display"; Xlib's own handlers would end the process).
[[nodiscard]] RawResult<std::vector<std::uint32_t>> x11_visible_window_pids();

}  // namespace quorle::host::linux_process
