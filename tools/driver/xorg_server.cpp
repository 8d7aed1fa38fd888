#include "driver/xorg_server.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

#include "common/files.h"
#include "driver/xorg_config.h"
#include "process/spawn.h"

namespace driver {

namespace {

constexpr std::size_t config_cap = 1 << 20;
constexpr std::size_t log_tail_cap = 64 * 1024;
constexpr std::size_t log_lines_shown = 15;
constexpr double start_timeout = 60;  // a GPU's driver may take seconds to come up

std::string read_config(const std::string& path) {
    const common::Opened opened = common::open_regular(path, true);
    if (!opened.fd) throw std::runtime_error("--xorg-config " + path + ": " + opened.problem);
    bool more = false;
    std::string problem;
    const auto text = common::read_capped(opened.fd, config_cap, more, problem);
    if (!text) throw std::runtime_error("--xorg-config " + path + ": " + problem);
    if (more)
        throw std::runtime_error("--xorg-config " + path + ": longer than " +
                                 std::to_string(config_cap) + " bytes");
    return *text;
}

// Whether a line of the log is of the text Xorg closes every failure with,
// or says nothing past its time stamp ("[ 81.2] (EE)").
bool closing_text(const std::string& line) {
    for (const char* said : {"Please consult", "wiki.x.org", "for help.", "Please also check",
                             "Server terminated with error"})
        if (line.find(said) != std::string::npos) return true;
    std::size_t from = 0;
    if (line.rfind("[", 0) == 0 && line.find(']') != std::string::npos) from = line.find(']') + 1;
    const auto first = line.find_first_not_of(" \t\r", from);
    const auto last = line.find_last_not_of(" \t\r");
    return first == std::string::npos || line.compare(first, last + 1 - first, "(EE)") == 0;
}

// The log's last lines that say something, without the closing text.
std::vector<std::string> log_tail(const std::string& path) {
    std::vector<std::string> lines;
    const common::Opened opened = common::open_regular(path, false);
    if (!opened.fd) return lines;
    const off_t size = lseek(opened.fd.get(), 0, SEEK_END);
    const off_t from = size > static_cast<off_t>(log_tail_cap) ? size - log_tail_cap : 0;
    if (size < 0 || lseek(opened.fd.get(), from, SEEK_SET) < 0) return lines;
    common::LineReader reader(opened.fd.get(), log_tail_cap);
    std::string line;
    bool terminated = false, overlong = false;
    while (reader.next(line, terminated, overlong)) {
        if (closing_text(line)) continue;
        for (char& c : line)
            if (c == '\t') c = ' ';
        lines.push_back(line.substr(0, line.find_last_not_of(" \r") + 1));
        if (lines.size() > log_lines_shown) lines.erase(lines.begin());
    }
    return lines;
}

// The Driver of each Device section of a config, as written.
std::set<std::string> device_drivers(const std::string& config) {
    std::set<std::string> drivers;
    bool in_device = false;
    std::size_t at = 0;
    while (at < config.size()) {
        const auto end = std::min(config.find('\n', at), config.size());
        std::string line = config.substr(at, end - at);
        at = end + 1;
        for (char& c : line) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        const auto word = line.find_first_not_of(" \t");
        if (word == std::string::npos) continue;
        if (line.compare(word, 7, "section") == 0) in_device = line.find("\"device\"") != std::string::npos;
        if (line.compare(word, 10, "endsection") == 0) in_device = false;
        const auto open = line.find('"'), close = line.find('"', open + 1);
        if (in_device && line.compare(word, 6, "driver") == 0 && close != std::string::npos)
            drivers.insert(line.substr(open + 1, close - open - 1));
    }
    return drivers;
}

// Debian's package for an Xorg video driver.
std::string package_of(const std::string& driver) {
    if (driver == "dummy") return "xserver-xorg-video-dummy";
    if (driver == "modesetting") return "xserver-xorg-core";
    if (driver == "nvidia") return "the vendor's driver (Debian: nvidia-driver)";
    for (char c : driver)
        if (!std::islower(static_cast<unsigned char>(c)) && !std::isdigit(static_cast<unsigned char>(c)))
            return "the driver's package";
    return "xserver-xorg-video-" + driver + " or the vendor's package";
}

// What to do about it, from the log: a driver of the config not installed,
// a missing permission.
std::string advice(const std::vector<std::string>& log, const std::string& config) {
    std::string said;
    const std::set<std::string> drivers = device_drivers(config);
    const std::string key = "Failed to load module \"";
    std::set<std::string> told;
    for (const std::string& line : log) {
        const auto at = line.find(key);
        const auto end = at == std::string::npos ? at : line.find('"', at + key.size());
        if (end == std::string::npos) continue;
        const std::string name = line.substr(at + key.size(), end - at - key.size());
        if (drivers.count(name) && told.insert(name).second)
            said += "\nThe driver \"" + name + "\" is not installed: install " + package_of(name) + ".";
    }
    bool refused = false;
    for (const std::string& line : log)
        for (const char* words : {"ermission denied", "not permitted", "Only console users"})
            refused = refused || line.find(words) != std::string::npos;
    if (getuid() != 0 && (refused || said.empty()))
        said += "\nXorg needs root or a seat (a session logged in at the machine's console);"
                " suite-run runs as user " + std::to_string(getuid()) + ": run it as root.";
    if (said.empty())
        said = "\nCheck that xserver-xorg-core and the driver's package are installed "
               "(xserver-xorg-video-dummy without a GPU, the vendor's driver with one).";
    return said;
}

std::string why_not_started(int status, bool timed_out, const std::string& log,
                            const std::string& config) {
    if (WIFEXITED(status) && WEXITSTATUS(status) == process::not_started)
        return "Xorg was not found in PATH: install xserver-xorg-core, and "
               "xserver-xorg-video-dummy for a machine without a GPU (the vendor's driver "
               "for one)";
    std::string why = "Xorg did not start";
    if (timed_out) why += " within " + std::to_string(static_cast<int>(start_timeout)) + " s";
    else if (WIFEXITED(status)) why += " (exit status " + std::to_string(WEXITSTATUS(status)) + ")";
    else if (WIFSIGNALED(status)) why += " (" + process::signal_name(WTERMSIG(status)) + ")";
    const std::vector<std::string> lines = log_tail(log);
    if (lines.empty()) why += "; it wrote nothing in its log " + log;
    else why += "; the last lines of its log " + log + ":";
    for (const std::string& line : lines) why += "\n  " + line;
    return why + advice(lines, config);
}

// Ends a server that did not come up: asked first, so it gives back what
// it took, then killed. Its wait status.
int end_server(pid_t pid) {
    ::kill(pid, SIGTERM);
    for (int i = 0; i < 50; ++i) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) return status;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ::kill(pid, SIGKILL);
    return process::wait_raw(pid);
}

}  // namespace

