// A top-level window found by its title and driven
// through the XTest extension. X errors become driver::x_error.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/XKBlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "driver/driver.h"
#include "driver/window_title.h"
#include "process/stop.h"

namespace driver {

namespace {
void sleep_s(double s) { std::this_thread::sleep_for(std::chrono::duration<double>(s)); }

// A window that went away reads as all zeros (size 0x0, not viewable).
XWindowAttributes attributes(Display* d, ::Window w, const char* what) {
    XWindowAttributes a{};
    if (!XGetWindowAttributes(d, w, &a)) {
        forgive_x(what);
        a = XWindowAttributes{};
    }
    return a;
}
}  // namespace

namespace {
::Window find_titled(Display* d, ::Window root, const std::string& title) {
    ::Window parent, *children = nullptr;
    unsigned n = 0;
    ::Window found = 0;
    if (!XQueryTree(d, root, &root, &parent, &children, &n)) return 0;
    for (unsigned i = 0; i < n && !found; ++i) {
        XWindowAttributes a;
        if (XGetWindowAttributes(d, children[i], &a) && a.map_state == IsViewable &&
            title_of(d, children[i]) == title)
            found = children[i];
    }
    if (children) XFree(children);
    return found;
}
}  // namespace

std::optional<Window> Window::find(const std::string& display, const std::string& title,
                                   double timeout) {
    Display* d = open_display(display);
    if (!d) return std::nullopt;
    const double end = now() + timeout;
    do {
        const ::Window w = find_titled(d, DefaultRootWindow(d), title);
        // Windows come and go while the tree is read: their errors are no fault.
        try {
            forgive_x("the search for a window");
        } catch (...) {
            XCloseDisplay(d);
            throw;
        }
        if (w) return Window(d, w);
        sleep_s(0.1);
    } while (now() < end);
    XCloseDisplay(d);
    return std::nullopt;
}

Window::Window(Window&& o) noexcept : display_(nullptr), window_(0) { *this = std::move(o); }

Window& Window::operator=(Window&& o) noexcept {
    if (this != &o) {
        if (display_) XCloseDisplay(display_);
        display_ = o.display_;
        window_ = o.window_;
        send_ = o.send_;
        covered_ = o.covered_;
        hidden_ = o.hidden_;
        unmapped_ = o.unmapped_;
        last_unmapped_ = o.last_unmapped_;
        gone_ = o.gone_;
        fully_covered_ = o.fully_covered_;
        time_ = o.time_;
        o.display_ = nullptr;
    }
    return *this;
}

Window::~Window() {
    if (display_) XCloseDisplay(display_);
}

void Window::key(const std::string& keysym_name) {
    const KeySym sym = XStringToKeysym(keysym_name.c_str());
    if (sym == NoSymbol) throw std::invalid_argument("no such key: " + keysym_name);
    const KeyCode code = XKeysymToKeycode(display_, sym);
    // Upper-case letters need Shift: the keycode alone gives the lower case.
    tap(code, XkbKeycodeToKeysym(display_, code, 0, 0) != sym, false);
    check_x("key");
}

// One key pressed and released with the modifiers held: typed through XTest
// into the focus set on the window, or sent to the window alone.
void Window::tap(unsigned keycode, bool shift, bool control) {
    const auto code = static_cast<KeyCode>(keycode);
    if (send_) {
        const unsigned state = (shift ? ShiftMask : 0u) | (control ? ControlMask : 0u);
        send_key(code, state, true);
        send_key(code, state, false);
        XSync(display_, False);
        return;
    }
    const KeyCode shift_code = XKeysymToKeycode(display_, XK_Shift_L);
    const KeyCode control_code = XKeysymToKeycode(display_, XK_Control_L);
    XSetInputFocus(display_, window_, RevertToPointerRoot, CurrentTime);
    if (control) XTestFakeKeyEvent(display_, control_code, True, CurrentTime);
    if (shift) XTestFakeKeyEvent(display_, shift_code, True, CurrentTime);
    XTestFakeKeyEvent(display_, code, True, CurrentTime);
    XTestFakeKeyEvent(display_, code, False, CurrentTime);
    if (shift) XTestFakeKeyEvent(display_, shift_code, False, CurrentTime);
    if (control) XTestFakeKeyEvent(display_, control_code, False, CurrentTime);
    XSync(display_, False);
}

namespace {
// Where an event at the window's middle is, in its own and the root's terms.
struct spot {
    ::Window root;
    int x, y, root_x, root_y;
};
spot middle_of(Display* d, ::Window w, std::pair<int, int> size) {
    spot s{DefaultRootWindow(d), size.first / 2, size.second / 2, 0, 0};
    ::Window child;
    XTranslateCoordinates(d, w, s.root, s.x, s.y, &s.root_x, &s.root_y, &child);
    return s;
}

// What a sent key or button event says of where it happened, as the server's own do.
template <typename Event>
void place(Event& e, Display* d, ::Window w, const spot& at, Time time) {
    e.display = d;
    e.window = w;
    e.root = at.root;
    e.subwindow = None;
    e.time = time;
    e.x = at.x;
    e.y = at.y;
    e.x_root = at.root_x;
    e.y_root = at.root_y;
    e.same_screen = True;
}
}  // namespace

void Window::send_key(unsigned keycode, unsigned state, bool down) {
    const spot at = middle_of(display_, window_, size());
    XEvent e{};
    XKeyEvent& k = e.xkey;
    k.type = down ? KeyPress : KeyRelease;
    // Distinct times: a release and a press of one key at one time read as auto-repeat.
    place(k, display_, window_, at, ++time_);
    k.state = state;
    k.keycode = keycode;
    XSendEvent(display_, window_, False, down ? KeyPressMask : KeyReleaseMask, &e);
}

void Window::press(unsigned button, bool down) {
    const spot at = middle_of(display_, window_, size());
    if (send_) {
        XEvent e{};
        XButtonEvent& b = e.xbutton;
        b.type = down ? ButtonPress : ButtonRelease;
        place(b, display_, window_, at, ++time_);
        // A release carries the button held until then, as the server's own do.
        b.state = down || button < 1 || button > 5 ? 0u : (Button1Mask << (button - 1));
        b.button = button;
        XSendEvent(display_, window_, False, down ? ButtonPressMask : ButtonReleaseMask, &e);
    } else {
        XTestFakeMotionEvent(display_, DefaultScreen(display_), at.root_x, at.root_y, CurrentTime);
        XTestFakeButtonEvent(display_, button, down ? True : False, CurrentTime);
    }
    XSync(display_, False);
    check_x("press");
}

void Window::click(unsigned button) {
    press(button, true);
    press(button, false);
}

void Window::resize(int width, int height) {
    XResizeWindow(display_, window_, static_cast<unsigned>(width), static_cast<unsigned>(height));
    XSync(display_, False);
    check_x("resize");
    const double end = now() + 5;
    while (size() != std::make_pair(width, height) && now() < end && !process::stop_signal())
        sleep_s(0.02);
}

std::pair<int, int> Window::size() const {
    const auto a = attributes(display_, window_, "size");
    return {a.width, a.height};
}

std::pair<int, int> Window::position() const {
    const auto a = attributes(display_, window_, "position");
    return {a.x, a.y};
}

void Window::close() {
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.window = window_;
    e.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = static_cast<long>(XInternAtom(display_, "WM_DELETE_WINDOW", False));
    e.xclient.data.l[1] = CurrentTime;
    XSendEvent(display_, window_, False, NoEventMask, &e);
    XSync(display_, False);
    check_x("close");
}

namespace {
// X errors of one request, caught instead of ending the driver.
int trapped_error = 0;
int trap_error(Display*, XErrorEvent* e) {
    trapped_error = e->error_code;
    return 0;
}

// The key and level (0 plain, 1 with Shift) that give sym in the first group.
std::optional<std::pair<KeyCode, int>> key_for(Display* d, KeySym sym) {
    int lo = 0, hi = 0;
    XDisplayKeycodes(d, &lo, &hi);
    for (int level = 0; level < 2; ++level)
        for (int k = lo; k <= hi; ++k)
            if (XkbKeycodeToKeysym(d, static_cast<KeyCode>(k), 0, level) == sym)
                return std::make_pair(static_cast<KeyCode>(k), level);
    return std::nullopt;
}

bool is_modifier(const XModifierKeymap* m, int keycode) {
    for (int i = 0; i < 8 * m->max_keypermod; ++i)
        if (m->modifiermap[i] == keycode) return true;
    return false;
}
}  // namespace

void bind_character_keys(const std::string& display) {
    Display* d = open_display(display);
    if (!d) throw std::runtime_error("cannot open display " + display);
    std::vector<KeySym> missing;
    // Missing: on no key at a level reachable with Shift alone.
    for (KeySym s = 0x80; s <= 0xff; ++s)
        if (!key_for(d, s)) missing.push_back(s);
    // Pairs: a lower-case letter with its capital on one key, so that Shift
    // gives the capital as on any keyboard; the rest two by two.
    std::vector<std::pair<KeySym, KeySym>> pairs;
    auto take = [&](KeySym s) {
        auto it = std::find(missing.begin(), missing.end(), s);
        if (it == missing.end()) return false;
        missing.erase(it);
        return true;
    };
    for (KeySym upper = 0xc0; upper <= 0xde; ++upper) {
        if (upper == 0xd7) continue;  // the multiplication sign has no case
        const KeySym lower = upper + 0x20;
        const bool has_upper = std::find(missing.begin(), missing.end(), upper) != missing.end();
        const bool has_lower = std::find(missing.begin(), missing.end(), lower) != missing.end();
        if (has_upper && has_lower) {
            take(upper);
            take(lower);
            pairs.emplace_back(lower, upper);
        }
    }
    for (std::size_t i = 0; i < missing.size(); i += 2)
        pairs.emplace_back(missing[i], i + 1 < missing.size() ? missing[i + 1] : missing[i]);

    int lo = 0, hi = 0, per = 0;
    XDisplayKeycodes(d, &lo, &hi);
    KeySym* map = XGetKeyboardMapping(d, static_cast<KeyCode>(lo), hi - lo + 1, &per);
    XModifierKeymap* mods = XGetModifierMapping(d);
    std::size_t next = 0;
    for (int k = lo; k <= hi && next < pairs.size(); ++k) {
        // Free: a key with no keysym, or with vendor keysyms only (media
        // keys and the like), and no modifier.
        bool free = !is_modifier(mods, k);
        for (int j = 0; j < per && free; ++j) {
            const KeySym s = map[(k - lo) * per + j];
            free = s == NoSymbol || s >= 0x10000000;
        }
        if (!free) continue;
        KeySym syms[2] = {pairs[next].first, pairs[next].second};
        XChangeKeyboardMapping(d, k, 2, syms, 1);
        ++next;
    }
    XFree(map);
    XFreeModifiermap(mods);
    XSync(d, False);
    XCloseDisplay(d);
    if (next < pairs.size())
        throw std::runtime_error("too few free keys to bind every Latin-1 keysym");
}

void Window::character(unsigned char code) {
    std::vector<KeySym> candidates{code};
    bool control = false;
    if (code == 0x7f) {
        candidates = {XK_Delete};
    } else if (code < 0x20) {
        // Control keeps the low five bits of a character of the 64-126
        // range (and makes 0x1f of the slash): of those that give the code,
        // one without Shift is taken when there is one.
        control = true;
        candidates = {static_cast<KeySym>(code | 0x40)};
        if (code != 0x1f) candidates.push_back(code | 0x60);
        if (code == 0x1f) candidates.push_back(XK_slash);
    }
    std::optional<std::pair<KeyCode, int>> key;
    for (KeySym sym : candidates)
        if (auto k = key_for(display_, sym); k && (!key || k->second < key->second)) key = k;
    if (!key)
        throw std::invalid_argument("no key gives character " + std::to_string(code) +
                                    " (bind_character_keys first)");
    tap(key->first, key->second == 1, control);
    check_x("character");
}

bool Window::request_size(int width, int height) {
    XSync(display_, False);
    trapped_error = 0;
    auto* previous = XSetErrorHandler(trap_error);
    XResizeWindow(display_, window_, static_cast<unsigned>(std::max(width, 0)),
                  static_cast<unsigned>(std::max(height, 0)));
    XSync(display_, False);
    XSetErrorHandler(previous);
    if (trapped_error != 0) return false;
    const double end = now() + 5;
    while (size() != std::make_pair(width, height) && now() < end && !process::stop_signal())
        sleep_s(0.02);
    return size() == std::make_pair(width, height);
}

void Window::expose() {
    XClearArea(display_, window_, 0, 0, 0, 0, True);
    XSync(display_, False);
    check_x("expose");
}

bool Window::viewable() const {
    return attributes(display_, window_, "viewable").map_state == IsViewable;
}

void Window::remap() {
    XUnmapWindow(display_, window_);
    XSync(display_, False);
    const double end = now() + 5;
    while (viewable() && now() < end && !process::stop_signal()) sleep_s(0.01);
    XMapWindow(display_, window_);
    XSync(display_, False);
    while (!viewable() && now() < end + 5 && !process::stop_signal()) sleep_s(0.01);
    check_x("remap");
}

}  // namespace driver
