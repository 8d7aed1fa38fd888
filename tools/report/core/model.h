// Everything a report shows, computed once and handed to every output.
#pragma once

#include <string>
#include <vector>

#include "across.h"
#include "analysis.h"
#include "inputs.h"

namespace report {

struct Model {
    Model() = default;
    // Analyses point at runs and groups at analyses: moving keeps them valid,
    // copying would not.
    Model(const Model&) = delete;
    Model& operator=(const Model&) = delete;
    Model(Model&&) = default;
    Model& operator=(Model&&) = default;

    std::vector<Run> runs;            // every file read, failed ones too
    std::vector<Analysis> analyses;   // the runs that did not fail
    std::vector<RepeatGroup> groups;  // repeats, two runs or more
    bool comparing = false;
    CompareOptions options;
    std::vector<ProgramComparison> comparisons;
    std::vector<Diagnostic> problems;  // about the paths given
    std::vector<InputFile> inputs;     // every file read: no output may replace one

    // The analysis of one of `runs`; null for a failed run.
    const Analysis* analysis_of(const Run& run) const;
    // Every diagnostic: the paths', then each run's, then its checks.
    std::vector<Diagnostic> all_diagnostics() const;
    bool has_errors() const;
    // A run's own diagnostics, then its analysis's checks.
    std::vector<Diagnostic> diagnostics_of(const Run& run) const;
};

// A report of the runs found under `paths`.
Model build_model(const std::vector<std::string>& paths);
// Side A against side B.
Model build_comparison(const std::vector<std::string>& a, const std::vector<std::string>& b,
                       const CompareOptions& options);

}  // namespace report
