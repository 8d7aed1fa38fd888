// The step finder on simulated histories of RUNS runs with 2% noise (normal,
// relative): how often a noise-only history shows a step (false alarms), and
// how often a 10% step halfway is found, and where.
// Usage: simulate_steps [SEEDS [RUNS]] (default 1000 seeds of 60 runs).
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "report/stats/steps.h"

namespace {

std::vector<double> history(unsigned seed, double step, int runs) {
    std::mt19937_64 rng(seed);
    std::normal_distribution<double> noise(1, 0.02);
    std::vector<double> v;
    for (int i = 0; i < runs; ++i) v.push_back(100 * (i >= runs / 2 ? step : 1) * noise(rng));
    return v;
}

}  // namespace

int main(int argc, char** argv) {
    const int seeds = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 60;
    if (seeds < 1 || runs < 6) {
        std::fprintf(stderr, "usage: simulate_steps [SEEDS [RUNS]]\n");
        return 2;
    }
    int false_alarms = 0, exact = 0, near = 0, extra = 0;
    for (int s = 0; s < seeds; ++s) {
        const unsigned seed = static_cast<unsigned>(s) + 1;
        if (!report::find_steps(history(seed, 1, runs)).empty()) ++false_alarms;
        const auto steps = report::find_steps(history(seed + 1000000, 1.10, runs));
        bool hit = false;
        for (const auto& st : steps) {
            const long off = std::labs(static_cast<long>(st.at) - runs / 2);
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
    std::printf("noise only, %d runs, 2%% noise, %d seeds: %d with a step (false-alarm rate %.4f)\n",
                runs, seeds, false_alarms, false_alarms / n);
    std::printf("10%% step at run %d: found within 2 runs in %d (%.4f), at run %d exactly in %d "
                "(%.4f); %d other steps reported\n",
                runs / 2 + 1, near, near / n, runs / 2 + 1, exact, exact / n, extra);
    return 0;
}
