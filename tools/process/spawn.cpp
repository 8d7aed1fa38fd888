#include "process/spawn.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <system_error>

extern char** environ;

namespace process {

const char* setup_failure_text(int status) {
    switch (status) {
        case lost_parent: return "its starter was gone before it began";
        case no_directory: return "its working directory could not be entered";
        case no_limit: return "its resource limit could not be set";
        case no_unprivileged: return "it could not be made unprivileged";
        case no_descriptors: return "its standard descriptors could not be set up";
        case not_started: return "it could not be started (not found or not executable)";
        default: return "";
    }
}

std::string signal_name(int signal) {
    const char* name = sigabbrev_np(signal);
    return "signal " + std::to_string(signal) +
           (name ? " (SIG" + std::string(name) + ")" : std::string());
}

std::string signal_text(int signal) { return "crashed: " + signal_name(signal); }

namespace {
std::string name_of(const std::string& entry) { return entry.substr(0, entry.find('=')); }

// The store's address and password stay with the tool: no child needs them.
bool is_secret(const std::string& name) { return name == "SUITE_DB" || name == "PGPASSWORD"; }

// A path too long for one chdir, as components entered one by one.
std::vector<std::string> steps_of(const std::string& directory) {
    std::vector<std::string> steps;
    if (directory.size() < PATH_MAX) return steps;
    std::size_t at = 0;
    if (directory[0] == '/') {
        steps.emplace_back("/");
        at = 1;
    }
    while (at < directory.size()) {
        std::size_t end = directory.find('/', at);
        if (end == std::string::npos) end = directory.size();
        if (end > at) steps.push_back(directory.substr(at, end - at));
        at = end + 1;
    }
    return steps;
}
// The tool's own environment without its secrets, with `extra` on top.
std::vector<std::string> child_environment(const std::vector<std::string>& extra) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        bool replaced = is_secret(name_of(*e));
        for (auto& x : extra) replaced = replaced || name_of(x) == name_of(*e);
        if (!replaced) env.emplace_back(*e);
    }
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
}

// exec's null-ended array over texts that outlive it.
std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> out;
    for (auto& t : texts) out.push_back(t.data());
    out.push_back(nullptr);
    return out;
}

// What was prepared before the fork, for the child's side of it.
struct prepared {
    std::vector<char*> argv, envp;
    std::vector<std::string> steps;
    bool drop;
    pid_t parent;
};

// The child, between fork and exec: only async-signal-safe calls, on
// what was prepared before the fork; a failed step exits with its status.
[[noreturn]] void become_child(const child_setup& s, const prepared& p) {
    if (s.own_group) setpgid(0, 0);
    // As from a shell: no signal blocked, SIGPIPE at its default.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;
    sigaction(SIGPIPE, &default_action, nullptr);
    if ((s.in >= 0 && dup2(s.in, 0) < 0) || (s.out >= 0 && dup2(s.out, 1) < 0) ||
        (s.err >= 0 && dup2(s.err, 2) < 0))
        _exit(no_descriptors);
    for (int fd : s.keep)
        if (fcntl(fd, F_SETFD, 0) != 0) _exit(no_descriptors);
    if (s.file_size_limit >= 0) {
        const rlimit limit{static_cast<rlim_t>(s.file_size_limit),
                           static_cast<rlim_t>(s.file_size_limit)};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(no_limit);
    }
    if (!p.steps.empty()) {
        for (auto& step : p.steps)
            if (chdir(step.c_str()) != 0) _exit(no_directory);
    } else if (!s.directory.empty() && chdir(s.directory.c_str()) != 0) {
        _exit(no_directory);
    }
    if (p.drop && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
        _exit(no_unprivileged);
    // Killed with SIGKILL when the thread that started it ends, so nothing
    // outlives a tool killed outright. After the change of user, which would clear it.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != p.parent) _exit(lost_parent);
    // Closed last: nothing above may reuse the numbers.
    if (s.close_in) close(0);
    if (s.close_out) close(1);
    if (s.search_path)
        execvpe(p.argv[0], p.argv.data(), p.envp.data());
    else
        execve(p.argv[0], p.argv.data(), p.envp.data());
    _exit(not_started);
}
}  // namespace

pid_t spawn(const child_setup& s) {
    // Everything the child needs is prepared before fork.
    std::vector<std::string> arg_text = s.argv;
    std::vector<std::string> env_text = child_environment(s.env);
    const prepared p{pointers(arg_text), pointers(env_text), steps_of(s.directory),
                     s.unprivileged && geteuid() == 0, getpid()};
    const pid_t pid = fork();
    if (pid < 0) throw std::system_error(errno, std::generic_category(), "fork");
    if (pid == 0) become_child(s, p);
    if (s.own_group) setpgid(pid, pid);  // also here: no race with a kill of the group
    return pid;
}

int wait_raw(pid_t pid) {
    int raw = 0;
    while (waitpid(pid, &raw, 0) < 0)
        if (errno != EINTR) return -1;
    return raw;
}

}  // namespace process
