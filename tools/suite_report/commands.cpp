#include "suite_report/commands.h"

#include <iostream>

#include "common/dates.h"
#include "common/text.h"

namespace suite_report {

namespace {
// The default store: $SUITE_DB, else the one suite-run keeps beside its run folders.
const char* const default_store = "results/suite.db";
}

Commands::Commands(CLI::App& app) {
    add_import(app);
    add_history(app);
    add_check(app);
    add_summary(app);
    add_site(app);
    add_triage(app);
}

void Commands::add_import(CLI::App& app) {
    import_ = app.add_subcommand("import", "record run folders and results files in the store");
    import_->add_option("PATH", paths_, "results files or folders")->required();
    import_->add_option("--db", import_db_, "the store: an SQLite file, postgresql://... or "
                                            "host=... dbname=... (default: $SUITE_DB, else "
                                            "results/suite.db)");
    import_->add_option("--tag", import_tag_, "tag the runs, also those already stored "
                                              "(default: the tag their run folder was "
                                              "recorded with, if any)");

}

void Commands::add_history(CLI::App& app) {
    history_ = app.add_subcommand("history", "the stored runs, grouped by program and "
                                             "configuration, with their trend and its steps");
    auto& h = history_options_;
    history_->add_option("--db", h.db, "the store (default: $SUITE_DB, else results/suite.db)");
    history_->add_option("--program", h.filter.program, "only this program");
    history_->add_option("--machine", h.filter.machine, "only this machine (host name)");
    history_->add_option("--renderer", h.filter.renderer, "only this GL renderer");
    history_->add_option("--since", h.filter.since, "only runs from DATE on (YYYY-MM-DD)")
        ->check([](const std::string& d) {
            return common::read_date(d, "YYYY-MM-DD") ? std::string()
                                                      : std::string("DATE is YYYY-MM-DD");
        });
    history_->add_option("--json", h.json, "write the history as JSON to FILE ('-': stdout)");
    history_->add_option("--csv", h.csv, "write one row per run as CSV to FILE ('-': stdout)");
    history_->add_option("--html", h.html, "write a page with the table and the trends to FILE");
    history_->add_option("--plots", h.plots, "draw the trends with gnuplot into DIR");
    history_->callback([this] {
        const auto& o = history_options_;
        one_standard_output({o.json, o.csv, o.html});
    });

}

void Commands::add_check(CLI::App& app) {
    check_ = app.add_subcommand("check", "the newest run of each configuration against its "
                                         "baseline: exit 1 on a significant slowdown, 3 when "
                                         "something could not be judged");
    auto& c = check_options_;
    check_->add_option("--db", c.db, "the store (default: $SUITE_DB, else results/suite.db)");
    check_->add_option("--threshold", c.threshold, "percent worse that fails the check")
        ->check(CLI::Range(0.0, 1000.0))
        ->capture_default_str();
    check_->add_option("--baseline", c.baseline_tag, "baseline: the runs tagged TAG");
    check_->add_option("--last", c.last,
                       "baseline: the last N runs before the newest (default: the runs "
                       "since the last step before it)")
        ->check(CLI::Range(1, 1000));
    check_->add_option("--junit", c.junit,
                       "write a JUnit XML file: a test case per program and figure");
    check_->add_option("--markdown", c.markdown,
                       "write the verdicts as a Markdown table to FILE ('-': stdout)");
    check_->callback([this] {
        one_standard_output({check_options_.junit, check_options_.markdown});
    });
    check_->add_flag("--allow-busy", c.allow_busy,
                     "judge a newest run measured on a busy machine, and keep busy runs in "
                     "the baseline");
}

void Commands::add_summary(CLI::App& app) {
    summary_ = app.add_subcommand("summary", "what the end of a suite-run shows: the runs at a "
                                             "glance, each program against its last comparable "
                                             "run in the store, and report.html in the run folder");
    summary_->add_option("RUN", summary_run_, "a run folder of suite-run")->required();
    summary_->add_option("--db", summary_db_,
                         "the store (default: $SUITE_DB, else results/suite.db)");
}

void Commands::add_site(CLI::App& app) {
    site_ = app.add_subcommand("site", "write the store as a static site: the matrix of machines "
                                       "and configurations against programs, and their trends");
    auto& o = site_options_;
    site_->add_option("--db", o.db, "the store (default: $SUITE_DB, else results/suite.db)");
    site_->add_option("--out", o.out, "the site: a link to its newest generation, made or "
                                      "replaced")
        ->required();
    site_->add_option("--since", o.since, "only runs from DATE on (YYYY-MM-DD)")
        ->check([](const std::string& d) {
            return common::read_date(d, "YYYY-MM-DD") ? std::string()
                                                      : std::string("DATE is YYYY-MM-DD");
        });
    site_->add_option("--baseline", o.baseline_tag,
                      "judge the newest runs against the runs tagged TAG (default: the level "
                      "since the last change point)");
}

void Commands::add_triage(CLI::App& app) {
    triage_ = app.add_subcommand("triage", "say what a change point is: acknowledged, invalid "
                                           "or fixed, with a note");
    auto& o = triage_options_;
    triage_->add_option("CHANGE", o.change, "the change point's identifier, as history --json "
                                            "and the site show it")
        ->required();
    triage_->add_option("--state", o.state, "acknowledged, invalid or fixed")
        ->required()
        ->check(CLI::IsMember({"acknowledged", "invalid", "fixed"}));
    triage_->add_option("--note", o.note, "why")->required();
    triage_->add_option("--db", o.db, "the store (default: $SUITE_DB, else results/suite.db)");
}

bool Commands::chosen() const {
    return *import_ || *history_ || *check_ || *summary_ || *site_ || *triage_;
}

int Commands::run() const {
    if (*import_)
        return run_import(import_db_.empty() ? store::default_url(default_store) : import_db_, paths_,
                          import_tag_);
    auto h = history_options_;
    if (*history_) {
        h.db = h.db.empty() ? store::default_url(default_store) : h.db;
        return run_history(h);
    }
    if (*triage_) {
        auto o = triage_options_;
        o.db = o.db.empty() ? store::default_url(default_store) : o.db;
        return run_triage(o);
    }
    if (*site_) {
        auto o = site_options_;
        o.db = o.db.empty() ? store::default_url(default_store) : o.db;
        return run_site(o);
    }
    if (*summary_)
        return run_summary(summary_db_.empty() ? store::default_url(default_store) : summary_db_,
                           summary_run_);
    auto c = check_options_;
    c.db = c.db.empty() ? store::default_url(default_store) : c.db;
    return run_check(c);
}

void one_standard_output(const std::vector<std::string>& outputs) {
    if (report::several_standard_outputs(outputs))
        throw CLI::ValidationError("outputs", "only one output can go to standard output ('-')");
}

report::ExportInputs store_as_input(const std::string& db) {
    // An SQLite store is an input like any other.
    report::ExportInputs inputs{{}, " (the store)", {}};
    if (const auto id = common::file_id(db)) inputs.files.push_back({db, *id});
    return inputs;
}

int run_import(const std::string& db, const std::vector<std::string>& paths,
               const std::string& tag) {
    const auto r = store::import_paths(db, paths, tag);
    for (const auto& e : r.refused) std::cerr << "suite-report: refused: " << e << "\n";
    if (!r.store_error.empty()) {
        // Which folders the store holds and which it does not, for a later import.
        std::cerr << "suite-report: warning: " << r.not_recorded.size() << " of "
                  << r.not_recorded.size() + r.recorded.size()
                  << " run(s) were not recorded: " << common::terminal_safe(r.store_error) << "\n";
        for (const auto& f : r.recorded) std::cout << "recorded: " << common::terminal_safe(f) << "\n";
        for (const auto& f : r.not_recorded)
            std::cout << "not recorded: " << common::terminal_safe(f) << "\n";
    }
    std::cout << "recorded " << r.added << " run(s) in " << store::display_url(db) << "; " << r.present
              << " already there";
    if (r.tagged) std::cout << " (" << r.tagged << " more now tagged " << common::terminal_safe(tag) << ")";
    std::cout << "; " << r.refused.size() << " refused";
    if (!r.not_recorded.empty()) std::cout << "; " << r.not_recorded.size() << " not recorded";
    std::cout << "\n";
    return r.refused.empty() && r.not_recorded.empty() ? 0 : 1;
}

}  // namespace suite_report
