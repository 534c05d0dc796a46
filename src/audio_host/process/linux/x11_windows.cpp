#include "audio_host/process/linux/x11_windows.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <optional>

// Xlib defines macros such as Status, None and True: its headers come last.
#include <X11/Xlib.h>
#include <X11/Xatom.h>
#include <X11/extensions/XRes.h>

namespace quorle::host::linux_process {
namespace {

struct DisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};
using DisplayPtr = std::unique_ptr<Display, DisplayCloser>;

struct XFreeDeleter {
    void operator()(void* data) const { XFree(data); }
};
template <class T>
using XPtr = std::unique_ptr<T, XFreeDeleter>;

// Errors of requests about windows that vanish while the list is read are expected; the
// default handler would end the process. Installed for the life of one enumeration.
int ignore_x_error(Display*, XErrorEvent*) {
    return 0;
}

class IgnoreXErrors {
  public:
    explicit IgnoreXErrors(Display* display)
        : display_(display), previous_(XSetErrorHandler(ignore_x_error)) {}
    IgnoreXErrors(const IgnoreXErrors&) = delete;
    IgnoreXErrors& operator=(const IgnoreXErrors&) = delete;
    ~IgnoreXErrors() {
        // Errors still in flight are handled here, not by the handler restored below.
        XSync(display_, False);
        XSetErrorHandler(previous_);
    }

  private:
    Display* display_;
    XErrorHandler previous_;
};

// A connection to the X server that breaks while the list is read: Xlib's default handlers
// would print a text of their own on standard error and end the process. These note the loss
// instead; Xlib then marks the display dead and its later calls return at once, so that the
// list fails with its own message. The process-wide handler is installed before the display
// is opened and restored after it is closed.
int quiet_io_error(Display*) {
    return 0;
}

// errno is not kept at the loss (Xlib reads a non-blocking socket: it often says EAGAIN), so a
// loss always reports EPIPE.
void note_connection_loss(Display*, void* lost) {
    *static_cast<bool*>(lost) = true;
}

class QuietIoErrors {
  public:
    QuietIoErrors() : previous_(XSetIOErrorHandler(quiet_io_error)) {}
    QuietIoErrors(const QuietIoErrors&) = delete;
    QuietIoErrors& operator=(const QuietIoErrors&) = delete;
    ~QuietIoErrors() { XSetIOErrorHandler(previous_); }

  private:
    XIOErrorHandler previous_;
};

class WindowReader {
  public:
    explicit WindowReader(Display* display)
        : display_(display),
          root_(DefaultRootWindow(display)),
          client_list_(XInternAtom(display, "_NET_CLIENT_LIST", True)),
          wm_state_(XInternAtom(display, "WM_STATE", True)),
          wm_pid_(XInternAtom(display, "_NET_WM_PID", True)),
          client_ids_(has_client_ids(display)) {}

    Window root() const { return root_; }

    // The root's _NET_CLIENT_LIST; empty when no window manager publishes it.
    std::optional<std::vector<Window>> published_clients() const {
        if (client_list_ == None) return std::nullopt;
        Atom type = None;
        int format = 0;
        unsigned long count = 0;
        unsigned long after = 0;
        unsigned char* raw = nullptr;
        const int status = XGetWindowProperty(display_, root_, client_list_, 0, 1L << 20, False,
                                              XA_WINDOW, &type, &format, &count, &after, &raw);
        const XPtr<unsigned char> data(raw);
        if (status != Success || type != XA_WINDOW || format != 32) return std::nullopt;
        // Xlib hands 32-bit items back as one long each.
        std::vector<Window> windows(count);
        for (unsigned long i = 0; i < count; ++i) {
            unsigned long item = 0;
            std::memcpy(&item, raw + i * sizeof item, sizeof item);
            windows[i] = item;
        }
        return windows;
    }

    // The window's children in stacking order; empty when it cannot be queried.
    std::optional<std::vector<Window>> children(Window window) const {
        Window root = None;
        Window parent = None;
        Window* raw = nullptr;
        unsigned int count = 0;
        if (XQueryTree(display_, window, &root, &parent, &raw, &count) == 0) return std::nullopt;
        const XPtr<Window> data(raw);
        return std::vector<Window>(raw, raw + count);
    }

    bool exists(Window window) const {
        XWindowAttributes attributes;
        return XGetWindowAttributes(display_, window, &attributes) != 0;
    }

    bool viewable(Window window) const {
        XWindowAttributes attributes;
        if (XGetWindowAttributes(display_, window, &attributes) == 0) return false;
        return attributes.map_state == IsViewable;
    }

    // The application window of a top-level window: the window itself when it carries
    // WM_STATE; otherwise its nearest descendant that does (the window in a manager's
    // frame); otherwise the window itself (no window manager runs).
    Window client_of(Window top) const {
        if (has_wm_state(top)) return top;
        std::deque<Window> pending{top};
        while (!pending.empty()) {
            const Window window = pending.front();
            pending.pop_front();
            const std::optional<std::vector<Window>> below = children(window);
            if (!below) continue;
            for (const Window child : *below) {
                if (has_wm_state(child)) return child;
                pending.push_back(child);
            }
        }
        return top;
    }

