// The step finder on simulated histories of 60 runs with 2% noise (normal,
// relative): how often a noise-only history shows a step (false alarms), and
// how often a 10% step at run 31 is found, and where.
// Usage: simulate_steps [SEEDS] (default 1000).
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "report/core/steps.h"

namespace {

std::vector<double> history(unsigned seed, double step) {
    std::mt19937_64 rng(seed);
    std::normal_distribution<double> noise(1, 0.02);
    std::vector<double> v;
    for (int i = 0; i < 60; ++i) v.push_back(100 * (i >= 30 ? step : 1) * noise(rng));
    return v;
}

}  // namespace

int main(int argc, char** argv) {
    const int seeds = argc > 1 ? std::atoi(argv[1]) : 1000;
    if (seeds < 1) {
        std::fprintf(stderr, "usage: simulate_steps [SEEDS]\n");
        return 2;
    }
    int false_alarms = 0, exact = 0, near = 0, extra = 0;
    for (int s = 0; s < seeds; ++s) {
        const unsigned seed = static_cast<unsigned>(s) + 1;
        if (!report::find_steps(history(seed, 1)).empty()) ++false_alarms;
        const auto steps = report::find_steps(history(seed + 1000000, 1.10));
        bool hit = false;
        for (const auto& st : steps) {
            const long off = std::labs(static_cast<long>(st.at) - 30);
            if (off <= 2 && !hit) {
                hit = true;
                exact += off == 0;
                near += 1;
            } else {
                ++extra;
            }
        }
    }
    const double n = seeds;
    std::printf("noise only, 60 runs, 2%% noise, %d seeds: %d with a step (false-alarm rate %.4f)\n",
                seeds, false_alarms, false_alarms / n);
    std::printf("10%% step at run 31: found within 2 runs in %d (%.4f), at run 31 exactly in %d "
                "(%.4f); %d other steps reported\n",
                near, near / n, exact, exact / n, extra);
    return 0;
}
