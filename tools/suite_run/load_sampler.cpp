#include "suite_run/load_sampler.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "driver/driver.h"
#include "process/descendants.h"
#include "process/stop.h"
#include "suite_run/drive.h"

namespace suite_run {

namespace fs = std::filesystem;

namespace {

double tick_seconds() {
    static const double tick = 1.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
    return tick;
}

std::optional<std::string> first_line(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    if (!in || !std::getline(in, line)) return std::nullopt;
    return line;
}

struct cpu_times {
    double user = 0, system = 0;                // all its threads
    double reaped_user = 0, reaped_system = 0;  // its children it has waited for
};

// A process's CPU seconds; nullopt once it is gone.
std::optional<cpu_times> process_cpu(pid_t pid) {
    if (pid <= 0) return std::nullopt;
    const auto line = first_line("/proc/" + std::to_string(pid) + "/stat");
    if (!line) return std::nullopt;
    // The command name may hold blanks and parentheses: fields follow the last ')'.
    const auto close = line->rfind(')');
    if (close == std::string::npos) return std::nullopt;
    std::istringstream in(line->substr(close + 1));
    std::string field;
    double v[4] = {};
    for (int i = 3; i <= 17 && in >> field; ++i)
        if (i >= 14) v[i - 14] = std::strtod(field.c_str(), nullptr) * tick_seconds();
    return cpu_times{v[0], v[1], v[2], v[3]};
}

// The program is everything it started: a wrapper that runs the real program
// without exec, and what it runs. Each process's reaped children are in its
// own figure, so an ended one is not lost; the orphans it left come back to
// the runner (a child subreaper) and count too. Nullopt once it is gone.
std::optional<std::pair<double, double>> program_tree_cpu(pid_t program, pid_t x_server) {
    const auto own = process_cpu(program);
    if (!own) return std::nullopt;
    std::vector<pid_t> roots{program};
    for (pid_t c : process::children_of(getpid()))
        if (c != program && c != x_server) roots.push_back(c);
    double user = 0, system = 0;
    for (pid_t p : process::with_descendants(roots, 4096)) {
        const auto t = p == program ? own : process_cpu(p);
        if (!t) continue;
        user += t->user + t->reaped_user;
        system += t->system + t->reaped_system;
    }
    return std::make_pair(user, system);
}

void read_proc_stat(load_sample& s) {
    std::ifstream in("/proc/stat");
    std::string key;
    while (in >> key) {
        if (key == "cpu") {
            double v[8] = {};
            for (double& x : v) in >> x;
            const double t = tick_seconds();
            // user nice system idle iowait irq softirq steal; guest is inside user
            s.busy = (v[0] + v[1] + v[2] + v[5] + v[6]) * t;
            s.iowait = v[4] * t;
            s.steal = v[7] * t;
            s.total = (v[0] + v[1] + v[2] + v[3] + v[4] + v[5] + v[6] + v[7]) * t;
        } else if (key == "procs_running") {
            in >> s.runnable;
        }
        in.ignore(1 << 20, '\n');
    }
}

// Each CPU's current-frequency file, looked up once: a sample reads only them.
const std::vector<std::string>& frequency_files() {
    static const std::vector<std::string> files = [] {
        std::vector<std::string> found;
        std::error_code ec;
        for (const auto& cpu : fs::directory_iterator("/sys/devices/system/cpu", ec)) {
            const std::string name = cpu.path().filename().string();
            if (name.size() < 4 || name.compare(0, 3, "cpu") || !std::isdigit(name[3])) continue;
            const auto file = cpu.path() / "cpufreq/scaling_cur_freq";
            if (fs::exists(file, ec)) found.push_back(file.string());
        }
        return found;
    }();
    return files;
}

void read_frequencies(load_sample& s) {
    for (const auto& file : frequency_files()) {
        const auto khz = first_line(file);
        if (!khz) continue;
        const double mhz = std::strtod(khz->c_str(), nullptr) / 1000;
        if (!(mhz > 0)) continue;
        s.freq_min_mhz = std::min(s.freq_min_mhz.value_or(mhz), mhz);
        s.freq_max_mhz = std::max(s.freq_max_mhz.value_or(mhz), mhz);
    }
}

void read_pressure(load_sample& s) {
    const auto line = first_line("/proc/pressure/cpu");
    if (!line || line->rfind("some", 0) != 0) return;
    const auto at = line->find("total=");
    if (at != std::string::npos) s.pressure_us = std::strtod(line->c_str() + at + 6, nullptr);
}

double rounded(double v, double unit) { return std::round(v / unit) / std::round(1 / unit); }

}  // namespace

load_sample read_load(pid_t program, pid_t x_server, double at) {
    load_sample s;
    s.at = at;
    if (const auto p = program_tree_cpu(program, x_server))
        std::tie(s.program_user, s.program_system) = *p;
    if (const auto x = process_cpu(x_server)) s.x_server = x->user + x->system;
    if (const auto r = process_cpu(getpid())) s.runner = r->user + r->system;
    read_proc_stat(s);
    read_frequencies(s);
    read_pressure(s);
    return s;
}

std::string cpu_governor() {
    return first_line("/sys/devices/system/cpu/cpu0/cpufreq/scaling_governor").value_or("");
}

LoadSampler::LoadSampler(pid_t program, pid_t x_server, double interval)
    : program_(program), x_server_(x_server), interval_(interval) {
    samples_.push_back(read_load(program_, x_server_, driver::now()));
    thread_ = std::thread([this] { loop(); });
}

LoadSampler::~LoadSampler() { stop(); }

void LoadSampler::loop() {
    std::unique_lock lock(mutex_);
    while (!wake_.wait_for(lock, std::chrono::duration<double>(interval_),
                           [this] { return stopping_; })) {
        lock.unlock();
        const load_sample s = read_load(program_, x_server_, driver::now());
        lock.lock();
        samples_.push_back(s);
    }
}

void LoadSampler::mark(int frame) {
    load_sample s = read_load(program_, x_server_, driver::now());
    s.frame = frame;
    std::lock_guard lock(mutex_);
    samples_.push_back(s);
}

void LoadSampler::stop() {
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

std::vector<load_sample> LoadSampler::samples() const {
    std::lock_guard lock(mutex_);
    return samples_;
}

nlohmann::json quiet_check(pid_t x_server, double seconds) {
    const load_sample a = read_load(0, x_server, driver::now());
    for (const double end = a.at + seconds; driver::now() < end && !process::stop_signal();)
        usleep(50000);
    const load_sample b = read_load(0, x_server, driver::now());
    const double wall = b.at - a.at;
    if (!(wall > 0) || !(b.total > a.total)) return nullptr;
    const double others = (b.busy - a.busy) - (b.runner - a.runner) -
                          (b.x_server && a.x_server ? *b.x_server - *a.x_server : 0);
    return {{"seconds", rounded(wall, 0.001)},
            {"others_cores", rounded(std::max(0.0, others / wall), 0.01)},
            {"steal_share", rounded((b.steal - a.steal) / (b.total - a.total), 0.0001)}};
}

nlohmann::json load_summary(const std::vector<load_sample>& samples, int from_frame) {
    if (from_frame < 0) return nullptr;  // the animation never started
    const auto first = std::find_if(samples.begin(), samples.end(),
                                    [&](const load_sample& s) { return s.frame == from_frame; });
    const auto last = std::find_if(samples.rbegin(), samples.rend(),
                                   [&](const load_sample& s) { return s.frame > from_frame; });
    if (first == samples.end() || last == samples.rend() || last.base() - 1 <= first)
        return nullptr;
    const load_sample& a = *first;
    const load_sample& b = *last;
    const double wall = b.at - a.at;
    const int frames = b.frame - from_frame;
    if (!(wall > 0) || !(b.total > a.total)) return nullptr;
    const double program = (b.program_user - a.program_user) + (b.program_system - a.program_system);
    const bool server_known = a.x_server && b.x_server;
    const double server = server_known ? *b.x_server - *a.x_server : 0;
    const double others = (b.busy - a.busy) - program - server - (b.runner - a.runner);
    double runnable = 0;
    std::optional<double> fmin, fmax;
    int n = 0;
    for (auto s = first; s != last.base(); ++s, ++n) {
        runnable += s->runnable;
        if (s->freq_min_mhz) fmin = std::min(fmin.value_or(*s->freq_min_mhz), *s->freq_min_mhz);
        if (s->freq_max_mhz) fmax = std::max(fmax.value_or(*s->freq_max_mhz), *s->freq_max_mhz);
    }
    const std::string governor = cpu_governor();
    const long cores = sysconf(_SC_NPROCESSORS_ONLN);
    return {
        {"cores", cores},
        {"seconds", rounded(wall, 0.001)},
        {"frames", frames},
        {"samples", n},
        {"others_cores", rounded(std::max(0.0, others / wall), 0.01)},
        {"program_cores", rounded(program / wall, 0.01)},
        {"x_server_cores", server_known ? nlohmann::json(rounded(server / wall, 0.01)) : nullptr},
        {"runner_cores", rounded((b.runner - a.runner) / wall, 0.001)},
        {"steal_share", rounded((b.steal - a.steal) / (b.total - a.total), 0.0001)},
        {"iowait_share", rounded((b.iowait - a.iowait) / (b.total - a.total), 0.0001)},
        {"runnable_mean", rounded(runnable / n, 0.01)},
        {"program_cpu_ms_per_frame",
         {{"user", rounded((b.program_user - a.program_user) * 1000 / frames, 0.1)},
          {"system", rounded((b.program_system - a.program_system) * 1000 / frames, 0.1)}}},
        {"freq_mhz", fmin ? nlohmann::json{{"min", *fmin}, {"max", *fmax}} : nullptr},
        {"governor", governor.empty() ? nlohmann::json(nullptr) : nlohmann::json(governor)},
        {"cpu_pressure_share",
         a.pressure_us && b.pressure_us
             ? nlohmann::json(rounded((*b.pressure_us - *a.pressure_us) / 1e6 / wall, 0.0001))
             : nullptr},
    };
}

std::string load_csv(const std::vector<load_sample>& samples) {
    std::ostringstream out;
    out.precision(10);
    out << "seconds,frame,program_user_s,program_system_s,x_server_s,runner_s,busy_s,steal_s,"
           "iowait_s,total_s,runnable,freq_min_mhz,freq_max_mhz,cpu_pressure_us\n";
    const auto cell = [&](const std::optional<double>& v) {
        if (v) out << *v;
    };
    const double start = samples.empty() ? 0 : samples.front().at;
    for (const auto& s : samples) {
        out << s.at - start << ',';
        if (s.frame >= 0) out << s.frame;
        out << ',' << s.program_user << ',' << s.program_system << ',';
        cell(s.x_server);
        out << ',' << s.runner << ',' << s.busy << ',' << s.steal << ',' << s.iowait << ','
            << s.total << ',' << s.runnable << ',';
        cell(s.freq_min_mhz);
        out << ',';
        cell(s.freq_max_mhz);
        out << ',';
        cell(s.pressure_us);
        out << '\n';
    }
    return out.str();
}

}  // namespace suite_run
