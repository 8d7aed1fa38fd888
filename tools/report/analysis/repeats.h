// The runs of one program taken as repeats: the spread of each figure across them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "report/analysis/analysis.h"
#include "report/stats/compare.h"

namespace report {

// One figure taken once per run, over the runs of a group.
struct RepeatFigure {
    std::string name;
    std::vector<double> values;  // one a run, in the group's order
    Spread spread;
};

// The runs of one program (on one side, when comparing): taken as repeats.
struct RepeatGroup {
    Program program = Program::cube;
    std::string side;
    std::vector<const Analysis*> runs;
    std::vector<RepeatFigure> figures;
};

// The runs of one program on one side ("" when not comparing), in order.
std::vector<const Analysis*> side_runs(const std::vector<Analysis>& analyses, Program program,
                                       const std::string& side);

// Every program/side with at least two runs that have frames.
std::vector<RepeatGroup> repeat_groups(const std::vector<Analysis>& analyses);

}  // namespace report
