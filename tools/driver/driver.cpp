#include "driver.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/XKBlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace driver {

double now() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

namespace {
void sleep_s(double s) { std::this_thread::sleep_for(std::chrono::duration<double>(s)); }

[[noreturn]] void fail(const std::string& what) {
    throw std::runtime_error(what + ": " + std::strerror(errno));
}
}  // namespace

XServer::XServer(int width, int height, int depth) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) fail("pipe");
    const std::string screen =
        std::to_string(width) + "x" + std::to_string(height) + "x" + std::to_string(depth);
    const std::string fd_text = std::to_string(fds[1]);
    pid_ = fork();
    if (pid_ < 0) fail("fork");
    if (pid_ == 0) {
        fcntl(fds[1], F_SETFD, 0);
        int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        execlp("Xvfb", "Xvfb", "-displayfd", fd_text.c_str(), "-screen", "0", screen.c_str(),
               "-nolisten", "tcp", "-noreset", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    std::string number;
    char c;
    pollfd p{fds[0], POLLIN, 0};
    while (poll(&p, 1, 20000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    if (number.empty()) {
        ::kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        throw std::runtime_error("Xvfb did not start (is the xvfb package installed?)");
    }
    display_ = ":" + number;
}

XServer::~XServer() {
    ::kill(pid_, SIGTERM);
    for (int i = 0; i < 50; ++i) {
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) return;
        sleep_s(0.1);
    }
    ::kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
}

std::string display_or_private(std::unique_ptr<XServer>& holder) {
    const char* d = std::getenv("DISPLAY");
    if (d && *d) return d;
    holder = std::make_unique<XServer>();
    return holder->display();
}

Process::Process(const launch& how) {
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC)) fail("pipe");

    // Everything the child needs is prepared before fork: after it only
    // async-signal-safe calls are allowed.
    std::vector<std::string> arg_text{how.executable};
    arg_text.insert(arg_text.end(), how.args.begin(), how.args.end());
    std::vector<char*> argv;
    for (auto& a : arg_text) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env_text;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "DISPLAY=", 8) != 0) env_text.emplace_back(*e);
    env_text.push_back("DISPLAY=" + how.display);
    env_text.insert(env_text.end(), how.env.begin(), how.env.end());
    std::vector<char*> envp;
    for (auto& e : env_text) envp.push_back(e.data());
    envp.push_back(nullptr);
    const bool drop = how.unprivileged && geteuid() == 0;
    // A path too long for one chdir is entered component by component.
    std::vector<std::string> steps;
    if (how.directory.size() >= PATH_MAX) {
        std::size_t at = 0;
        if (how.directory[0] == '/') {
            steps.emplace_back("/");
            at = 1;
        }
        while (at < how.directory.size()) {
            std::size_t end = how.directory.find('/', at);
            if (end == std::string::npos) end = how.directory.size();
            if (end > at) steps.push_back(how.directory.substr(at, end - at));
            at = end + 1;
        }
    }
    struct sigaction default_pipe {};
    default_pipe.sa_handler = SIG_DFL;
    // Typing into a program that has gone must not take the driver with it.
    signal(SIGPIPE, SIG_IGN);

    pid_ = fork();
    if (pid_ < 0) fail("fork");
    if (pid_ == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        if (how.stdin_at_end) {
            int null = open("/dev/null", O_RDONLY);
            dup2(null, 0);
        }
        sigaction(SIGPIPE, &default_pipe, nullptr);
        if (how.file_size_limit >= 0) {
            const rlimit limit{static_cast<rlim_t>(how.file_size_limit),
                               static_cast<rlim_t>(how.file_size_limit)};
            if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(124);
        }
        if (!steps.empty()) {
            for (auto& step : steps)
                if (chdir(step.c_str()) != 0) _exit(126);
        } else if (!how.directory.empty() && chdir(how.directory.c_str()) != 0) {
            _exit(126);
        }
        if (drop && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
            _exit(125);
        // Closed last: nothing above may reuse the numbers.
        if (how.stdin_closed) close(0);
        if (how.stdout_closed) close(1);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    stdin_fd_ = in[1];
    if (how.stdin_at_end) close_input();
    out_reader_ = std::thread([this, fd = out[0]] { read_loop(fd, true); });
    err_reader_ = std::thread([this, fd = err[0]] { read_loop(fd, false); });
}

Process::~Process() {
    if (running()) kill_now(SIGKILL);
    wait_exit(10);
    close_input();
    if (out_reader_.joinable()) out_reader_.join();
    if (err_reader_.joinable()) err_reader_.join();
}

void Process::read_loop(int fd, bool is_stdout) {
    char buffer[65536];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        std::lock_guard<std::mutex> lock(mutex_);
        if (n <= 0) {
            if (is_stdout && !partial_.empty()) lines_.push_back(std::move(partial_));
            --open_streams_;
            changed_.notify_all();
            break;
        }
        if (!is_stdout) {
            errors_.append(buffer, static_cast<std::size_t>(n));
        } else {
            for (ssize_t i = 0; i < n; ++i) {
                if (buffer[i] == '\n')
                    lines_.push_back(std::move(partial_)), partial_.clear();
                else
                    partial_ += buffer[i];
            }
        }
        changed_.notify_all();
    }
    close(fd);
}

