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
}  // namespace

// Kept whole although long: what runs between fork and exec must be
// prepared here, before the fork, and be async-signal-safe, in one place.
pid_t spawn(const child_setup& s) {
    // Everything the child needs is prepared before fork.
    std::vector<std::string> arg_text = s.argv;
    std::vector<char*> argv;
    for (auto& a : arg_text) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env_text;
    for (char** e = environ; *e; ++e) {
        bool replaced = is_secret(name_of(*e));
        for (auto& x : s.env) replaced = replaced || name_of(x) == name_of(*e);
        if (!replaced) env_text.emplace_back(*e);
    }
    env_text.insert(env_text.end(), s.env.begin(), s.env.end());
    std::vector<char*> envp;
    for (auto& e : env_text) envp.push_back(e.data());
    envp.push_back(nullptr);
    const std::vector<std::string> steps = steps_of(s.directory);
    const bool drop = s.unprivileged && geteuid() == 0;
    const pid_t parent = getpid();
    sigset_t none;
    sigemptyset(&none);
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;

    const pid_t pid = fork();
    if (pid < 0) throw std::system_error(errno, std::generic_category(), "fork");
    if (pid > 0) {
        if (s.own_group) setpgid(pid, pid);  // also here: no race with a kill of the group
        return pid;
    }
    if (s.own_group) setpgid(0, 0);
    // As from a shell: no signal blocked, SIGPIPE at its default.
    sigprocmask(SIG_SETMASK, &none, nullptr);
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
    if (!steps.empty()) {
        for (auto& step : steps)
            if (chdir(step.c_str()) != 0) _exit(no_directory);
    } else if (!s.directory.empty() && chdir(s.directory.c_str()) != 0) {
        _exit(no_directory);
    }
    if (drop && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
        _exit(no_unprivileged);
    // Killed with SIGKILL when the thread that started it ends, so nothing
    // outlives a tool killed outright. After the change of user, which would clear it.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(lost_parent);
    // Closed last: nothing above may reuse the numbers.
    if (s.close_in) close(0);
    if (s.close_out) close(1);
    if (s.search_path)
        execvpe(argv[0], argv.data(), envp.data());
    else
        execve(argv[0], argv.data(), envp.data());
    _exit(not_started);
}

int wait_raw(pid_t pid) {
    int raw = 0;
    while (waitpid(pid, &raw, 0) < 0)
        if (errno != EINTR) return -1;
    return raw;
}

}  // namespace process
