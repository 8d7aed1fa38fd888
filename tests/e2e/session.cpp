#include "session.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "common/number.h"

namespace e2e {

std::vector<std::string> read_lines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
}

std::string read_text(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> files_starting(const std::string& dir, const std::string& prefix) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (std::string(e->d_name).rfind(prefix, 0) == 0) names.emplace_back(e->d_name);
        closedir(d);
    }
    return names;
}

std::optional<double> number_after(const std::string& line, const std::string& prefix,
                                   const std::string& suffix) {
    if (line.size() < prefix.size() + suffix.size() || line.rfind(prefix, 0) != 0 ||
        line.compare(line.size() - suffix.size(), suffix.size(), suffix) != 0)
        return std::nullopt;
    return common::parse_number(
        std::string_view(line).substr(prefix.size(), line.size() - prefix.size() - suffix.size()));
}

bool same_printed(double a, double b) { return common::agrees(a, b, 1e-5); }

std::optional<long> waiting_for_events(pid_t pid) {
    const std::string task = "/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid);
    long call = -1;
    std::ifstream(task + "/syscall") >> call;
    if (call != SYS_pselect6 && call != SYS_select) return std::nullopt;
    const std::string key = "voluntary_ctxt_switches:";
    for (const std::string& l : read_lines(task + "/status"))
        if (l.rfind(key, 0) == 0) return std::stol(l.substr(key.size()));
    return std::nullopt;
}

char process_state(pid_t pid) {
    const std::string stat = read_text("/proc/" + std::to_string(pid) + "/stat");
    const auto close = stat.rfind(") ");
    return close == std::string::npos || close + 2 >= stat.size() ? 0 : stat[close + 2];
}

int Session::settle(const std::string& prefix, const std::string& marker, double timeout) {
    const double deadline = driver::now() + timeout;
    while (driver::now() < deadline) {
        if (const auto before = waiting_for_events(program->pid())) {
            int n = 0;
            for (const auto& l : read_lines(results_file(prefix))) n += l.rfind(marker, 0) == 0;
            if (waiting_for_events(program->pid()) == before) return n;
        }
        usleep(20000);
    }
    ADD_FAILURE() << "the program never came to rest";
    return -1;
}

void Session::SetUp() {
    display = driver::display_or_private(server);
    char name[] = "/tmp/bench-e2e-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    directory = name;
    chmod(name, 0755);
}

void Session::TearDown() {
    window.reset();
    program.reset();
    if (!directory.empty() && !HasFailure()) {
        chmod(directory.c_str(), 0755);
        std::system(("rm -rf '" + directory + "'").c_str());
    } else if (!directory.empty()) {
        std::cerr << "kept for inspection: " << directory << '\n';
    }
}

void Session::start(const std::string& executable, const std::string& title,
                    driver::launch options) {
    options.executable = executable;
    if (options.directory.empty()) options.directory = directory;
    options.display = display;
    program = std::make_unique<driver::Program>(options);
    window = driver::Window::find(display, title, startup_timeout);
    ASSERT_TRUE(window) << "no window \"" << title << "\"; stderr: " << program->error_text();
}

std::string Session::results_file(const std::string& prefix) const {
    auto names = files_starting(directory, prefix);
    EXPECT_EQ(names.size(), 1u);
    return names.empty() ? std::string() : directory + "/" + names.front();
}

}  // namespace e2e
