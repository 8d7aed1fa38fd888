// Drives the benchmarks as a person would: an X server to show them on, the
// program's console (what it prints, what is typed into it) and its window
// (keys, mouse buttons, resizes). Shared by the unattended runner and the
// end-to-end tests.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

struct _XDisplay;

namespace driver {

// An X request that failed (a window gone, a size refused) or a connection
// to the X server lost; `lost` tells the second.
class x_error : public std::runtime_error {
public:
    x_error(const std::string& what, bool lost_server)
        : std::runtime_error(what), lost(lost_server) {}
    bool lost;
};

// Opens a display with the driver's X error handlers in place: errors are
// kept for check_x() instead of ending the process.
_XDisplay* open_display(const std::string& name);
// Throws x_error for an error kept since the last check, or a lost server.
void check_x(const char* what);
// Forgets a kept error (an expected one); throws only for a lost server.
void forgive_x(const char* what);

// The size of a private server's screen: the largest window it shows whole.
inline constexpr int screen_width = 1600, screen_height = 1600;

// A private Xvfb on a free display number, stopped with the object. Its
// process dies with the thread that made it.
class XServer {
public:
    explicit XServer(int width = screen_width, int height = screen_height, int depth = 24);
    // A server started elsewhere (a private Xorg), from now on stopped with
    // the object.
    static std::unique_ptr<XServer> adopt(pid_t pid, std::string display);
    ~XServer();
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;
    const std::string& display() const { return display_; }
    pid_t pid() const { return pid_; }
    bool running();  // false once the server has ended (killed, crashed)

private:
    XServer(pid_t pid, std::string display) : pid_(pid), display_(std::move(display)) {}
    pid_t pid_ = -1;
    bool ended_ = false;
    std::string display_;
};

// What a server started with -displayfd writes on that descriptor once it
// takes clients, read up to timeout seconds: ":N", or "" when it ended
// first or took too long. `interrupted` tells a stop signal that ended the wait.
std::string wait_display_number(int fd, double timeout, bool& interrupted);

// $DISPLAY when set; otherwise starts a private server kept in holder.
std::string display_or_private(std::unique_ptr<XServer>& holder);

struct launch {
    std::string executable;
    std::vector<std::string> args;
    std::string directory;             // working directory of the program
    std::string display;               // X display it opens its window on
    std::vector<std::string> env;      // NAME=value beside DISPLAY, replacing inherited ones
    bool unprivileged = false;         // drop root, so permissions hold
    bool stdin_at_end = false;         // standard input is empty from the start
    bool stdin_closed = false;         // no standard input at all (descriptor 0 closed)
    bool stdout_closed = false;        // no standard output at all (descriptor 1 closed)
    long long file_size_limit = -1;    // bytes, as `ulimit -f` sets it; -1: as inherited
    // What is kept of its output in memory: standard error's first bytes, and
    // the console's lines (each counted with its bookkeeping); the rest is
    // read, counted and dropped.
    std::size_t error_cap = SIZE_MAX;
    std::size_t console_cap = SIZE_MAX;
};

// A running program with its console captured line by line, each line
// stamped on arrival. It starts as from a shell (see process::spawn): SIGPIPE
// at its default, a directory longer than PATH_MAX entered one component at a
// time; in a process group of its own that ends with it, and killed if the
// thread that started it ends. Its pipes are read a short grace period past
// its end; whoever still holds them open then is ended.
class Program {
public:
    explicit Program(const launch& how);
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    pid_t pid() const { return pid_; }
    std::vector<std::string> lines() const;  // complete stdout lines so far
    std::string console_text() const;        // the same, each ended by a newline
    // When each of lines() arrived: microseconds on the monotonic clock.
    std::vector<std::int64_t> line_stamps_us() const;
    std::string error_text() const;          // stderr so far
    // Index of the first line at or after `from` that contains text, waiting
    // up to timeout seconds; -1 when none came (or the program ended first).
    int wait_for_line(const std::string& text, double timeout, std::size_t from = 0) const;
    // Number of lines that start with prefix.
    int count(const std::string& prefix) const;
    // Waits until count(prefix) >= n; false on time-out or exit.
    bool wait_for_count(const std::string& prefix, int n, double timeout) const;
    void type(const std::string& text);      // into standard input
    void close_input();
    // Exit status, or -(signal) when killed by one; nullopt on time-out.
    std::optional<int> wait_exit(double timeout);
    bool running();
    void kill_now(int signal);
    // Bytes read and dropped past the caps; the console is full once any were.
    std::uint64_t error_bytes_not_kept() const;
    std::uint64_t console_bytes_not_kept() const;
    bool console_full() const { return console_bytes_not_kept() > 0; }
    // Processes outside its group that still held its output open a grace
    // period after it ended (started with setsid, say), ended with SIGKILL.
    std::vector<pid_t> strays_ended() const;

private:
    void read_loop(int fd, bool is_stdout);
    void take_console(const char* at, const char* end, std::int64_t arrived);
    void drain_after_exit();
    std::size_t error_cap_, console_cap_, console_kept_ = 0;
    std::uint64_t error_dropped_ = 0, console_dropped_ = 0;
    ino_t out_inode_ = 0, err_inode_ = 0;
    std::vector<pid_t> strays_;
    bool drained_ = false;
    std::atomic<bool> stop_reading_{false};
    pid_t pid_ = -1;
    int stdin_fd_ = -1;
    std::optional<int> status_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<std::string> lines_;
    std::vector<std::int64_t> stamps_;
    std::string partial_, errors_;
    int open_streams_ = 2;
    std::thread out_reader_, err_reader_;
};

// A top-level window found by its title, driven through the XTest extension;
// or, on a display of the user's, the program's client window, driven by
// events sent to it alone (XTest types into whatever has the focus). Actions throw x_error when the window is gone or the server lost; the
// queries (size, position, viewable) answer 0 or false for a gone window.
class Window {
public:
    // Waits up to timeout seconds for a viewable window with this title.
    static std::optional<Window> find(const std::string& display, const std::string& title,
                                      double timeout);
    // The client windows now on the display: those a window manager manages
    // (inside its frames too), and the top-level ones where none runs.
    static std::vector<unsigned long> client_windows(const std::string& display);
    // On a display of the user's: the viewable client window whose
    // _NET_WM_PID is a process of the program's group, or else a new one with
    // this title (not among before); raised and activated. Its keys and
    // buttons go to it alone, and what hides it is watched.
    static std::optional<Window> find_client(const std::string& display, const std::string& title,
                                             pid_t group, const std::vector<unsigned long>& before,
                                             double timeout);
    Window(Window&&) noexcept;
    Window& operator=(Window&&) noexcept;
    ~Window();

