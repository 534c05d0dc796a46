#pragma once
// The EnumWindows callback of the application list: the owning pid of every visible
// top-level window goes to a collector.
#include <windows.h>

#include <cstdint>

namespace quorle::host {

// Receives the owning pid of each visible window. add() may throw std::bad_alloc.
class VisibleWindowCollector {
  public:
    virtual ~VisibleWindowCollector() = default;
    virtual void add(std::uint32_t pid) = 0;
};

// Hands one window's owner to the collector: TRUE to go on; FALSE with ERROR_OUTOFMEMORY as
// the thread's last error when the collector runs out of memory.
BOOL add_window_owner(VisibleWindowCollector& collector, std::uint32_t pid) noexcept;

// EnumWindows callback; `context` is a VisibleWindowCollector*. Continues the enumeration,
// except that an allocation failure ends it with ERROR_OUTOFMEMORY as the last error
// (EnumWindows then fails with it) instead of unwinding through user32.
BOOL CALLBACK collect_visible_window(HWND window, LPARAM context) noexcept;

}  // namespace quorle::host
