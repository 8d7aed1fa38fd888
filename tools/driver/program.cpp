// A benchmark program started through the shared spawn, its console
// read line by line (each line stamped on arrival) and typed into.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "driver/driver.h"
#include "process/spawn.h"

namespace driver {

namespace {
std::int64_t now_us() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return std::int64_t{t.tv_sec} * 1000000 + t.tv_nsec / 1000;
}

// Counted against the console's cap for each line beside its bytes.
// (the line's string, its heap block and its stamp, as a vector holds them).
constexpr std::size_t line_bookkeeping = 2 * sizeof(std::string) + sizeof(std::int64_t);

ino_t inode_of(int fd) {
    struct stat st {};
    return fstat(fd, &st) == 0 ? st.st_ino : 0;
}

// Processes other than this one with a descriptor on one of these pipes.
std::vector<pid_t> pipe_holders(ino_t a, ino_t b) {
    const std::string names[] = {"pipe:[" + std::to_string(a) + "]",
                                 "pipe:[" + std::to_string(b) + "]"};
    std::vector<pid_t> found;
    DIR* proc = opendir("/proc");
    for (dirent* e = proc ? readdir(proc) : nullptr; e; e = readdir(proc)) {
        const pid_t pid = static_cast<pid_t>(std::atoi(e->d_name));
        if (pid <= 0 || pid == getpid()) continue;
        const std::string fds = "/proc/" + std::string(e->d_name) + "/fd";
        DIR* d = opendir(fds.c_str());
        bool holds = false;
        for (dirent* f = d ? readdir(d) : nullptr; f && !holds; f = readdir(d)) {
            char target[64];
            const ssize_t n = readlinkat(dirfd(d), f->d_name, target, sizeof target - 1);
            if (n <= 0) continue;
            const std::string link(target, static_cast<std::size_t>(n));
            holds = link == names[0] || link == names[1];
        }
        if (d) closedir(d);
        if (holds) found.push_back(pid);
    }
    if (proc) closedir(proc);
    return found;
}
}  // namespace

Program::Program(const launch& how)
    : error_cap_(how.error_cap), console_cap_(how.console_cap) {
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC))
        throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    process::child_setup s;
    s.argv = {how.executable};
    s.argv.insert(s.argv.end(), how.args.begin(), how.args.end());
    s.directory = how.directory;
    s.env = how.env;
    s.env.push_back("DISPLAY=" + how.display);
    s.in = in[0];
    s.out = out[1];
    s.err = err[1];
    int null = -1;
    if (how.stdin_at_end) s.in = null = open("/dev/null", O_RDONLY | O_CLOEXEC);
    s.close_in = how.stdin_closed;
    s.close_out = how.stdout_closed;
    s.file_size_limit = how.file_size_limit;
    s.unprivileged = how.unprivileged;
    pid_ = process::spawn(s);
    if (null >= 0) close(null);
    close(in[0]);
    close(out[1]);
    close(err[1]);
    stdin_fd_ = in[1];
    out_inode_ = inode_of(out[0]);
    err_inode_ = inode_of(err[0]);
    if (how.stdin_at_end) close_input();
    out_reader_ = std::thread([this, fd = out[0]] { read_loop(fd, true); });
    err_reader_ = std::thread([this, fd = err[0]] { read_loop(fd, false); });
}

Program::~Program() {
    if (running()) kill_now(SIGKILL);
    wait_exit(10);
    close_input();
    // Past the grace period of wait_exit (or without an exit at all), the
    // readers leave whatever still holds the pipes.
    stop_reading_ = true;
    if (out_reader_.joinable()) out_reader_.join();
    if (err_reader_.joinable()) err_reader_.join();
}

void Program::take_console(const char* at, const char* const end, std::int64_t arrived) {
    const std::size_t n = static_cast<std::size_t>(end - at);
    if (console_kept_ >= console_cap_) {
        console_dropped_ += n;
        return;
    }
    console_kept_ += n;
    // Whole runs of bytes at a time: the pipe must drain as fast as a
    // program writes, or its timed console output is held back.
    while (const char* eol = static_cast<const char*>(
               std::memchr(at, '\n', static_cast<std::size_t>(end - at)))) {
        partial_.append(at, eol);
        lines_.push_back(std::move(partial_));
        stamps_.push_back(arrived);
        partial_.clear();
        console_kept_ += line_bookkeeping;
        at = eol + 1;
    }
    partial_.append(at, end);
}

