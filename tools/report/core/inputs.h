// Finding results files under the paths given, and reading each with what
// its run folder holds beside it.
#pragma once

#include <string>
#include <vector>

#include "results.h"

namespace report {

struct Inputs {
    std::vector<Run> runs;
    std::vector<Diagnostic> problems;  // a path missing, a folder without results
};

// Files are read whatever their name; folders are searched recursively for
// "results_*.txt". Runs come back in path order, each labelled.
Inputs load_inputs(const std::vector<std::string>& paths);

// One results file, its metadata.json, exit-status.txt and stderr.txt.
Run load_run(const std::string& path);

// A short name for a run: its run-folder path ("run-20260101-120000/rep-2/cube")
// or else the date and time in its file name.
std::string run_label(const std::string& path);

// Makes the labels of the runs unique by numbering repeats.
void label_runs(std::vector<Run>& runs);

}  // namespace report
