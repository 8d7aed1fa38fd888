// suite-report site: the store as a static site. The matrix of machines and
// configurations against programs, each cell judged as check judges it.
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <map>
#include <set>

#include "common/dates.h"
#include "common/number.h"
#include "common/text.h"
#include "report/stats/compare.h"
#include "report/output/site_pages.h"
#include "report/output/writer.h"
#include "suite_report/change_ids.h"
#include "suite_report/judging.h"
#include "suite_report/site.h"
#include "suite_report/site_compare.h"
#include "suite_report/site_folder.h"

namespace fs = std::filesystem;

namespace suite_report {

namespace {


void complain(const std::string& message) {
    std::cerr << "suite-report: " << common::terminal_safe(message) << "\n";
}

// A run's headline: the average of its first rate, as the program prints it.
double headline(const store::RunRow& r) {
    return !r.rates.empty() && r.rates[0].second ? *r.rates[0].second : NAN;
}

std::string percent(double ratio) {
    return (ratio >= 1 ? "+" : "") + common::format_fixed(100 * (ratio - 1), 1) + "%";
}

// The figure the cell shows: the headline's, else the first judged.
const report::FigureComparison* headline_figure(const Judgement& j, const Group& g) {
    for (const auto& f : j.figures)
        if (!g.runs.back().rates.empty() && f.name == g.runs.back().rates[0].first) return &f;
    return j.figures.empty() ? nullptr : &j.figures.front();
}

void judge_cell(store::Db& db, const Group& g, const SiteOptions& o, report::SiteCell& c) {
    using Mark = report::SiteCell::Mark;
    CheckOptions check;
    check.baseline_tag = o.baseline_tag;
    std::string which;
    std::size_t busy = 0;
    const auto base = choose_baseline(g, check, which, busy);
    const Judgement j = judge_newest(db, g, base, busy, check);
    const report::FigureComparison* f = headline_figure(j, g);
    if (!g.runs.back().busy.empty()) {
        c.mark = Mark::busy;
        c.change = "busy: " + g.runs.back().busy;
    } else if (!j.not_judged.empty() || !f) {
        c.mark = Mark::not_judged;
        c.change = j.not_judged.empty() ? "nothing to compare" : j.not_judged;
    } else {
        const double practical = report::CompareOptions{}.practical_percent;
        c.change = percent(f->ratio) + " " + report::verdict_shown(*f, practical);
        c.mark = f->verdict == report::Verdict::faster   ? Mark::better
                 : f->verdict == report::Verdict::slower ? Mark::worse
                 : f->verdict == report::Verdict::inconclusive || f->verdict == report::Verdict::too_few
                     ? Mark::inconclusive
                     : Mark::none;
        c.changed = c.mark == Mark::better || c.mark == Mark::worse;
    }
}

using Triaged = std::map<std::string, store::Triage>;

// A change whose newest step was triaged invalid or fixed is no longer one
// to look at; its state is shown all the same.
void apply_triage(const Group& g, const Triaged& triaged, report::SiteCell& c) {
    const GroupStep* newest = nullptr;
    for (const auto& st : g.steps)
        if (!newest || st.after > newest->after) newest = &st;
    const std::string state = newest ? state_of(triaged, g, *newest) : "";
    if (state.empty()) return;
    c.change += " (last change point: " + state + ")";
    if (state == "invalid" || state == "fixed") c.changed = false;
}

report::SiteCell cell_of(store::Db& db, const Group& g, const SiteOptions& o, const Triaged& triaged) {
    report::SiteCell c;
    c.present = true;
    for (const auto& r : g.runs) {
        c.trend.push_back(headline(r));
        c.busy.push_back(!r.busy.empty());
        if (r.busy.empty() && std::isfinite(headline(r)))
            c.average = common::format_sig(headline(r), 4) + " " + r.rates[0].first;
    }
    judge_cell(db, g, o, c);
    apply_triage(g, triaged, c);
    return c;
}

report::SiteMatrix matrix_of(store::Db& db, const std::vector<Group>& groups, const SiteOptions& o,
                             const Triaged& triaged) {
    report::SiteMatrix m;
    m.store = store::display_url(o.db);
    m.generated = common::utc_now("%Y-%m-%d %H:%M UTC");
    m.baseline = o.baseline_tag.empty() ? "its level since the last change point"
                                        : "the runs tagged " + o.baseline_tag;
    std::set<std::string> programs;
    for (const auto& g : groups) programs.insert(g.program);
    m.programs.assign(programs.begin(), programs.end());
    std::map<std::vector<std::string>, report::SiteRow> rows;
    for (const auto& g : groups) {
        auto& row = rows[{g.host, g.renderer_shown(), g.window_size, g.variant}];
        row.machine = g.host;
        row.renderer = g.renderer_shown();
        row.window_size = g.window_size;
        row.variant = g.variant;
        row.cells.resize(m.programs.size());
        const auto at = std::distance(programs.begin(), programs.find(g.program));
        row.cells[static_cast<std::size_t>(at)] = cell_of(db, g, o, triaged);
        row.cells[static_cast<std::size_t>(at)].link = "series/" + series_id(g) + ".html";
    }
    for (auto& [key, row] : rows) m.rows.push_back(std::move(row));
    for (const auto& t : triages_not_found(triaged, groups, !o.since.empty()))
        m.lost.push_back(t.change + ": " + t.state + ", \"" + t.note + "\" (" + t.user + ", " +
                         t.at + " UTC)");
    return m;
}

// A file of a generation, written plainly: no reader sees the generation
// before it is whole and synced (sync_generation), so no file needs its own
// rename and flush.
template <class Write>
bool write_file(const std::string& path, Write write) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    write(out);
    out.close();
    if (!out) complain("cannot write " + path + ": " + std::strerror(errno));
    return bool(out);
}

double time_ms(const store::RunRow& r) {
    const auto when = common::read_utc(r.date);
    return when ? 1000.0 * static_cast<double>(*when) : NAN;
}

// The interval of a run's headline: compare's batches of its consecutive
// frames, each batch's own average one value.
report::Interval run_interval(const std::vector<store::StoredFrame>& frames) {
    report::RatioRun run;
    for (const auto& f : frames) {
        const double seconds = std::strtod(f.seconds.c_str(), nullptr);
        run.numerator.push_back(std::strtod(f.first_rate.c_str(), nullptr) * seconds);
        run.denominator.push_back(seconds);
    }
    std::vector<double> batches;
    for (const auto& b : report::batch_sums(run, report::batch_count(run.numerator.size())))
        batches.push_back(b.numerator / b.denominator);
    return report::mean_interval(batches);
}

std::string run_id(const store::RunRow& r) { return std::to_string(r.id); }

// A run's page with its frames, which were read once for its interval too.
bool write_run(const std::string& folder, const store::RunRow& r, const std::string& series,
               const std::vector<store::StoredFrame>& frames) {
    report::RunPage page;
    page.title = r.program + " on " + r.host + ", " + r.date + " UTC";
    page.series_link = "../series/" + series + ".html";
    page.data_file = run_id(r) + ".js";
    std::error_code ec;
    // A run folder is usually on the machine that ran it: linked only when it
    // is here. The report is in the run folder, above the program's.
    for (const fs::path& dir : {fs::path(r.folder), fs::path(r.folder).parent_path()})
        if (!r.folder.empty() && page.report_link.empty() &&
            fs::is_regular_file(dir / "report.html", ec))
            page.report_link = "file://" + common::percent_encoded(
                                               fs::absolute(dir / "report.html").string(), "/");
    page.facts = {{"program", r.program}, {"date (UTC)", r.date}, {"machine", r.host},
                  {"renderer", r.renderer}, {"window size", r.window_size},
                  {"variant", r.variant}, {"tag", r.tag}, {"suite version", r.suite_version},
                  {"frames", std::to_string(r.frames)}, {"results file", r.results_name},
                  {"hash", r.hash}};
    page.facts.insert(page.facts.end(), r.facts.begin(), r.facts.end());
    page.load = r.load.empty() ? "not recorded" : (r.busy.empty() ? "quiet: " : "busy: ") + r.load;
    for (const auto& f : frames) page.frame_ms.push_back(1000 * std::strtod(f.seconds.c_str(), nullptr));
    const fs::path dir = fs::path(folder) / "runs";
    return write_file((dir / page.data_file).string(),
                            [&](std::ostream& s) { report::write_run_data(s, page); }) &&
           write_file((dir / (run_id(r) + ".html")).string(),
                            [&](std::ostream& s) { report::write_run_page(s, page); });
}

report::SeriesPage series_of(store::Db& db, const std::string& folder, const Group& g,
                             const std::string& id, const Triaged& triaged, bool& ok) {
    report::SeriesPage s;
    s.title = g.title();
    s.figure = g.runs.back().rates.empty() ? "average" : g.runs.back().rates[0].first;
    s.data_file = id + ".js";
    for (const auto& r : g.runs) {
        const auto frames = store::frames_of(db, r.id);
        ok = ok && write_run(folder, r, id, frames);
        if (!std::isfinite(headline(r)) || !std::isfinite(time_ms(r))) continue;
        const auto in = run_interval(frames);
        s.points.push_back({time_ms(r), headline(r), std::isfinite(in.low) ? in.low : headline(r),
                            std::isfinite(in.high) ? in.high : headline(r), !r.busy.empty(),
                            r.date, "../runs/" + run_id(r) + ".html"});
    }
    for (const auto& st : g.steps) {
        const store::RunRow& after = g.runs[st.after];
        // The trend draws the headline: only its steps are annotated on it.
        s.notes.push_back({time_ms(after), !after.busy.empty(), st.figure == s.figure,
                           change_id(g, st), st.label, state_of(triaged, g, st)});
    }
    return s;
}

bool write_series(store::Db& db, const std::string& folder, const Group& g, const std::string& id,
                  const Triaged& triaged) {
    bool ok = true;
    const auto page = series_of(db, folder, g, id, triaged, ok);
    const fs::path dir = fs::path(folder) / "series";
    return ok &&
           write_file((dir / (id + ".js")).string(),
                            [&](std::ostream& s) { report::write_series_data(s, page); }) &&
           write_file((dir / (id + ".html")).string(),
                            [&](std::ostream& s) { report::write_series_page(s, page); });
}

// The pages of one generation; false once one could not be written.
bool write_site(store::Db& db, const std::string& folder, const SiteOptions& o) {
    auto groups = group_runs(store::find_runs(db, {"", "", "", o.since}));
    find_group_steps(groups);
    const auto triaged = triages_by_change(db);
    auto matrix = matrix_of(db, groups, o, triaged);
    std::error_code ec;
    fs::create_directory(fs::path(folder) / "series", ec);
    fs::create_directory(fs::path(folder) / "runs", ec);
    const auto not_copied = report::copy_chart_library(folder);
    if (not_copied) complain(*not_copied);
    bool ok = !not_copied;
    for (const auto& g : groups) ok = ok && write_series(db, folder, g, series_id(g), triaged);
    ok = ok && write_comparisons(db, folder, groups);
    return ok && write_file((fs::path(folder) / "index.html").string(),
                                  [&](std::ostream& s) { report::write_matrix_page(s, matrix); });
}

}  // namespace

int run_site(const SiteOptions& o) {
    if (const auto why = site_refusal(o.out)) {
        complain(*why);
        return 2;
    }
    std::string error;
    std::optional<std::string> generation;
    try {
        auto db = store::open_store_read_only(o.db);
        generation = new_generation(o.out, error);
        if (!generation) {
            complain(error);
            return 1;
        }
        if (!write_site(*db, *generation, o)) {
            discard_generation(*generation);
            return 1;
        }
    } catch (const store::StoreError& e) {
        // The site before stays as it was.
        if (generation) discard_generation(*generation);
        complain(std::string("cannot write the site: ") + e.what());
        return 1;
    }
    if (const auto why = publish_generation(o.out, *generation)) {
        discard_generation(*generation);
        complain(*why);
        return 1;
    }
    std::cout << "site written: " << common::terminal_safe(o.out) << "/index.html\n";
    return 0;
}

}  // namespace suite_report
