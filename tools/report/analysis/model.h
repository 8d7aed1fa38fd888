// Everything a report shows, computed once and handed to every output.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "report/analysis/repeats.h"
#include "report/analysis/verdicts.h"
#include "report/analysis/analysis.h"
#include "report/reading/inputs.h"

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
    // Who the sides are: "A against B", or the variants of an interleaved run.
    std::string sides_title = "A against B";
    nlohmann::json sides;  // null, or {"A": variant, "B": variant} as the runner named them

    // The analysis of one of `runs`; null for a failed run.
    const Analysis* analysis_of(const Run& run) const;
    // Every diagnostic: the paths', then each run's, then its checks.
    std::vector<Diagnostic> all_diagnostics() const;
    bool has_errors() const;
    // A run's own diagnostics, then its analysis's checks.
    std::vector<Diagnostic> diagnostics_of(const Run& run) const;
    // The runs' software_note lines, each once.
    std::vector<std::string> software_notes() const;
};

// A report of the runs found under `paths`.
Model build_model(const std::vector<std::string>& paths);
// Side A against side B.
Model build_comparison(const std::vector<std::string>& a, const std::vector<std::string>& b,
                       const CompareOptions& options);
// The variants of one interleaved run folder: `judged` (a name; "": the
// second variant) as side A against the first variant as side B, the
// baseline. nullopt with the reason in error when the folder holds fewer
// than two variants or no variant so named.
std::optional<Model> build_variant_comparison(const std::string& run_folder,
                                              const std::string& judged,
                                              const CompareOptions& options, std::string& error);

}  // namespace report
