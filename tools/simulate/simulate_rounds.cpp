// How the --rounds auto stopping rule fares on simulated variant runs: each
// run's headline drawn anew around its variant's level with a given spread
// between runs, a look after every round from the second, as suite-run looks.
// Prints, per scenario, how often the rule ends in faster or slower, in the
// same, or undecided, and after how many rounds. With --check it exits 1
// when a rate the README states is not met.
//
//   simulate-rounds [pairs] [seed] [--check]
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "report/analysis/rounds.h"

namespace {

struct Scenario {
    const char* name;
    double ratio;      // A's level over B's
    double spread;     // of the runs' headlines, sd of their logs
    double tail_df;    // 0: normal; else Student's t with these degrees of freedom
};

struct Tally {
    int called = 0, same = 0, undecided = 0, within3 = 0;
    double rounds = 0;
};

double noise(std::mt19937_64& rng, const Scenario& s) {
    if (s.tail_df <= 0) return std::normal_distribution<double>(0, s.spread)(rng);
    const double t = std::student_t_distribution<double>(s.tail_df)(rng);
    return s.spread * t / std::sqrt(s.tail_df / (s.tail_df - 2));  // the same sd
}

Tally run(const Scenario& s, int pairs, std::uint64_t seed, const record::RoundsRule& rule) {
    std::mt19937_64 rng(seed);
    Tally t;
    for (int i = 0; i < pairs; ++i) {
        std::vector<double> a, b;
        report::Answer answer = report::Answer::undecided;
        int r = 1;
        for (; r <= rule.max_rounds; ++r) {
            a.push_back(100 * s.ratio * std::exp(noise(rng, s)));
            b.push_back(100 * std::exp(noise(rng, s)));
            if (r < 2) continue;
            answer = report::look(a, b, rule).answer;
            if (answer != report::Answer::undecided) break;
        }
        t.called += answer == report::Answer::faster || answer == report::Answer::slower;
        t.same += answer == report::Answer::same;
        t.undecided += answer == report::Answer::undecided;
        t.within3 += answer != report::Answer::undecided && r <= 3;
        t.rounds += std::min(r, rule.max_rounds);
    }
    return t;
}

}  // namespace

int main(int argc, char** argv) {
    const int pairs = argc > 1 ? std::atoi(argv[1]) : 10000;
    const std::uint64_t seed = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1;
    const bool check = argc > 3 && std::strcmp(argv[3], "--check") == 0;
    if (pairs < 1) {
        std::fprintf(stderr, "usage: simulate-rounds [pairs] [seed] [--check]\n");
        return 2;
    }
    const record::RoundsRule rule;  // suite-run's defaults
    const Scenario scenarios[] = {
        {"A/A, runs 2% apart", 1, 0.02, 0},
        {"A/A, runs 5% apart", 1, 0.05, 0},
        {"A/A, runs 0.2% apart", 1, 0.002, 0},
        {"A/A, runs 2% apart, heavy tails (t, 3 df)", 1, 0.02, 3},
        {"10% apart, runs 2% apart", 1.1, 0.02, 0},
        {"10% apart, runs 2% apart, heavy tails", 1.1, 0.02, 3},
        {"2x apart, runs 2% apart", 2, 0.02, 0},
        {"2x apart, runs 10% apart", 2, 0.10, 0},
    };
    std::printf("%d pairs a scenario, at most %d rounds, %.0f%% overall, %.0f%% practical\n",
                pairs, rule.max_rounds, 100 * rule.alpha, rule.practical_percent);
    std::printf("%-45s %8s %8s %9s %9s %7s\n", "scenario", "called", "same", "undecided",
                "by rnd 3", "rounds");
    bool ok = true;
    for (const auto& s : scenarios) {
        const Tally t = run(s, pairs, seed, rule);
        auto pct = [&](int n) { return 100.0 * n / pairs; };
        std::printf("%-45s %7.2f%% %7.2f%% %8.2f%% %8.2f%% %7.2f\n", s.name, pct(t.called),
                    pct(t.same), pct(t.undecided), pct(t.within3), t.rounds / pairs);
        if (s.ratio == 1) ok = ok && pct(t.called) <= 100 * rule.alpha;
        if (s.ratio == 1.1 && s.tail_df == 0) ok = ok && pct(t.called) >= 80;
        if (s.ratio == 2 && s.spread <= 0.02) ok = ok && pct(t.within3) >= 99.9;
    }
    if (check && !ok) std::printf("a stated rate is not met\n");
    return check && !ok ? 1 : 0;
}
