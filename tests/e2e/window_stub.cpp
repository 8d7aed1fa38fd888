// Stands in for a benchmark whose window misbehaves under the runner:
// "vanish" destroys its window once it has been seen and only then reports
// its initialisation; "huge" opens a window far larger than the screen.
// Either then waits without ever reporting a frame.
#include <X11/Xlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    Display* d = XOpenDisplay(nullptr);
    if (!d) return 1;
    const bool huge = std::strcmp(argv[2], "huge") == 0;
    const unsigned side = huge ? 30000 : 200;
    Window w = XCreateSimpleWindow(d, DefaultRootWindow(d), 0, 0, side, side, 0, 0, 0);
    XStoreName(d, w, argv[1]);
    XMapWindow(d, w);
    XSync(d, False);
    if (!huge) {
        sleep(4);  // time for the runner to find it, even on a loaded machine
        XDestroyWindow(d, w);
        XSync(d, False);
    }
    std::printf("It spent: 0 Secs to Initialize.\n");
    std::fflush(stdout);
    for (;;) pause();
}
