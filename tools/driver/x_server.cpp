// A private Xvfb, and the handlers that turn X errors and
// a lost server into exceptions instead of the end of the process.
#include <X11/Xlib.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <stdexcept>

#include "driver/driver.h"
#include "process/spawn.h"

namespace driver {

double now() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

XServer::XServer(int width, int height, int depth) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    process::child_setup s;
    s.argv = {"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0",
              std::to_string(width) + "x" + std::to_string(height) + "x" + std::to_string(depth),
              "-nolisten", "tcp", "-noreset"};
    s.search_path = true;
    s.keep = {fds[1]};
    const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    s.in = s.out = s.err = null;
    try {
        pid_ = process::spawn(s);
    } catch (...) {
        close(fds[0]);
        close(fds[1]);
        close(null);
        throw;
    }
    close(null);
    close(fds[1]);
    bool interrupted = false;
    display_ = wait_display_number(fds[0], 20, interrupted);
    close(fds[0]);
    if (display_.empty()) {
        ::kill(pid_, SIGKILL);
        process::wait_raw(pid_);
        throw std::runtime_error(interrupted ? "interrupted while Xvfb was starting"
                                             : "Xvfb did not start (is the xvfb package installed?)");
    }
}

std::string wait_display_number(int fd, double timeout, bool& interrupted) {
    std::string number;
    char c = 0;
    pollfd p{fd, POLLIN, 0};
    // A caught signal (the user's stop) ends the wait at once.
    const double deadline = now() + timeout;
    int ready = 0;
    while ((ready = poll(&p, 1, static_cast<int>(std::max(0.0, deadline - now()) * 1000))) > 0 &&
           read(fd, &c, 1) == 1 && c != '\n' && number.size() < 16)
        number += c;
    interrupted = ready < 0 && errno == EINTR;
    if (number.empty() || interrupted || ready == 0 || c != '\n' ||
        number.find_first_not_of("0123456789") != std::string::npos)
        return "";
    return ":" + number;
}

std::unique_ptr<XServer> XServer::adopt(pid_t pid, std::string display) {
    return std::unique_ptr<XServer>(new XServer(pid, std::move(display)));
}

XServer::~XServer() {
    if (ended_) return;
    ::kill(pid_, SIGTERM);
    for (int i = 0; i < 50; ++i) {
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ::kill(pid_, SIGKILL);
    process::wait_raw(pid_);
}

bool XServer::running() {
    if (!ended_ && waitpid(pid_, nullptr, WNOHANG) == pid_) ended_ = true;
    return !ended_;
}

std::string display_or_private(std::unique_ptr<XServer>& holder) {
    const char* d = std::getenv("DISPLAY");
    if (d && *d) return d;
    holder = std::make_unique<XServer>();
    return holder->display();
}

namespace {
// Xlib reports errors through process-wide handlers; the driver makes its X
// calls from one thread, so the last failure is kept here until checked.
std::string pending_error;
bool connection_lost = false;

int on_error(Display* d, XErrorEvent* e) {
    char text[256] = "";
    XGetErrorText(d, e->error_code, text, sizeof text);
    if (pending_error.empty())
        pending_error = std::string("X error: ") + text + " (request " +
                        std::to_string(static_cast<int>(e->request_code)) + ")";
    return 0;
}

int on_io_error(Display*) {
    connection_lost = true;
    return 0;
}

// Returning from here leaves the display marked broken: later calls on it
// return at once, and it can still be closed.
void on_io_exit(Display*, void*) { connection_lost = true; }
}  // namespace

_XDisplay* open_display(const std::string& name) {
    static std::once_flag installed;
    std::call_once(installed, [] {
        XSetErrorHandler(on_error);
        XSetIOErrorHandler(on_io_error);
    });
    pending_error.clear();
    connection_lost = false;
    Display* d = XOpenDisplay(name.c_str());
    if (d) XSetIOErrorExitHandler(d, on_io_exit, nullptr);
    return d;
}

void check_x(const char* what) {
    if (connection_lost) {
        connection_lost = false;
        pending_error.clear();
        throw x_error(std::string("the X server was lost during ") + what, true);
    }
    if (!pending_error.empty()) {
        std::string e = std::move(pending_error);
        pending_error.clear();
        throw x_error(e + " during " + what, false);
    }
}

void forgive_x(const char* what) {
    pending_error.clear();
    check_x(what);
}

}  // namespace driver
