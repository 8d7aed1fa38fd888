// Finding results files under the paths given, and reading each with what
// its run folder holds beside it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "common/files.h"
#include "report/reading/results.h"

namespace report {

// A file the report was made from: outputs must never land on one.
struct InputFile {
    std::string path;
    common::FileId id;
};

struct Inputs {
    std::vector<Run> runs;
    std::vector<Diagnostic> problems;  // a path missing, a folder unreadable or without results
    std::vector<InputFile> files;      // every results and side file opened
};

// How much of a run folder's side files is read: the runner writes a few
// KiB of metadata, and of stderr.txt only the first line is shown. Memory
// then grows with the runs, not with what a hostile folder holds.
constexpr std::size_t metadata_cap = 64 << 10;
constexpr std::size_t stderr_cap = 4 << 10;
constexpr std::size_t frames_csv_cap = 256u << 20;  // about 25 bytes a frame: a long run's rows
constexpr int metadata_depth_cap = 32;

// What the runner leaves beside a results file, as texts: read from the run
// folder, or handed over by the runner from what it holds in memory.
struct SideTexts {
    std::optional<std::string> metadata, exit_status, frames_csv, load_csv, stderr_text;
    bool metadata_more = false, frames_csv_more = false;  // cut at the caps above
};

// Files are read whatever their name; folders are searched recursively for
// "results_*.txt". Runs come back in path order, each labelled.
Inputs load_inputs(const std::vector<std::string>& paths);

// One results file, its metadata.json, exit-status.txt and stderr.txt; the
// files opened are added to `files` when given. Where its folder's files are
// not those the runner wrote (run.json, a level or three up, keeps their
// hashes), a warning says the folder was changed after the run.
Run load_run(const std::string& path, std::vector<InputFile>* files = nullptr);

// A run folder's run.json as the runner wrote it (its programs, and with
// variants how the rounds went); nullopt when there is none, or it is no
// plain file, larger than the runner writes or not JSON.
std::optional<record::RunSetRecord> read_run_set(const std::string& run_folder);

// One results file with the side texts given, its folder's left unread: the
// runner's own record of a run, which the program cannot have replaced.
Run load_run(const std::string& path, const SideTexts& sides);

// A short name for a run: its run-folder path ("run-20260101-120000/rep-2/cube")
// or else the date and time in its file name.
std::string run_label(const std::string& path);

// Makes the labels of the runs unique by numbering repeats.
void label_runs(std::vector<Run>& runs);

}  // namespace report
