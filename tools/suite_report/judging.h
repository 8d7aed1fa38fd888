// How check judges a configuration's newest run, for check itself and for
// the site's matrix: the baseline it takes and compare's figures against it.
#pragma once

#include <string>
#include <vector>

#include "report/analysis/verdicts.h"
#include "suite_report/commands.h"
#include "suite_report/store_tables.h"

namespace suite_report {

// The newest run's baseline: the runs tagged --baseline, the --last N before
// it, or else the runs since the last step (in any figure) among those
// before it, all of them when there is none. `which` says which were taken;
// `busy` counts the runs left out for having been measured on a busy machine.
std::vector<const store::RunRow*> choose_baseline(const Group& g, const CheckOptions& o,
                                           std::string& which, std::size_t& busy);

// The newest run of `g` against `base`, figure by figure as compare gives
// them (frame time, then each rate); or why it was not judged.
struct Judgement {
    std::string not_judged;
    std::size_t baseline_runs = 0;  // with frames
    std::vector<std::string> left_out;  // baseline runs whose stored figures cannot be read
    std::vector<report::FigureComparison> figures;
};
Judgement judge_newest(store::Db& db, const Group& g, const std::vector<const store::RunRow*>& base,
                       std::size_t busy, const CheckOptions& o);

}  // namespace suite_report
