// The results store: every run recorded once (known by its results file's
// content hash with its machine, date and tag), with its metadata, every frame's figures as printed, the
// summary, the exit status and the runner's own frame intervals.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "report/reading/results.h"
#include "report/stats/steps.h"
#include "store/db.h"

namespace store {

// Where a store is when none is named: $SUITE_DB, else `fallback`.
std::string default_url(const std::string& fallback);

// The schema version the store holds; 0 for a store without one.
int schema_version(Db& db);

// Columns schema version 4 renamed: a store read as it is, not upgraded, has
// the names before.
struct RenamedColumn {
    const char *table, *now, *before;
};
inline constexpr RenamedColumn renamed_columns[] = {
    {"runs", "printed_first_average", "average"},  // the summary's own, as printed
    {"runs", "printed_second_average", "average2"},
    {"runs", "first_rate_name", "rate1_name"},
    {"runs", "first_rate_overall", "rate1_avg"},  // all counts over all frame time
    {"runs", "second_rate_name", "rate2_name"},
    {"runs", "second_rate_overall", "rate2_avg"},
    {"frames", "first_rate", "rate"},
    {"frames", "second_rate", "rate2"},
};
// The column's name in db's schema: now, or what it was before version 4.
std::string column(Db& db, const char* now);

// Opens the store and brings its schema up to date (creating it if new).
std::unique_ptr<Db> open_store(const std::string& url, bool create);
// For history and check: writes nothing; a store of an older schema is read as it is.
std::unique_ptr<Db> open_store_read_only(const std::string& url);

// When a run ran, in UTC ("YYYY-MM-DD HH:MM:SS"), and the stamp it was read
// from as written; both "" when neither the metadata nor the file name holds one.
struct RunDate {
    std::string utc, stamp;
};
RunDate run_date(const record::RunRecord& record, const std::string& results_name);
// What tells runs apart: the results file's hash with the machine, the date
// and the tag that its metadata gives.
std::string run_identity(const std::string& hash, const record::RunRecord& record,
                         const std::string& results_name);

// The display kind the store keeps for a run: a record from before the
// display was kept reads as the runs stored then do (a private Xvfb), so that
// an old folder imported after the upgrade joins their series.
std::string display_kind_of(const record::RunRecord& record);

// A run as the store holds it, ready to be stored.
struct StoredRun {
    std::string hash;    // SHA-256 of the results file, hex
    std::string identity;  // run_identity
    report::Run run;     // read by the report's parser, with its run folder
    std::string folder;  // the run folder as given
    std::string tag;
    bool tag_given = false;  // named on import: it replaces a stored run's tag
    std::map<int, long long> intervals_us;  // frames.csv: frame number -> runner interval
};

// A run read by the report's parser (load_inputs, load_run), with its hash
// and frames.csv. Refused (nullopt, with the reasons in `errors` as
// file:line diagnostics) when the parser found an error in it.
std::optional<StoredRun> make_stored_run(report::Run run, const std::string& tag,
                                         std::vector<std::string>& errors);

struct ImportResult {
    int added = 0, present = 0, tagged = 0;
    std::vector<std::string> refused;  // file:line diagnostics
    std::string store_error;           // the store's first failure: why the rest is missing
    std::vector<std::string> recorded, not_recorded;  // run folders
    std::size_t found = 0;             // results files found
};
// Records every results file found under `paths` (files or folders).
ImportResult import_paths(const std::string& url, const std::vector<std::string>& paths,
                          const std::string& tag);

// For the runner: records one program's run as the runner holds it (read by
// report::load_run with the side texts the runner wrote, never read back from
// the folder, which the program may have changed). Returns why the record is
// missing, or "" (recorded or already there).
std::string record_run(const std::string& url, report::Run run, const std::string& tag);

// Records in one transaction. A run already there is only tagged, when a tag was given.
enum class Stored { added, present, tagged };
Stored store_run(Db& db, const StoredRun& r);

// The figures of one frame as stored: text exactly as printed.
struct StoredFrame {
    int window = 0;
    std::string seconds, first_rate;
    Value second_rate, triangles;
    std::optional<long long> interval_us;
};

// One run's row, for history and check.
struct RunRow {
    long long id = 0;
    std::string hash, program, folder, results_name, date, host, renderer, window_size, suite_version, tag;
    std::string variant;  // of an interleaved run; "" for the others
    // The X server's kind (report::display_kind) and whether GL rendered in
    // software; runs stored before these were kept read as on a private Xvfb,
    // in software where their renderer's name says so.
    std::string display_kind;
    std::optional<bool> software;
    long long frames = 0;
    std::optional<double> median_ms;
    std::vector<std::pair<std::string, std::optional<double>>> rates;  // name, average
    bool complete = false;
    std::optional<int> exit_status;
    // What a step may be owed to: the GL strings, machine, suite version,
    // tag, sync and window size, by name ("gl.version", ...).
    report::Facts facts;
    std::string busy;  // what else ran, when the machine was busy; "" if quiet or unknown
    // The load its metadata sums up over the measured frames: "others used
    // 0.12 of 2 cores; the program 41.0 ms CPU a frame"; "" when not recorded.
    std::string load;
};

struct Filter {
    std::string program, machine, renderer, since;
};

// Oldest first, then in order of recording.
std::vector<RunRow> find_runs(Db& db, const Filter& f);
std::vector<StoredFrame> frames_of(Db& db, long long run_id);
// The run as the parser would have read it from its frames: enough for the
// report's analysis. `problem` names the first figure that no program could
// have printed there ("frames.seconds is 'abc', not a finite number (frame
// 3)"): a run with one is not to be judged.
report::Run run_from_frames(const std::string& program, const std::vector<StoredFrame>& frames,
                            std::string& problem);

}  // namespace store