std::vector<std::string> Process::lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
}

std::string Process::error_text() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return errors_;
}

int Process::wait_for_line(const std::string& text, double timeout, std::size_t from) const {
    std::unique_lock<std::mutex> lock(mutex_);
    const double end = now() + timeout;
    for (;;) {
        for (std::size_t i = from; i < lines_.size(); ++i)
            if (lines_[i].find(text) != std::string::npos) return static_cast<int>(i);
        from = std::max(from, lines_.size());
        if (open_streams_ == 0 || now() >= end) return -1;
        changed_.wait_for(lock, std::chrono::milliseconds(100));
    }
}

int Process::count(const std::string& prefix) const {
    std::lock_guard<std::mutex> lock(mutex_);
    int n = 0;
    for (auto& l : lines_) n += l.rfind(prefix, 0) == 0;
    return n;
}

bool Process::wait_for_count(const std::string& prefix, int n, double timeout) const {
    const double end = now() + timeout;
    for (;;) {
        if (count(prefix) >= n) return true;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            if (open_streams_ == 0 || now() >= end) return false;
            changed_.wait_for(lock, std::chrono::milliseconds(100));
        }
    }
}

void Process::type(const std::string& text) {
    if (stdin_fd_ < 0) return;
    (void)!write(stdin_fd_, text.data(), text.size());
}

void Process::close_input() {
    if (stdin_fd_ >= 0) close(stdin_fd_);
    stdin_fd_ = -1;
}

std::optional<int> Process::wait_exit(double timeout) {
    const double end = now() + timeout;
    while (!status_) {
        int raw = 0;
        pid_t r = waitpid(pid_, &raw, WNOHANG);
        if (r == pid_) {
            status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : -WTERMSIG(raw);
            break;
        }
        if (r < 0 || now() >= end) return std::nullopt;
        sleep_s(0.05);
    }
    // Output written just before the exit is read before anyone looks at it.
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(5), [this] { return open_streams_ == 0; });
    return status_;
}

bool Process::running() { return !status_ && !wait_exit(0); }

void Process::kill_now(int signal) {
    if (!status_) ::kill(pid_, signal);
}

namespace {
std::string title_of(Display* d, ::Window w) {
    char* name = nullptr;
    std::string title;
    if (XFetchName(d, w, &name) && name) title = name;
    if (name) XFree(name);
    return title;
}

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
    Display* d = XOpenDisplay(display.c_str());
    if (!d) return std::nullopt;
    const double end = now() + timeout;
    do {
        if (::Window w = find_titled(d, DefaultRootWindow(d), title)) return Window(d, w);
        sleep_s(0.1);
    } while (now() < end);
    XCloseDisplay(d);
    return std::nullopt;
}