void Program::read_loop(int fd, bool is_stdout) {
    char buffer[65536];
    for (;;) {
        // Waited on in slices, so that a pipe held open by others is left
        // once asked: what is ready then is the last read.
        const bool last = stop_reading_;
        pollfd p{fd, POLLIN, 0};
        const int ready = poll(&p, 1, last ? 0 : 200);
        if ((ready == 0 || (ready < 0 && errno == EINTR)) && !last) continue;
        const ssize_t n = ready > 0 ? read(fd, buffer, sizeof buffer) : 0;
        if (n < 0 && errno == EINTR && !last) continue;
        const std::int64_t arrived = now_us();
        std::lock_guard<std::mutex> lock(mutex_);
        if (n > 0 && !is_stdout) {
            const std::size_t got = static_cast<std::size_t>(n);
            const std::size_t room = error_cap_ - std::min(error_cap_, errors_.size());
            errors_.append(buffer, std::min(room, got));
            error_dropped_ += got - std::min(room, got);
        } else if (n > 0) {
            take_console(buffer, buffer + n, arrived);
        }
        if (n <= 0 || last) {
            if (is_stdout && !partial_.empty()) {
                lines_.push_back(std::move(partial_));
                stamps_.push_back(arrived);
            }
            --open_streams_;
            changed_.notify_all();
            break;
        }
        changed_.notify_all();
    }
    close(fd);
}

std::vector<std::string> Program::lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
}

std::string Program::console_text() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::size_t size = 0;
    for (auto& l : lines_) size += l.size() + 1;
    std::string text;
    text.reserve(size);
    for (auto& l : lines_) text.append(l).push_back('\n');
    return text;
}

std::vector<std::int64_t> Program::line_stamps_us() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return stamps_;
}

std::string Program::error_text() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return errors_;
}

int Program::wait_for_line(const std::string& text, double timeout, std::size_t from) const {
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

int Program::count(const std::string& prefix) const {
    std::lock_guard<std::mutex> lock(mutex_);
    int n = 0;
    for (auto& l : lines_) n += l.rfind(prefix, 0) == 0;
    return n;
}

bool Program::wait_for_count(const std::string& prefix, int n, double timeout) const {
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

void Program::type(const std::string& text) {
    if (stdin_fd_ < 0) return;
    // Typing into a program that has gone must not take the driver with it:
    // SIGPIPE is held back in this thread only, and a pending one taken.
    sigset_t pipe_only, previous;
    sigemptyset(&pipe_only);
    sigaddset(&pipe_only, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_only, &previous);
    const bool broken = write(stdin_fd_, text.data(), text.size()) < 0 && errno == EPIPE;
    if (broken) {
        const timespec zero{0, 0};
        sigtimedwait(&pipe_only, nullptr, &zero);
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

void Program::close_input() {
    if (stdin_fd_ >= 0) close(stdin_fd_);
    stdin_fd_ = -1;
}

std::optional<int> Program::wait_exit(double timeout) {
    const double end = now() + timeout;
    while (!status_) {
        siginfo_t info{};
        if (waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
            info.si_pid == pid_) {
            // Whatever it started in its group goes with it, while its
            // unreaped entry still holds the group's number.
            ::kill(-pid_, SIGKILL);
        }
        int raw = 0;
        pid_t r = waitpid(pid_, &raw, WNOHANG);
        if (r == pid_) {
            status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : -WTERMSIG(raw);
            break;
        }
        if (r < 0 || now() >= end) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    drain_after_exit();
    return status_;
}

void Program::drain_after_exit() {
    if (drained_) return;
    drained_ = true;
    // Output written just before the exit is read before anyone looks at it.
    const auto closed = [this] { return open_streams_ == 0; };
    std::unique_lock<std::mutex> lock(mutex_);
    if (changed_.wait_for(lock, std::chrono::seconds(1), closed)) return;
    // Its group is gone, yet the pipes are open: something that left the
    // group holds them. Ended, looked for again in case it had started more.
    lock.unlock();
    std::vector<pid_t> found;
    for (int round = 0; round < 3; ++round) {
        const auto holders = pipe_holders(out_inode_, err_inode_);
        for (pid_t h : holders) {
            ::kill(h, SIGKILL);
            if (std::find(found.begin(), found.end(), h) == found.end()) found.push_back(h);
        }
        if (holders.empty()) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    lock.lock();
    strays_ = found;
    // Whoever could not be ended: the readers leave within a poll slice.
    if (!changed_.wait_for(lock, std::chrono::milliseconds(300), closed)) {
        stop_reading_ = true;
        changed_.wait_for(lock, std::chrono::milliseconds(500), closed);
    }
}

std::uint64_t Program::error_bytes_not_kept() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return error_dropped_;
}

std::uint64_t Program::console_bytes_not_kept() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return console_dropped_;
}

std::vector<pid_t> Program::strays_ended() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return strays_;
}

bool Program::running() { return !status_ && !wait_exit(0); }

void Program::kill_now(int signal) {
    if (!status_) ::kill(pid_, signal);
}

}  // namespace driver
