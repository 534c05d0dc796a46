// A small X client for the application list tests: it owns one mapped top-level window and
// one that is never mapped, prints "ready <pid> <id of the mapped window>" once the window
// is on screen, and exits when its standard input closes (or after two minutes).
#include <poll.h>
#include <unistd.h>

#include <cstdio>

#include <X11/Xlib.h>

int main() {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "x11_window_client: cannot open display\n");
        return 1;
    }
    const int screen = DefaultScreen(display);
    const Window root = RootWindow(display, screen);
    const Window shown =
        XCreateSimpleWindow(display, root, 10, 10, 200, 100, 1, BlackPixel(display, screen),
                            WhitePixel(display, screen));
    const Window hidden = XCreateSimpleWindow(
        display, root, 20, 20, 50, 50, 1, BlackPixel(display, screen), WhitePixel(display, screen));
    (void)hidden;
    XStoreName(display, shown, "quorle list test");
    XSelectInput(display, shown, StructureNotifyMask);
    XMapWindow(display, shown);
    XEvent event;
    do {
        XNextEvent(display, &event);
    } while (event.type != MapNotify);

    std::printf("ready %ld %lu\n", static_cast<long>(getpid()), shown);
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
