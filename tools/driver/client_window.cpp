// A program's window on a display of the user's: found among the window
// manager's clients by its process, sized through the window manager, and
// watched for what hides it while it is measured.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "driver/driver.h"
#include "driver/window_title.h"
#include "process/stop.h"

namespace driver {

namespace {
// A window manager's frames hold the client a level or two down.
constexpr int frame_depth = 3;

void sleep_s(double s) { std::this_thread::sleep_for(std::chrono::duration<double>(s)); }

bool has_property(Display* d, ::Window w, Atom name) {
    Atom type = None;
    int format = 0;
    unsigned long n = 0, after = 0;
    unsigned char* data = nullptr;
    const bool has = XGetWindowProperty(d, w, name, 0, 0, False, AnyPropertyType, &type, &format,
                                        &n, &after, &data) == Success &&
                     type != None;
    if (data) XFree(data);
    return has;
}

std::vector<::Window> children_of(Display* d, ::Window w) {
    ::Window root, parent, *children = nullptr;
    unsigned n = 0;
    std::vector<::Window> all;
    if (XQueryTree(d, w, &root, &parent, &children, &n) && children)
        all.assign(children, children + n);
    if (children) XFree(children);
    return all;
}

// The windows under w (w too) that carry WM_STATE: the managed clients.
void managed_under(Display* d, ::Window w, int depth, Atom wm_state, std::vector<::Window>& out) {
    if (has_property(d, w, wm_state)) {
        out.push_back(w);
        return;
    }
    if (depth > 0)
        for (::Window c : children_of(d, w)) managed_under(d, c, depth - 1, wm_state, out);
}

std::vector<long> long_list(Display* d, ::Window w, const char* name, Atom type) {
    Atom got = None;
    int format = 0;
    unsigned long n = 0, after = 0;
    unsigned char* data = nullptr;
    std::vector<long> values;
    if (XGetWindowProperty(d, w, XInternAtom(d, name, False), 0, 4096, False, type, &got, &format,
                           &n, &after, &data) == Success &&
        got == type && format == 32 && data)
        values.assign(reinterpret_cast<long*>(data), reinterpret_cast<long*>(data) + n);
    if (data) XFree(data);
    return values;
}

std::vector<::Window> clients(Display* d) {
    const ::Window root = DefaultRootWindow(d);
    const Atom wm_state = XInternAtom(d, "WM_STATE", False);
    std::vector<::Window> all;
    for (long w : long_list(d, root, "_NET_CLIENT_LIST", XA_WINDOW))
        all.push_back(static_cast<::Window>(w));
    for (::Window top : children_of(d, root)) {
        const std::size_t before = all.size();
        managed_under(d, top, frame_depth, wm_state, all);
        XWindowAttributes a;
        // No window manager: the top-level windows are the clients.
        if (all.size() == before && XGetWindowAttributes(d, top, &a) && !a.override_redirect)
            all.push_back(top);
    }
    std::sort(all.begin(), all.end());
    all.erase(std::unique(all.begin(), all.end()), all.end());
    return all;
}

// Whether the process that says it made w is of the program's group (a
// wrapper may have started the program that draws).
bool made_by(Display* d, ::Window w, pid_t group) {
    const auto pid = long_list(d, w, "_NET_WM_PID", XA_CARDINAL);
    if (pid.size() != 1 || pid[0] <= 0) return false;
    const auto p = static_cast<pid_t>(pid[0]);
    return p == group || getpgid(p) == group;
}

::Window program_window(Display* d, const std::string& title, pid_t group,
                        const std::vector<unsigned long>& before) {
    ::Window by_title = 0;
    for (::Window w : clients(d)) {
        XWindowAttributes a;
        if (!XGetWindowAttributes(d, w, &a) || a.map_state != IsViewable) continue;
        if (made_by(d, w, group)) return w;
        if (!by_title && title_of(d, w) == title &&
            std::find(before.begin(), before.end(), w) == before.end())
            by_title = w;
    }
    return by_title;
}
}  // namespace

std::vector<unsigned long> Window::client_windows(const std::string& display) {
    Display* d = open_display(display);
    if (!d) throw x_error("cannot open display " + display, true);
    const auto all = clients(d);
    forgive_x("the list of windows");
    XCloseDisplay(d);
    return {all.begin(), all.end()};
}

std::optional<Window> Window::find_client(const std::string& display, const std::string& title,
                                          pid_t group, const std::vector<unsigned long>& before,
                                          double timeout) {
    Display* d = open_display(display);
    if (!d) return std::nullopt;
    const double end = now() + timeout;
    do {
        const ::Window w = program_window(d, title, group, before);
        try {
            forgive_x("the search for a window");  // windows come and go while it is read
        } catch (...) {
            XCloseDisplay(d);
            throw;
        }
        if (w) {
            Window found(d, w);
            found.send_ = true;
            XSelectInput(d, w, VisibilityChangeMask | StructureNotifyMask | PropertyChangeMask);
            found.activate();
            return found;
        }
        sleep_s(0.1);
    } while (now() < end && !process::stop_signal());
    XCloseDisplay(d);
    return std::nullopt;
}

// Raised and given the focus through the window manager where one runs
// (as a pager asks, which none refuses), else directly.
void Window::activate() {
    const ::Window root = DefaultRootWindow(display_);
    const Atom check = XInternAtom(display_, "_NET_SUPPORTING_WM_CHECK", False);
    if (has_property(display_, root, check)) {
        XEvent e{};
        e.xclient.type = ClientMessage;
        e.xclient.window = window_;
        e.xclient.message_type = XInternAtom(display_, "_NET_ACTIVE_WINDOW", False);
        e.xclient.format = 32;
        e.xclient.data.l[0] = 2;  // from a pager or tool
        e.xclient.data.l[1] = CurrentTime;
        XSendEvent(display_, root, False, SubstructureRedirectMask | SubstructureNotifyMask, &e);
    } else {
        XRaiseWindow(display_, window_);
        XSetInputFocus(display_, window_, RevertToParent, CurrentTime);
    }
    XSync(display_, False);
    forgive_x("activating the window");  // one that was just unmapped cannot take the focus
}

std::pair<int, int> Window::own_size() const {
    XSizeHints hints{};
    long supplied = 0;
    if (XGetWMNormalHints(display_, window_, &hints, &supplied) &&
        (hints.flags & (USSize | PSize)) && hints.width > 0 && hints.height > 0)
        return {hints.width, hints.height};
    return size();
}

bool Window::read_events() {
    bool configured = false;
    const Atom state = XInternAtom(display_, "_NET_WM_STATE", False);
    const Atom hidden = XInternAtom(display_, "_NET_WM_STATE_HIDDEN", False);
    while (XPending(display_)) {
        XEvent e;
        XNextEvent(display_, &e);
        if (e.type == VisibilityNotify && e.xvisibility.state != VisibilityUnobscured)
            covered_ = true;
        if (e.type == VisibilityNotify)
            fully_covered_ = e.xvisibility.state == VisibilityFullyObscured;
        if (e.type == ConfigureNotify && e.xconfigure.window == window_) configured = true;
        if (e.type == DestroyNotify && e.xdestroywindow.window == window_) {
            // The program destroying its window (at its own end) unmaps it first: no hiding.
            gone_ = true;
            if (last_unmapped_) unmapped_ = false;
        }
        last_unmapped_ = e.type == UnmapNotify && e.xunmap.window == window_;
        if (last_unmapped_) unmapped_ = true;
        if (e.type == PropertyNotify && e.xproperty.atom == state)
            for (long s : long_list(display_, window_, "_NET_WM_STATE", XA_ATOM))
                hidden_ = hidden_ || static_cast<Atom>(s) == hidden;
    }
    forgive_x("the window's events");
    return configured;
}

std::pair<int, int> Window::ask_size(int width, int height) {
    const std::pair<int, int> asked{width, height};
    read_events();
    if (size() == asked) return asked;
    XResizeWindow(display_, window_, static_cast<unsigned>(width), static_cast<unsigned>(height));
    XSync(display_, False);
    check_x("resize");
    // A window manager answers with a ConfigureNotify, also when it grants
    // less; once none has come for a moment its answer is complete.
    const double end = now() + 5;
    double last = 0;
    while (now() < end && !process::stop_signal() && size() != asked) {
        if (read_events()) last = now();
        else if (last > 0 && now() - last > 0.5) break;
        sleep_s(0.02);
    }
    return size();
}

void Window::keep_in_view() {
    read_events();
    if (!fully_covered_) return;
    fully_covered_ = false;
    activate();
}

void Window::watch_from_now() {
    activate();  // whatever took the top since it was found
    read_events();
    covered_ = hidden_ = last_unmapped_ = false;
    unmapped_ = !viewable();
}

std::string Window::hidden_since() {
    read_events();
    if (!gone_ && !viewable()) unmapped_ = true;
    std::string what;
    for (auto [seen, word] : {std::pair{covered_, "covered"}, std::pair{hidden_, "hidden"},
                              std::pair{unmapped_, "unmapped"}})
        if (seen) what += (what.empty() ? "" : ", ") + std::string(word);
    return what;
}

}  // namespace driver
