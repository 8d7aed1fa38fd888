// What else the machine did while a program ran: CPU time of the program,
// of the X server, of this runner and of everything else, read from /proc
// and /sys only, a few times a second and at every frame report.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace suite_run {

// Cumulative counters at one moment; seconds of CPU time unless named.
// A figure the machine does not show stays empty: never a made-up value.
struct load_sample {
    double at = 0;      // seconds on the runner's clock
    int frame = -1;     // the frame whose report was just seen; -1: a timed sample
    double program_user = 0, program_system = 0;  // all its threads and processes
    std::optional<double> x_server;               // unknown without its process
    double runner = 0;                            // this process: reading pipes, sampling
    double busy = 0;                              // all CPUs: user, nice, system, irq, softirq
    double steal = 0, iowait = 0, total = 0;      // all CPUs, total includes idle
    int runnable = 0;                             // tasks running or ready right now
    std::optional<double> freq_min_mhz, freq_max_mhz;
    std::optional<double> pressure_us;  // time some task waited for a CPU
};

// Reads one sample now. program or x_server 0: not counted.
load_sample read_load(pid_t program, pid_t x_server, double at);

// Samples every interval seconds on a thread of its own until stop().
class LoadSampler {
public:
    LoadSampler(pid_t program, pid_t x_server, double interval = 0.25);
    ~LoadSampler();
    void mark(int frame);  // a sample now, tied to a frame report
    void stop();
    std::vector<load_sample> samples() const;

private:
    void loop();
    pid_t program_, x_server_;
    double interval_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::vector<load_sample> samples_;
    std::thread thread_;
};

// The machine's own load for `seconds` before a program starts: other
// processes' CPU in cores and the steal share. Stops early on a stop signal.
nlohmann::json quiet_check(pid_t x_server, double seconds);

// The summary kept in metadata.json: over the measured frames, from the
// sample marked `from_frame` (the animation's start) to the last frame mark.
nlohmann::json load_summary(const std::vector<load_sample>& samples, int from_frame);

// Every sample as CSV, cumulative counters, empty cells where unknown.
std::string load_csv(const std::vector<load_sample>& samples);

// The governor of the first CPU that shows one; empty if none.
std::string cpu_governor();

}  // namespace suite_run
