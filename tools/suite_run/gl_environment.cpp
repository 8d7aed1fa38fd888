#include "suite_run/gl_environment.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <vector>

extern char** environ;

namespace suite_run {

namespace {

// A process's environment can be large; what decides its GL is near its start.
constexpr std::size_t environ_cap = 1 << 20;

record::GlEnvironment gl_part(const std::string& block) {
    record::GlEnvironment env;
    for (std::size_t at = 0; at < block.size();) {
        auto end = block.find('\0', at);
        if (end == std::string::npos) end = block.size();
        const std::string entry = block.substr(at, end - at);
        const auto eq = entry.find('=');
        if (eq != std::string::npos && is_gl_variable(entry.substr(0, eq)))
            env[entry.substr(0, eq)] = entry.substr(eq + 1);
        at = end + 1;
    }
    return env;
}

std::optional<std::string> read_proc(pid_t pid, const char* what) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/" + what, std::ios::binary);
    if (!in) return std::nullopt;
    std::string text(environ_cap, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    return text;
}

// Parent and start time (in clock ticks since boot) from /proc/PID/stat,
// read past the command name, which may hold spaces and parentheses.
bool parent_and_start(pid_t pid, pid_t& parent, unsigned long long& start) {
    const auto stat = read_proc(pid, "stat");
    const auto close = stat ? stat->rfind(')') : std::string::npos;
    if (close == std::string::npos) return false;
    std::vector<std::string> fields;
    std::string field;
    for (std::size_t i = close + 2; i <= stat->size(); ++i) {
        if (i == stat->size() || (*stat)[i] == ' ') {
            fields.push_back(field);
            field.clear();
        } else {
            field += (*stat)[i];
        }
    }
    if (fields.size() < 20) return false;  // state is field 3, ppid 4, starttime 22
    parent = static_cast<pid_t>(std::atoll(fields[1].c_str()));
    start = std::strtoull(fields[19].c_str(), nullptr, 10);
    return true;
}

// The process a wrapper started last, down the tree from pid.
pid_t newest_deepest(pid_t pid) {
    std::multimap<pid_t, std::pair<unsigned long long, pid_t>> children;
    DIR* d = opendir("/proc");
    for (dirent* e = d ? readdir(d) : nullptr; e; e = readdir(d)) {
        const pid_t p = static_cast<pid_t>(std::atoi(e->d_name));
        pid_t parent = 0;
        unsigned long long start = 0;
        if (p > 0 && parent_and_start(p, parent, start)) children.insert({parent, {start, p}});
    }
    if (d) closedir(d);
    for (int depth = 0; depth < 64; ++depth) {
        const auto [from, to] = children.equal_range(pid);
        if (from == to) break;
        auto newest = from;
        for (auto it = from; it != to; ++it)
            if (it->second.first >= newest->second.first) newest = it;
        pid = newest->second.second;
    }
    return pid;
}

}  // namespace

bool is_gl_variable(const std::string& name) {
    for (const char* prefix : {"MESA_", "GALLIUM_", "LP_", "LIBGL_", "__GLX_", "GLX_", "__GL_",
                               "NV_", "__NV_", "NVIDIA_", "DRI_"})
        if (name.rfind(prefix, 0) == 0) return true;
    return name == "vblank_mode" || name == "LD_LIBRARY_PATH" || name == "LD_PRELOAD";
}

record::GlEnvironment probe_environment() {
    std::string now;
    for (char** e = environ; *e; ++e) now += std::string(*e) + '\0';
    auto env = gl_part(now);
    env.erase("LD_LIBRARY_PATH");
    env.erase("LD_PRELOAD");
    if (const auto start = read_proc(getpid(), "environ"))
        for (const auto& [name, value] : gl_part(*start))
            if (name.rfind("LD_", 0) == 0) env[name] = value;
    return env;
}

std::optional<record::GlEnvironment> program_environment(pid_t pid) {
    const auto block = read_proc(newest_deepest(pid), "environ");
    if (!block || block->empty()) return std::nullopt;
    return gl_part(*block);
}

std::string environment_difference(const record::GlEnvironment& probed,
                                   const record::GlEnvironment& program) {
    std::string said;
    const auto add = [&](const std::string& text) { said += (said.empty() ? "" : "; ") + text; };
    for (const auto& [name, value] : program) {
        const auto p = probed.find(name);
        if (p == probed.end()) add(name + "=" + value + " in the program, unset when probed");
        else if (p->second != value)
            add(name + "=" + value + " in the program, " + p->second + " when probed");
    }
    for (const auto& [name, value] : probed)
        if (!program.count(name)) add(name + " unset in the program, " + value + " when probed");
    return said;
}

}  // namespace suite_run
