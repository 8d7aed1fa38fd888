// How often compare_figure() calls a difference where there is none, and how
// often it finds a real 5% one, on simulated runs: each run's mean drawn
// anew from one distribution, its frames independent or each leaning on the
// last (AR(1)). Not run by the tests: it takes a while and prints rates.
//
//   simulate-compare [pairs] [seed] [text]   (only the scenarios whose name holds text)
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "report/analysis/verdicts.h"

namespace {

struct Scenario {
    const char* name;
    int runs;         // a side
    int frames;       // a run
    double phi;       // AR(1) coefficient of neighbouring frames
    double run_cv;    // spread of the runs' means, as a fraction
};

// Frame times in ms around `mean`: 10% noise, correlated by phi.
std::vector<double> frames(std::mt19937_64& rng, double mean, const Scenario& s) {
    std::normal_distribution<double> z(0, 1);
    std::vector<double> out(static_cast<std::size_t>(s.frames));
    const double scale = std::sqrt(1 - s.phi * s.phi);
    double e = z(rng);  // stationary start
    for (auto& f : out) {
        f = mean * (1 + 0.1 * e);
        e = s.phi * e + scale * z(rng);
    }
    return out;
}

std::vector<std::vector<double>> side(std::mt19937_64& rng, double mean, const Scenario& s) {
    std::normal_distribution<double> z(0, 1);
    std::vector<std::vector<double>> runs;
    for (int r = 0; r < s.runs; ++r) runs.push_back(frames(rng, mean * (1 + s.run_cv * z(rng)), s));
    return runs;
}

struct Rates {
    double called = 0;       // faster or slower
    double significant = 0;  // p and interval agree, "within" included
    double too_few = 0;
};

// `pairs` comparisons of A around `mean_a` against B around 20 ms.
Rates rates(const Scenario& s, int pairs, double mean_a, std::uint64_t seed, bool want_faster) {
    std::mt19937_64 rng(seed);
    report::CompareOptions o;
    Rates r;
    for (int i = 0; i < pairs; ++i) {
        const auto a = side(rng, mean_a, s), b = side(rng, 20, s);
        o.seed = static_cast<std::uint64_t>(i) + 1;
        const auto v = report::compare_figure("frame time", false, a, b, o).verdict;
        r.called += want_faster ? v == report::Verdict::faster
                                : v == report::Verdict::faster || v == report::Verdict::slower;
        r.significant += v == report::Verdict::faster || v == report::Verdict::slower ||
                         v == report::Verdict::within;
        r.too_few += v == report::Verdict::too_few;
    }
    return {100 * r.called / pairs, 100 * r.significant / pairs, 100 * r.too_few / pairs};
}

}  // namespace

int main(int argc, char** argv) {
    const int pairs = argc > 1 ? std::atoi(argv[1]) : 1000;
    const std::uint64_t seed = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1;
    if (pairs < 1) {
        std::fprintf(stderr, "usage: simulate-compare [pairs] [seed] [text]\n");
        return 2;
    }
    const Scenario scenarios[] = {
        {"3 runs a side, 300 independent frames, means 1% apart", 3, 300, 0, 0.01},
        {"3 runs a side, 300 AR(1) 0.8 frames, means 1% apart", 3, 300, 0.8, 0.01},
        {"10 runs a side, 300 independent frames, means 1% apart", 10, 300, 0, 0.01},
        {"10 runs a side, 300 AR(1) 0.8 frames, means 1% apart", 10, 300, 0.8, 0.01},
        {"3 runs a side, 10 AR(1) 0.8 frames, means 1% apart", 3, 10, 0.8, 0.01},
        {"1 run a side, 10 AR(1) 0.8 frames, means 1% apart", 1, 10, 0.8, 0.01},
        {"1 run a side, 2000 AR(1) 0.8 frames, equal means", 1, 2000, 0.8, 0},
        {"1 run a side, 2000 AR(1) 0.8 frames, means 1% apart", 1, 2000, 0.8, 0.01},
    };
    std::printf("%d pairs a scenario; frames 20 ms with 10%% noise; default options "
                "(5%% level, 1%% practical threshold)\n",
                pairs);
    std::printf("%-58s %9s %9s %9s %9s\n", "scenario", "A/A call", "A/A p<.05", "too few",
                "power 5%");
    const char* only = argc > 3 ? argv[3] : "";
    for (const auto& s : scenarios) {
        if (!std::strstr(s.name, only)) continue;
        const Rates same = rates(s, pairs, 20, seed, false);
        const Rates apart = rates(s, pairs, 20 * 0.95, seed + 1, true);  // 5% less time
        std::printf("%-58s %8.1f%% %8.1f%% %8.1f%% %8.1f%%\n", s.name, same.called,
                    same.significant, same.too_few, apart.called);
    }
    return 0;
}
