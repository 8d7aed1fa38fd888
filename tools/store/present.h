// Tables of the store's commands, for the terminal and the page, and the
// trend plots drawn with gnuplot.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "store.h"
#include "outputs.h"
#include "tables.h"

namespace store {

// Runs of one program and configuration, oldest first.
struct Group {
    std::string program, host, renderer, window_size;
    std::vector<RunRow> runs;
    std::string title() const;
};
std::vector<Group> group_runs(std::vector<RunRow> runs);

// One plot a program: median frame time of each run over time, a line per
// configuration. Data go to files beside the plots; the script only names them.
std::vector<report::PlotFile> draw_trends(const std::vector<Group>& groups,
                                          const std::string& folder, const std::string& format,
                                          std::string& error);

}  // namespace store
