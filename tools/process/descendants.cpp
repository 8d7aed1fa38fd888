#include "process/descendants.h"

#include <dirent.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <set>
#include <string>
#include <thread>

namespace process {

namespace {
// The state letter of /proc/PID/stat ('Z' a zombie); 0 once it is gone.
char state_of(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(in, line)) return 0;
    const auto close = line.rfind(')');
    return close != std::string::npos && close + 2 < line.size() ? line[close + 2] : 0;
}

bool contains(const std::vector<pid_t>& pids, pid_t pid) {
    return std::find(pids.begin(), pids.end(), pid) != pids.end();
}
}  // namespace

bool adopt_orphans() { return prctl(PR_SET_CHILD_SUBREAPER, 1) == 0; }

std::vector<pid_t> children_of(pid_t pid) {
    std::vector<pid_t> found;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* d = opendir(tasks.c_str());
    for (dirent* e = d ? readdir(d) : nullptr; e; e = readdir(d)) {
        if (e->d_name[0] == '.') continue;
        std::ifstream in(tasks + "/" + e->d_name + "/children");
        for (pid_t c; in >> c;)
            if (!contains(found, c)) found.push_back(c);
    }
    if (d) closedir(d);
    return found;
}

std::vector<pid_t> with_descendants(const std::vector<pid_t>& pids, std::size_t limit) {
    std::vector<pid_t> all;
    std::set<pid_t> seen;
    for (pid_t p : pids)
        if (all.size() < limit && seen.insert(p).second) all.push_back(p);
    for (std::size_t i = 0; i < all.size(); ++i)
        for (pid_t c : children_of(all[i]))
            if (all.size() < limit && seen.insert(c).second) all.push_back(c);
    return all;
}

std::vector<pid_t> end_children_but(const std::vector<pid_t>& keep) {
    std::vector<pid_t> ended;
    // What a killed parent leaves comes back here as a child: a few rounds
    // take the whole tree, and a tree that forks faster than it is ended.
    for (int round = 0; round < 10; ++round) {
        std::vector<pid_t> mine;
        for (pid_t c : children_of(getpid()))
            if (!contains(keep, c)) mine.push_back(c);
        if (mine.empty()) break;
        for (pid_t p : with_descendants(mine, 4096)) {
            const char state = state_of(p);
            if (state == 0 || state == 'Z') continue;
            ::kill(p, SIGKILL);
            if (!contains(ended, p)) ended.push_back(p);
        }
        // Reaped as they go; one that cannot die at once is left for the next round.
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        for (pid_t c : mine)
            while (waitpid(c, nullptr, WNOHANG) == 0 && std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return ended;
}

}  // namespace process
