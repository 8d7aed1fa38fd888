// Tables of the store's commands, for the terminal and the page, and the
// trend plots drawn with gnuplot.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "report/output/outputs.h"
#include "report/output/tables.h"
#include "store/store.h"

namespace suite_report {

// A step in one figure of a group's history, between runs[before] and
// runs[after] (the last run before it and the first after).
struct GroupStep {
    std::string figure;  // "frame time" (the median), or the name of a rate
    report::Step step;   // its indices count the runs that have the figure
    std::size_t before = 0, after = 0;
    std::vector<report::FactChange> changes;
    std::string label;
};

// Runs of one program and configuration, oldest first.
struct Group {
    std::string program, host, renderer, window_size, variant;
    std::string display_kind = record::private_xvfb;
    std::optional<bool> software;
    std::vector<store::RunRow> runs;
    std::vector<GroupStep> steps;  // filled by find_group_steps
    std::string title() const;
    // The display kind and software flag where they are not what every run
    // stored before they were kept reads as ("": a private Xvfb, and
    // software as the renderer's name says), so that those series keep
    // their names and identifiers; "display existing, software".
    std::string setup() const;
    // The renderer with the setup beside it, where there is one.
    std::string renderer_shown() const;
};
std::vector<Group> group_runs(std::vector<store::RunRow> runs);

// A day after this machine's clock, as the store dates runs ("YYYY-MM-DD
// hh:mm:ss", UTC): a run dated later is dated in the future.
std::string future_limit();

// The steps of each figure of each group: its median frame time and its rates' averages.
void find_group_steps(std::vector<Group>& groups);

// One plot a program: median frame time of each run over time, a line per
// configuration, each step of the frame time marked with its label. Data go
// to files beside the plots; the script only names them.
std::vector<report::PlotFile> draw_trends(const std::vector<Group>& groups,
                                          const std::string& folder, const std::string& format,
                                          std::string& error);

}  // namespace suite_report