    // The id of the process that created the window; 0 when unknown.
    std::uint32_t owner_pid(Window window) const {
        if (client_ids_) {
            XResClientIdSpec spec{window, XRES_CLIENT_ID_PID_MASK};
            long count = 0;
            XResClientIdValue* ids = nullptr;
            if (XResQueryClientIds(display_, 1, &spec, &count, &ids) == Success) {
                pid_t pid = -1;
                for (long i = 0; i < count && pid <= 0; ++i)
                    pid = XResGetClientPid(&ids[i]);
                XResClientIdsDestroy(count, ids);
                if (pid > 0) return static_cast<std::uint32_t>(pid);
            }
        }
        return declared_pid(window);
    }

  private:
    static bool has_client_ids(Display* display) {
        int event_base = 0;
        int error_base = 0;
        int major = 0;
        int minor = 0;
        if (!XResQueryExtension(display, &event_base, &error_base)) return false;
        if (XResQueryVersion(display, &major, &minor) == 0) return false;
        return major > 1 || (major == 1 && minor >= 2);
    }

    bool has_wm_state(Window window) const {
        if (wm_state_ == None) return false;
        Atom type = None;
        int format = 0;
        unsigned long count = 0;
        unsigned long after = 0;
        unsigned char* raw = nullptr;
        const int status =
            XGetWindowProperty(display_, window, wm_state_, 0, 0, False, AnyPropertyType, &type,
                               &format, &count, &after, &raw);
        const XPtr<unsigned char> data(raw);
        return status == Success && type != None;
    }

    // The pid the client declared in _NET_WM_PID; 0 when it declared none.
    std::uint32_t declared_pid(Window window) const {
        if (wm_pid_ == None) return 0;
        Atom type = None;
        int format = 0;
        unsigned long count = 0;
        unsigned long after = 0;
        unsigned char* raw = nullptr;
        const int status = XGetWindowProperty(display_, window, wm_pid_, 0, 1, False, XA_CARDINAL,
                                              &type, &format, &count, &after, &raw);
        const XPtr<unsigned char> data(raw);
        if (status != Success || type != XA_CARDINAL || format != 32 || count < 1) return 0;
        unsigned long pid = 0;
        std::memcpy(&pid, raw, sizeof pid);
        return pid <= 0xFFFFFFFFUL ? static_cast<std::uint32_t>(pid) : 0;
    }

    Display* display_;
    Window root_;
    Atom client_list_;
    Atom wm_state_;
    Atom wm_pid_;
    bool client_ids_;
};

}  // namespace

namespace {

RawResult<std::vector<std::uint32_t>> read_visible_window_pids(Display* display) {
    const IgnoreXErrors ignore_errors(display);
    const WindowReader reader(display);

    std::vector<Window> clients;
    if (std::optional<std::vector<Window>> published = reader.published_clients()) {
        // Windows listed by the manager but destroyed since are left out.
        for (const Window window : *published) {
            if (reader.exists(window)) clients.push_back(window);
        }
    } else {
        const std::optional<std::vector<Window>> tops = reader.children(reader.root());
        if (!tops) return std::unexpected(RawError(EIO, "cannot list the X root window"));
        for (const Window top : *tops) {
            if (!reader.viewable(top)) continue;
            const Window client = reader.client_of(top);
            if (client == top || reader.viewable(client)) clients.push_back(client);
        }
    }

    std::vector<std::uint32_t> pids;
    pids.reserve(clients.size());
    for (const Window window : clients)
        pids.push_back(reader.owner_pid(window));
    return pids;
}

}  // namespace

RawResult<std::vector<std::uint32_t>> x11_visible_window_pids() {
    const char* name = std::getenv("DISPLAY");
    if (name == nullptr || *name == '\0') {
        return std::unexpected(RawError(ENXIO, "cannot open X display: DISPLAY is not set"));
    }
    // Declared first: both outlive the display.
    bool lost = false;
    const QuietIoErrors quiet;
    errno = 0;
    const DisplayPtr display(XOpenDisplay(name));
    if (!display) {
        const int code = errno != 0 ? errno : ECONNREFUSED;
        return std::unexpected(RawError(static_cast<std::uint32_t>(code), "cannot open X display"));
    }
    XSetIOErrorExitHandler(display.get(), note_connection_loss, &lost);
    RawResult<std::vector<std::uint32_t>> pids = read_visible_window_pids(display.get());
    // What was read after the loss is incomplete, whatever it says.
    if (lost) return std::unexpected(RawError(EPIPE, "lost the connection to the X display"));
    return pids;
}

}  // namespace quorle::host::linux_process