Window::Window(Window&& o) noexcept : display_(o.display_), window_(o.window_) {
    o.display_ = nullptr;
}

Window& Window::operator=(Window&& o) noexcept {
    if (this != &o) {
        if (display_) XCloseDisplay(display_);
        display_ = o.display_;
        window_ = o.window_;
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
    const bool shift = XkbKeycodeToKeysym(display_, code, 0, 0) != sym;
    const KeyCode shift_code = XKeysymToKeycode(display_, XK_Shift_L);
    XSetInputFocus(display_, window_, RevertToPointerRoot, CurrentTime);
    if (shift) XTestFakeKeyEvent(display_, shift_code, True, CurrentTime);
    XTestFakeKeyEvent(display_, code, True, CurrentTime);
    XTestFakeKeyEvent(display_, code, False, CurrentTime);
    if (shift) XTestFakeKeyEvent(display_, shift_code, False, CurrentTime);
    XSync(display_, False);
}

void Window::press(unsigned button, bool down) {
    auto [w, h] = size();
    int x = 0, y = 0;
    ::Window child;
    XTranslateCoordinates(display_, window_, DefaultRootWindow(display_), w / 2, h / 2, &x, &y,
                          &child);
    XTestFakeMotionEvent(display_, DefaultScreen(display_), x, y, CurrentTime);
    XTestFakeButtonEvent(display_, button, down ? True : False, CurrentTime);
    XSync(display_, False);
}

void Window::click(unsigned button) {
    press(button, true);
    press(button, false);
}

void Window::resize(int width, int height) {
    XResizeWindow(display_, window_, static_cast<unsigned>(width), static_cast<unsigned>(height));
    XSync(display_, False);
    const double end = now() + 5;
    while (size() != std::make_pair(width, height) && now() < end) sleep_s(0.02);
}

void Window::move(int x, int y) {
    XMoveWindow(display_, window_, x, y);
    XSync(display_, False);
}

std::pair<int, int> Window::size() const {
    XWindowAttributes a;
    if (!XGetWindowAttributes(display_, window_, &a)) return {0, 0};
    return {a.width, a.height};
}

std::pair<int, int> Window::position() const {
    XWindowAttributes a;
    if (!XGetWindowAttributes(display_, window_, &a)) return {0, 0};
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
    Display* d = XOpenDisplay(display.c_str());
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
    const KeyCode shift_code = XKeysymToKeycode(display_, XK_Shift_L);
    const KeyCode control_code = XKeysymToKeycode(display_, XK_Control_L);
    const bool shift = key->second == 1;
    XSetInputFocus(display_, window_, RevertToPointerRoot, CurrentTime);
    if (control) XTestFakeKeyEvent(display_, control_code, True, CurrentTime);
    if (shift) XTestFakeKeyEvent(display_, shift_code, True, CurrentTime);
    XTestFakeKeyEvent(display_, key->first, True, CurrentTime);
    XTestFakeKeyEvent(display_, key->first, False, CurrentTime);
    if (shift) XTestFakeKeyEvent(display_, shift_code, False, CurrentTime);
    if (control) XTestFakeKeyEvent(display_, control_code, False, CurrentTime);
    XSync(display_, False);
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
    while (size() != std::make_pair(width, height) && now() < end) sleep_s(0.02);
    return size() == std::make_pair(width, height);
}

void Window::expose() {
    XClearArea(display_, window_, 0, 0, 0, 0, True);
    XSync(display_, False);
}

bool Window::viewable() const {
    XWindowAttributes a;
    return XGetWindowAttributes(display_, window_, &a) && a.map_state == IsViewable;
}

void Window::remap() {
    XUnmapWindow(display_, window_);
    XSync(display_, False);
    const double end = now() + 5;
    while (viewable() && now() < end) sleep_s(0.01);
    XMapWindow(display_, window_);
    XSync(display_, False);
    while (!viewable() && now() < end + 5) sleep_s(0.01);
}

}  // namespace driver
