// suite-report summary RUN: what the end of a suite-run shows. The runs at a
// glance; each program against the last comparable run of this machine in
// the store; a page with the plots written into the run folder; and the
// command for the full report. Per-run detail stays in the report itself.
#include <deque>
#include <filesystem>
#include <iostream>
#include <map>
#include <tuple>

#include "common/text.h"
#include "report/core/repeats_and_sides.h"
#include "report/core/model.h"
#include "report/output/outputs.h"
#include "report/output/tables.h"
#include "suite_report/commands.h"

namespace fs = std::filesystem;

namespace store {

namespace {

// What makes two runs comparable, as the store's columns hold it.
struct Config {
    std::string program, host, renderer, window_size, variant;
    auto key() const { return std::tie(program, host, renderer, window_size, variant); }
    bool operator<(const Config& o) const { return key() < o.key(); }
    bool operator==(const Config& o) const { return key() == o.key(); }
};

Config config_of(const report::Run& run) {
    const auto& m = run.record;
    return {report::program_name(run.program), m.machine.host, m.gl.renderer, m.run.window_size.value_or(""),
            m.variant ? m.variant->name : ""};
}

// The overview, cut to what a reader takes in at a glance.
report::Table glance(const report::Model& m) {
    const report::Table all = report::overview_table(m);
    report::Table t;
    t.columns = {"program", "run", "status", "frames", "averages"};
    t.left = 5;
    for (const auto& row : all.rows) t.rows.emplace_back(row.begin(), row.begin() + 5);
    return t;
}

// The newest stored run of the configuration outside this run folder, from
// before it: one measured on a quiet machine if there is one, since a busy
// one is no level to judge by (against it the verdict is withheld).
const RunRow* earlier_run(const std::vector<RunRow>& rows, const Config& c,
                          const std::string& folder) {
    const RunRow *found = nullptr, *busy = nullptr;
    std::string first_of_this;  // the date this folder's first run is stored with
    for (const auto& r : rows) {
        if (r.program != c.program || r.host != c.host || r.renderer != c.renderer ||
            r.window_size != c.window_size || r.variant != c.variant)
            continue;
        const bool mine = r.folder.rfind(folder + "/", 0) == 0;
        if (mine && first_of_this.empty()) first_of_this = r.date;
        if (!mine && (first_of_this.empty() || r.date <= first_of_this))
            (r.busy.empty() ? found : busy) = &r;
    }
    return found ? found : busy;
}

// This folder's runs of the configuration (side A) against the earlier run
// (side B): the first rate, the average the program prints, as compare gives it.
std::vector<std::string> change_row(Db& db, const report::Model& m, const Config& c,
                              const RunRow& earlier) {
    std::deque<report::Run> kept;  // the analyses point at it
    std::vector<report::Analysis> sides;
    for (const auto& a : m.analyses) {
        if (!(config_of(*a.run) == c)) continue;
        sides.push_back(a);
        sides.back().side = "A";
    }
    kept.push_back(run_from_frames(earlier.program, frames_of(db, earlier.id)));
    sides.push_back(report::analyse(kept.back()));
    sides.back().side = "B";
    const std::string label = c.program + (c.variant.empty() ? "" : " [" + c.variant + "]");
    const std::string against = "run " + std::to_string(earlier.id) + " of " + earlier.date;
    const auto compared = report::compare_sides(sides, m.options);
    if (compared.empty() || compared.front().figures.empty())
        return {label, against, "-", "-", "-", "nothing to compare"};
    const auto& figures = compared.front().figures;
    const auto x = report::figure_cells(figures.size() > 1 ? figures[1] : figures[0],
                                        m.options.practical_percent);
    if (!earlier.busy.empty())
        return {label, against, x.name, x.ratio, x.interval,
                "inconclusive: run " + std::to_string(earlier.id) +
                    " was measured on a busy machine (" + earlier.busy + ")"};
    return {label, against, x.name, x.ratio, x.interval, x.verdict};
}

// Each program against its last comparable run, or why there is none.
void print_changes(const std::string& url, const report::Model& m, const std::string& folder) {
    std::map<Config, bool> configs;
    for (const auto& a : m.analyses) configs[config_of(*a.run)] = true;
    if (configs.empty()) return;
    report::Table t;
    t.title = "against the last comparable run of this machine (same renderer, size, variant)";
    t.columns = {"program", "earlier run", "figure", "this/earlier", "95% interval", "verdict"};
    t.left = 3;
    std::vector<std::string> none;
    try {
        auto db = open_store_read_only(url);
        const auto rows = find_runs(*db, {});
        for (const auto& [c, _] : configs) {
            if (const RunRow* earlier = earlier_run(rows, c, folder))
                t.rows.push_back(change_row(*db, m, c, *earlier));
            else
                none.push_back(c.program + (c.variant.empty() ? "" : " [" + c.variant + "]"));
        }
    } catch (const StoreError& e) {
        std::cout << "   no comparison with earlier runs: " << report::terminal_safe(e.what())
                  << "\n";
        return;
    }
    if (!t.rows.empty()) report::text_table(std::cout, t, "   ");
    if (!none.empty()) {
        std::string names;
        for (const auto& n : none) names += (names.empty() ? "" : ", ") + n;
        std::cout << "   no earlier comparable run in the store for " << report::terminal_safe(names)
                  << "\n";
    }
}

}  // namespace

int run_summary(const std::string& url, const std::string& run_folder) {
    const report::Model m = report::build_model({run_folder});
    std::cout << "== summary\n";
    for (const auto& d : m.all_diagnostics())
        if (d.level == report::Diagnostic::Level::error)
            std::cout << "   " << report::terminal_safe(to_string(d)) << "\n";
    if (m.runs.empty()) return 1;  // nothing to show, nor to put on a page
    report::text_table(std::cout, glance(m), "   ");
    std::error_code ec;
    const std::string folder = fs::weakly_canonical(fs::absolute(run_folder), ec).string();
    print_changes(url, m, folder);
    int status = m.has_errors() ? 1 : 0;
    // A link or a folder planted where the page goes is not written through.
    const fs::path page = fs::path(run_folder) / "report.html";
    const auto kind = fs::symlink_status(page, ec).type();
    if (kind != fs::file_type::not_found && kind != fs::file_type::regular) {
        std::cout << "   page not written: " << report::terminal_safe(page.string())
                  << " is there and is not a plain file\n";
        status = 1;
    } else {
        std::vector<std::string> problems;
        if (report::write_page_with_plots(page.string(), m, problems))
            std::cout << "   page with plots: " << report::terminal_safe(page.string()) << "\n";
        else
            status = 1;
        for (const auto& p : problems) std::cout << "   " << report::terminal_safe(p) << "\n";
    }
    std::cout << "   full report: suite-report "
              << report::terminal_safe(report::shell_quoted(run_folder)) << "\n";
    return status;
}

}  // namespace store
