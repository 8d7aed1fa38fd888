// The process room: a program started through the shared spawn, its console
// read line by line (each line stamped on arrival) and typed into.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "driver.h"
#include "spawn.h"

namespace driver {

namespace {
std::int64_t now_us() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return std::int64_t{t.tv_sec} * 1000000 + t.tv_nsec / 1000;
}
}  // namespace

Process::Process(const launch& how) {
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC))
        throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    process::child_setup s;
    s.argv = {how.executable};
    s.argv.insert(s.argv.end(), how.args.begin(), how.args.end());
    s.directory = how.directory;
    s.env = {"DISPLAY=" + how.display};
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
        const std::int64_t arrived = now_us();
        std::lock_guard<std::mutex> lock(mutex_);
        if (n <= 0) {
            if (is_stdout && !partial_.empty()) {
                lines_.push_back(std::move(partial_));
                stamps_.push_back(arrived);
            }
            --open_streams_;
            changed_.notify_all();
            break;
        }
        if (!is_stdout) {
            errors_.append(buffer, static_cast<std::size_t>(n));
        } else {
            // Whole runs of bytes at a time: the pipe must drain as fast as a
            // program writes, or its timed console output is held back.
            const char* at = buffer;
            const char* const end = buffer + n;
            while (const char* eol = static_cast<const char*>(
                       std::memchr(at, '\n', static_cast<std::size_t>(end - at)))) {
                partial_.append(at, eol);
                lines_.push_back(std::move(partial_));
                stamps_.push_back(arrived);
                partial_.clear();
                at = eol + 1;
            }
            partial_.append(at, end);
        }
        changed_.notify_all();
    }
    close(fd);
}

std::vector<std::string> Process::lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
}

std::vector<std::int64_t> Process::line_stamps_us() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return stamps_;
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

void Process::close_input() {
    if (stdin_fd_ >= 0) close(stdin_fd_);
    stdin_fd_ = -1;
}

std::optional<int> Process::wait_exit(double timeout) {
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
    // Output written just before the exit is read before anyone looks at it.
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, std::chrono::seconds(5), [this] { return open_streams_ == 0; });
    return status_;
}

bool Process::running() { return !status_ && !wait_exit(0); }

void Process::kill_now(int signal) {
    if (!status_) ::kill(pid_, signal);
}

}  // namespace driver
