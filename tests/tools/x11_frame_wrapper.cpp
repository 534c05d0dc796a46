// Plays a reparenting window manager for one window in the application list tests: it wraps
// the given window in a frame window of its own. With "frame" it marks the window with
// WM_STATE, as such managers do; with "client-list" it publishes the window in the root's
// _NET_CLIENT_LIST instead, so that only that list tells the frame from the window. Prints "ready
// <pid>" when done and exits when standard input closes (or after two minutes).
//   x11_frame_wrapper WINDOW frame|client-list
#include <poll.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <X11/Xlib.h>
#include <X11/Xatom.h>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: x11_frame_wrapper WINDOW frame|client-list\n");
        return 2;
    }
    const Window client = std::strtoul(argv[1], nullptr, 0);
    const bool publish = std::strcmp(argv[2], "client-list") == 0;
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "x11_frame_wrapper: cannot open display\n");
        return 1;
    }
    const int screen = DefaultScreen(display);
    const Window root = RootWindow(display, screen);
    const Window frame = XCreateSimpleWindow(
        display, root, 0, 0, 240, 140, 2, BlackPixel(display, screen), WhitePixel(display, screen));
    XMapWindow(display, frame);
    XReparentWindow(display, client, frame, 10, 30);
    XMapWindow(display, client);

    // WM_STATE: NormalState (1), no icon window.
    const Atom wm_state = XInternAtom(display, "WM_STATE", False);
    const unsigned long state[2] = {1, None};
    if (!publish) {
        XChangeProperty(display, client, wm_state, wm_state, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(state), 2);
    } else {
        const Atom client_list = XInternAtom(display, "_NET_CLIENT_LIST", False);
        const unsigned long windows[1] = {client};
        XChangeProperty(display, root, client_list, XA_WINDOW, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(windows), 1);
    }
    XSync(display, False);

    std::printf("ready %ld\n", static_cast<long>(getpid()));
    std::fflush(stdout);

    pollfd input{STDIN_FILENO, POLLIN, 0};
    for (int waited = 0; waited < 120; ++waited) {
        if (poll(&input, 1, 1000) != 0) {
            char buffer[64];
            if (read(STDIN_FILENO, buffer, sizeof buffer) <= 0) break;
        }
    }
    XCloseDisplay(display);
    return 0;
}
