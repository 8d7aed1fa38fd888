// suite-report's store subcommands: import, history, check, summary, site,
// triage.
#pragma once

#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "report/output/writer.h"
#include "store/store.h"
#include "suite_report/site.h"

namespace suite_report {

struct HistoryOptions {
    std::string db;
    store::Filter filter;
    std::string json, csv, html, plots;
};

struct TriageOptions {
    std::string db, change, state, note;
};

struct CheckOptions {
    std::string db, baseline_tag;
    double threshold = 3;  // percent
    int last = 0;  // 0: the runs since the last step before the newest
    bool allow_busy = false;  // judge and use runs measured on a busy machine
    std::string junit, markdown;  // files for a CI system; "" none, markdown "-": stdout
};

// Adds the subcommands to `app`; after parsing, run() does the one chosen.
class Commands {
public:
    explicit Commands(CLI::App& app);
    bool chosen() const;
    int run() const;  // exit status

private:
    void add_import(CLI::App& app);
    void add_history(CLI::App& app);
    void add_check(CLI::App& app);
    void add_summary(CLI::App& app);
    void add_site(CLI::App& app);
    void add_triage(CLI::App& app);
    CLI::App *import_ = nullptr, *history_ = nullptr, *check_ = nullptr, *summary_ = nullptr;
    CLI::App *site_ = nullptr, *triage_ = nullptr;
    SiteOptions site_options_;
    TriageOptions triage_options_;
    std::string summary_run_, summary_db_;
    std::vector<std::string> paths_;
    std::string import_db_;
    std::string import_tag_;
    HistoryOptions history_options_;
    CheckOptions check_options_;
};

// Throws a usage error when more than one output is "-": standard output
// takes one.
void one_standard_output(const std::vector<std::string>& outputs);

// The store, when it is a file, as the input no output may replace.
report::ExportInputs store_as_input(const std::string& db);

int run_import(const std::string& db, const std::vector<std::string>& paths,
               const std::string& tag);
int run_history(const HistoryOptions& o);
int run_check(const CheckOptions& o);
int run_triage(const TriageOptions& o);
// The end of a suite-run: the runs of `run_folder` at a glance, each program
// against the last comparable run in the store, report.html in the folder.
int run_summary(const std::string& url, const std::string& run_folder);

}  // namespace suite_report