PrivateXorg::PrivateXorg(const std::string& folder, const std::string& config_file)
    : folder_(std::filesystem::absolute(folder).string()) {
    config_text_ = config_file.empty() ? xorg_config_text(find_gpus(system_root()))
                                       : read_config(config_file);
    // Xorg takes a config outside its own folders only by an absolute path.
    config_ = folder_ + "/xorg.conf";
    if (const int e = common::write_whole(config_, config_text_, false, 0644))
        throw std::runtime_error("cannot write " + config_ + ": " + std::strerror(e));
}

std::unique_ptr<XServer> PrivateXorg::start() {
    ++started_;
    const std::string log =
        folder_ + (started_ == 1 ? "/xorg.log" : "/xorg-" + std::to_string(started_) + ".log");
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    process::child_setup s;
    s.argv = {"Xorg", "-displayfd", std::to_string(fds[1]), "-config", config_, "-logfile", log,
              "-noreset", "-nolisten", "tcp", "-novtswitch", "-sharevts"};
    s.search_path = true;
    s.keep = {fds[1]};
    const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    s.in = s.out = s.err = null;
    pid_t pid = -1;
    try {
        pid = process::spawn(s);
    } catch (...) {
        for (int fd : {fds[0], fds[1], null}) close(fd);
        throw;
    }
    for (int fd : {fds[1], null}) close(fd);
    bool interrupted = false;
    const double began = now();
    std::string display = wait_display_number(fds[0], start_timeout, interrupted);
    close(fds[0]);
    if (!display.empty()) return XServer::adopt(pid, display);
    const bool timed_out = !interrupted && now() - began >= start_timeout;
    const int status = end_server(pid);
    if (interrupted) throw std::runtime_error("interrupted while Xorg was starting");
    throw std::runtime_error(why_not_started(status, timed_out, log, config_text_));
}

}  // namespace driver
