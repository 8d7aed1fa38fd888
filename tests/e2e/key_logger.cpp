// Stands in for a window of the user's: logs every key that reaches it,
// synthetic ones too ("key CODE sent"), so that a key meant for another
// window is seen. With "steal" it takes the focus again and again, and the
// top of the stack twice a second, as a window that wants attention would.
#include <X11/Xlib.h>
#include <poll.h>

#include <cstdio>
#include <cstring>
#include <cstdlib>

namespace {
int ignore_errors(Display*, XErrorEvent*) { return 0; }

void take_focus(Display* d, Window w, bool raise) {
    XSetInputFocus(d, w, RevertToParent, CurrentTime);
    XFlush(d);
    if (!raise) return;
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.window = w;
    e.xclient.message_type = XInternAtom(d, "_NET_ACTIVE_WINDOW", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = 2;
    XSendEvent(d, DefaultRootWindow(d), False, SubstructureRedirectMask | SubstructureNotifyMask,
               &e);
    XRaiseWindow(d, w);
    XFlush(d);
}
}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) return 2;
    Display* d = XOpenDisplay(nullptr);
    if (!d) return 1;
    XSetErrorHandler(ignore_errors);
    const bool steal = std::strcmp(argv[4], "steal") == 0;
    Window w = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0,
                                   static_cast<unsigned>(std::atoi(argv[2])),
                                   static_cast<unsigned>(std::atoi(argv[3])), 0, 0, 0);
    XStoreName(d, w, argv[1]);
    XSelectInput(d, w, KeyPressMask | KeyReleaseMask | FocusChangeMask | StructureNotifyMask);
    XMapWindow(d, w);
    XFlush(d);
    bool focused = false;
    for (unsigned turn = 0;; ++turn) {
        while (XPending(d)) {
            XEvent e;
            XNextEvent(d, &e);
            if (e.type == MapNotify) std::printf("ready\n");
            if (e.type == KeyPress || e.type == KeyRelease)
                std::printf("key %u%s\n", e.xkey.keycode, e.xkey.send_event ? " sent" : "");
            if (e.type == FocusIn && !focused) std::printf("focused\n");
            if (e.type == FocusIn) focused = true;
            std::fflush(stdout);
        }
        if (steal) take_focus(d, w, turn % 10 == 0);  // the top of the stack twice a second
        pollfd p{ConnectionNumber(d), POLLIN, 0};
        poll(&p, 1, 50);
    }
}