    void key(const std::string& keysym_name);  // "r", "R", "Escape", ...
    void click(unsigned button);               // 1 left, 2 middle, 3 right, 4/5 wheel
    void press(unsigned button, bool down);
    void resize(int width, int height);        // waits until the server has it
    std::pair<int, int> size() const;
    std::pair<int, int> position() const;
    void close();  // asks the window to close as a window manager would

    // One character code as the program's keyboard callback receives it:
    // Latin-1 keysyms for 32-126 and 128-255, Delete for 127, Control with
    // a key of the 64-127 range for 0-31 (so 27 comes as Control+[, which
    // is Esc to the program). Codes whose keysym no key carries need
    // bind_character_keys() first; without it this throws.
    void character(unsigned char code);
    // Asks for a size; false when the server refuses it (X allows no side of
    // 0), true once the window has it.
    bool request_size(int width, int height);
    // Exposure of the whole window, as when something covering it goes away.
    void expose();
    // Unmapped and mapped again, each waited for: as when iconified and restored.
    void remap();
    bool viewable() const;

    // A client window's own: the size it asked for (WM_NORMAL_HINTS), else its size now.
    std::pair<int, int> own_size() const;
    // Asks the window manager for a size; the size it granted, once it
    // answered (or a few seconds passed).
    std::pair<int, int> ask_size(int width, int height);
    // Starts watching afresh what hides a client window.
    void watch_from_now();
    // Raised again when fully covered: a window not shown draws no frame
    // (without a compositor nothing is drawn off screen).
    void keep_in_view();
    // What hid it since watch_from_now(): "covered", "hidden" (minimised),
    // "unmapped", joined by ", "; "" when it stayed in view.
    std::string hidden_since();

private:
    Window(_XDisplay* d, unsigned long w) : display_(d), window_(w) {}
    void tap(unsigned keycode, bool shift, bool control);
    void send_key(unsigned keycode, unsigned state, bool down);
    bool read_events();  // true when a ConfigureNotify came
    void activate();
    _XDisplay* display_;
    unsigned long window_;
    bool send_ = false;  // events sent to the window, not typed through XTest
    bool covered_ = false, hidden_ = false, unmapped_ = false;
    bool last_unmapped_ = false, gone_ = false, fully_covered_ = false;  // the last event an unmap; destroyed
    unsigned long time_ = 1;  // the sent events' timestamps, each its own
};

// Binds the Latin-1 keysyms (128-255) that the server's keyboard lacks, two
// to a key (lower case, upper case where they pair), to keys that carry no
// keysym or only vendor ones, so that Window::character() can type every
// code. Call it before the program connects and before Window::find(): a
// client learns of a changed map lazily, so it must not change during a run.
void bind_character_keys(const std::string& display);

// Seconds on a monotonic clock.
double now();

}  // namespace driver
