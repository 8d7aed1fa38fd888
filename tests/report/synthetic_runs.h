// screens runs made to order: frame times from a seeded generator, written
// in the program's own layout, with the runner's files beside them if asked.
#pragma once

#include <cstdint>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "test_data.h"

namespace report_test {

// `n` frame times in ms: `base` mostly, `stutter` on a random `share` of them.
inline std::vector<double> stutter_frames(std::uint64_t seed, std::size_t n, double share,
                                          double base = 20, double stutter = 40) {
    std::mt19937_64 rng(seed);
    std::bernoulli_distribution hit(share);
    std::vector<double> ms(n);
    for (auto& t : ms) t = hit(rng) ? stutter : base;
    return ms;
}

inline double mean_of(const std::vector<double>& v) {
    double sum = 0;
    for (double x : v) sum += x;
    return sum / static_cast<double>(v.size());
}

// A results file in `folder` holding these frames, laid out as screens writes
// one (its head taken from the hand-made sample), summary included.
inline std::string write_screens_run(const std::string& folder, const std::vector<double>& ms) {
    const std::string sample = read_text(screens_file);
    std::ostringstream s;
    s << sample.substr(0, sample.find("window: "));
    double total = 0;
    for (double t : ms) {
        const double seconds = t / 1000;
        total += seconds;
        s << "window: 1\nThe system spent: " << seconds << " Secs. \nIt was: " << 6450 / seconds
          << " Charaters/sec.\n\n";
    }
    s << "Total machine time:  " << total << " Secs. \nAverage: "
      << 6450 * static_cast<double>(ms.size()) / total << " Characters/Sec.\n\n";
    write_text(folder + "/results_screens_windows_mac_mx @ local date 2026.12.07 time 12.00.00.txt",
               s.str());
    return folder;
}

}  // namespace report_test
