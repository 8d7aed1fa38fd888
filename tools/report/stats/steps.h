// Steps (change points) in a figure's history: where the level of a series
// of per-run averages moved, how far, and what the runs' recorded facts say
// changed there. Pure computation: values in time order in, steps out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace report {

struct StepOptions {
    double alpha = 0.01;          // chance of each accepted step being noise
    int permutations = 999;       // of the significance test
    std::size_t min_segment = 3;  // runs on each side of a step (at least 2)
    int resamples = 2000;         // bootstrap of the ratio's interval
    double level = 0.95;          // of that interval
    std::uint64_t seed = 1;       // fixed: the same history gives the same steps
};

struct Step {
    std::size_t at = 0;            // index of the first value after the step
    std::size_t from = 0, to = 0;  // the segments compared: [from, at) and [at, to)
    double p_value = 1;            // of the permutation test that accepted it
    double ratio = 0, low = 0, high = 0;  // mean after / mean before, with interval
};

// The steps of `values` (oldest first), in order: E-divisive means with the
// energy distance, segments split one at a time where the statistic is
// largest, each split kept only while its permutation p-value is <= alpha.
std::vector<Step> find_steps(const std::vector<double>& values, const StepOptions& o = {});

// Recorded facts of a run, as (name, value) pairs in a fixed order.
using Facts = std::vector<std::pair<std::string, std::string>>;

struct FactChange {
    std::string name, before, after;
};
// The facts whose value differs between two runs, in `before`'s order, then
// the names only `after` has.
std::vector<FactChange> changed_facts(const Facts& before, const Facts& after);

// "frame time +12% (1.10 .. 1.14) from 2026-12-02 (run 42); changed then:
// gl.version A -> B", or "...; nothing recorded changed".
std::string step_label(const std::string& figure, const Step& s, const std::string& date,
                       long long run, const std::vector<FactChange>& changes);

}  // namespace report
