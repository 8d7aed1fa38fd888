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
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
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
        if (!how.directory.empty() && chdir(how.directory.c_str()) != 0) _exit(126);
        if (drop && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
            _exit(125);
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
    // A program that has gone must not take the driver with it.
    signal(SIGPIPE, SIG_IGN);
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

}  // namespace driver
