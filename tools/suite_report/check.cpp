// suite-report check: for each program and configuration (machine,
// renderer, window size), the newest run against its baseline with
// compare's own figures; exit 1 on a significant slowdown beyond the
// threshold, 3 when something could not be judged. What a CI job runs after
// each build.
#include <algorithm>
#include <cmath>
#include <deque>
#include <iostream>

#include "common/number.h"
#include "common/text.h"
#include "report/analysis/verdicts.h"
#include "report/output/ci_outputs.h"
#include "report/output/tables.h"
#include "report/output/writer.h"
#include "suite_report/commands.h"
#include "suite_report/judging.h"
#include "suite_report/store_tables.h"

namespace suite_report {

namespace {

// What compare holds side by side: the newest run as side A, its baseline as
// side B. The analyses point at the runs, which stay where they are.
struct Sides {
    std::deque<report::Run> runs;
    std::vector<report::Analysis> analyses;
    std::size_t baseline = 0;  // baseline runs with frames
    std::string newest_unreadable;  // why the newest run's frames cannot be judged
    std::vector<std::string> left_out;  // baseline runs whose frames cannot be read
};

// A stored figure no program prints makes its run no measure: the newest is
// not judged, a baseline run is left out, each named with the column.
Sides load(store::Db& db, const store::RunRow& newest, const std::vector<const store::RunRow*>& base) {
    Sides s;
    auto add = [&](const store::RunRow& r, const char* side) {
        std::string problem;
        s.runs.push_back(store::run_from_frames(r.program, store::frames_of(db, r.id), problem));
        if (!problem.empty()) {
            const std::string named = "run " + std::to_string(r.id) + " (" + r.date + "): " + problem;
            if (side[0] == 'A') s.newest_unreadable = named;
            else s.left_out.push_back(named);
            return;
        }
        if (s.runs.back().frames.empty()) return;
        s.analyses.push_back(report::analyse(s.runs.back()));
        s.analyses.back().side = side;
        s.baseline += side[0] == 'B';
    };
    add(newest, "A");
    for (const store::RunRow* r : base) add(*r, "B");
    return s;
}

// Why the newest run cannot be judged at all, or "".
std::string unjudged(const store::RunRow& newest, const std::vector<const store::RunRow*>& base,
                     std::size_t busy, const CheckOptions& o) {
    if (newest.frames == 0) return "the newest run has no frames";
    if (newest.exit_status && *newest.exit_status < 0)
        return "the newest run was ended by signal " + std::to_string(-*newest.exit_status);
    if (newest.exit_status && *newest.exit_status != 0)
        return "the newest run failed (exit status " + std::to_string(*newest.exit_status) + ")";
    if (!newest.complete) return "the newest run ended before its summary";
    if (!newest.busy.empty() && !o.allow_busy)
        return "inconclusive, the newest run was measured on a busy machine (" + newest.busy + ")";
    if (base.empty() && busy > 0)
        return (o.baseline_tag.empty() ? "every earlier run"
                                       : "every other run tagged " + o.baseline_tag) +
               std::string(" was measured on a busy machine (") + std::to_string(busy) +
               " run(s); --allow-busy takes them)";
    if (base.empty())
        return o.baseline_tag.empty() ? "no earlier run to compare with"
                                      : "no other run tagged " + o.baseline_tag;
    return "";
}

struct Tally {
    int failures = 0, unjudged = 0;
    std::vector<std::string> notes;  // said after the table
    std::vector<report::VerdictRow> rows;  // for --junit and --markdown
};

// The rows of one configuration, figure by figure as compare gives them.
void check_group(store::Db& db, const Group& g, const std::vector<const store::RunRow*>& base,
                 std::size_t busy, const CheckOptions& o, report::Table& t, Tally& n) {
    const store::RunRow& newest = g.runs.back();
    const std::vector<std::string> lead = {g.program, g.host,
                                           g.renderer_shown(),
                                           g.window_size, newest.date};
    auto not_judged = [&](const std::string& why) {
        auto row = lead;
        row.insert(row.end(), {"-", std::to_string(base.size()) + " runs", "", "", "", "",
                               "not judged: " + why});
        t.rows.push_back(row);
        ++n.unjudged;
        n.rows.push_back({g.title(), "-", "", "", "", "", "not judged: " + why,
                          report::VerdictRow::Outcome::skipped});
    };
    const Judgement j = judge_newest(db, g, base, busy, o);
    for (const auto& why : j.left_out)
        n.notes.push_back(g.title() + ": left out of the baseline, " + why);
    if (!j.not_judged.empty()) return not_judged(j.not_judged);
    for (const auto& c : j.figures) {
        const double worse = c.higher_is_better ? 1 - c.ratio : c.ratio - 1;
        const bool judged =
            c.verdict != report::Verdict::too_few && c.verdict != report::Verdict::inconclusive;
        const bool fail = c.verdict == report::Verdict::slower && 100 * worse > o.threshold;
        n.failures += fail;
        n.unjudged += !judged;
        auto row = lead;
        row.insert(row.end(),
                   {c.name, std::to_string(j.baseline_runs) + " runs", common::format_fixed(c.ratio, 4),
                    std::isnan(c.interval.low + c.interval.high)
                        ? "-"
                        : common::format_fixed(c.interval.low, 4) + " .. " +
                              common::format_fixed(c.interval.high, 4),
                    common::format_fixed(c.test.p, 4), report::verdict_text(c.verdict),
                    fail ? "FAIL" : judged ? "ok" : "not judged"});
        t.rows.push_back(row);
        const auto x = report::figure_cells(c, report::CompareOptions{}.practical_percent);
        n.rows.push_back({g.title(), x.name, x.average_b, x.average_a, x.ratio, x.interval,
                          x.verdict,
                          fail      ? report::VerdictRow::Outcome::fail
                          : judged ? report::VerdictRow::Outcome::pass
                                   : report::VerdictRow::Outcome::skipped});
    }
}

// The last line says which of the three outcomes it is.
int verdict(const Tally& n) {
    if (n.failures) {
        std::cout << "regression: " << n.failures
                  << " figure(s) significantly worse beyond the threshold";
        if (n.unjudged) std::cout << "; " << n.unjudged << " not judged";
        std::cout << "\n";
        return 1;
    }
    if (n.unjudged) {
        std::cout << "not judged: " << n.unjudged
                  << " figure(s) or configuration(s) could not be compared; the check does not "
                     "pass\n";
        return 3;
    }
    std::cout << "pass: no figure significantly worse beyond the threshold\n";
    return 0;
}

}  // namespace

std::vector<const store::RunRow*> choose_baseline(const Group& g, const CheckOptions& o,
                                           std::string& which, std::size_t& busy) {
    const std::size_t earlier = g.runs.size() - 1;
    std::size_t from = 0;
    std::string why;
    if (!o.baseline_tag.empty()) {
        why = "tagged " + o.baseline_tag;
    } else if (o.last > 0) {
        from = earlier - std::min<std::size_t>(earlier, static_cast<std::size_t>(o.last));
        why = "the last " + std::to_string(o.last) + " asked for";
    } else {
        std::vector<Group> before = {g};
        before[0].runs.pop_back();
        find_group_steps(before);
        for (const auto& st : before[0].steps) from = std::max(from, st.after);
        why = from ? "since the step of " + g.runs[from].date.substr(0, 10)
                   : "all before it, no step found";
    }
    std::vector<const store::RunRow*> base;
    busy = 0;
    for (std::size_t i = from; i < earlier; ++i) {
        if (!o.baseline_tag.empty() && g.runs[i].tag != o.baseline_tag) continue;
        // A run measured while others took the CPU is no level to hold a new run to.
        if (!g.runs[i].busy.empty() && !o.allow_busy) ++busy;
        else base.push_back(&g.runs[i]);
    }
    which = std::to_string(base.size()) + " run(s), " + why;
    if (busy) which += "; " + std::to_string(busy) + " busy run(s) left out";
    if (!base.empty())
        which += ": run " + std::to_string(base.front()->id) + " (" + base.front()->date +
                 ") to run " + std::to_string(base.back()->id) + " (" + base.back()->date + ")";
    return base;
}

Judgement judge_newest(store::Db& db, const Group& g, const std::vector<const store::RunRow*>& base,
                       std::size_t busy, const CheckOptions& o) {
    Judgement j;
    if (j.not_judged = unjudged(g.runs.back(), base, busy, o); !j.not_judged.empty()) return j;
    const Sides s = load(db, g.runs.back(), base);
    j.left_out = s.left_out;
    j.baseline_runs = s.baseline;
    if (!s.newest_unreadable.empty()) j.not_judged = "the stored frames of " + s.newest_unreadable;
    else if (s.baseline == 0) j.not_judged = "no baseline run has frames";
    if (!j.not_judged.empty()) return j;
    auto compared = report::compare_sides(s.analyses, report::CompareOptions{});
    if (compared.empty()) j.not_judged = "nothing to compare";
    else j.figures = std::move(compared.front().figures);
    return j;
}

namespace {

// A run dated more than a day after this machine's clock (`future`) is no
// newest run: a wrong clock would otherwise hold the check to it for good.
// Such runs are named and set aside; false when none is left to judge.
bool set_future_aside(Group& g, const std::string& future, Tally& n) {
    while (!g.runs.empty() && g.runs.back().date > future) {
        const store::RunRow& r = g.runs.back();
        n.notes.push_back(g.title() + ": run " + std::to_string(r.id) + " is dated in the future (" +
                          r.date + " UTC, more than a day after this machine's clock): not "
                          "taken as the newest");
        g.runs.pop_back();
    }
    if (!g.runs.empty()) return true;
    ++n.unjudged;
    n.rows.push_back({g.title(), "-", "", "", "", "", "not judged: every run is dated in the future",
                      report::VerdictRow::Outcome::skipped});
    return false;
}

// The files asked for and the terminal report, then the verdict: the exit status.
int finish_check(const CheckOptions& o, const report::Table& t, Tally& n,
                 const std::vector<std::string>& used, std::size_t groups) {
    if (groups == 0) {
        ++n.unjudged;
        n.rows.push_back({"store", "-", "", "", "", "", "not judged: no runs in the store",
                          report::VerdictRow::Outcome::skipped});
    }
    std::vector<report::Export> exports;
    exports.push_back(report::stream_export(
        o.junit, [&](std::ostream& s) { report::write_junit(s, "check", n.rows); }));
    exports.push_back(report::stream_export(
        o.markdown, [&](std::ostream& s) { report::write_markdown(s, t.title, n.rows); }));
    exports.push_back(report::terminal_export([&](std::ostream& s) {
        report::text_table(s, t, "   ");
        for (const auto& line : used) s << "   baseline of " << common::terminal_safe(line) << "\n";
        for (const auto& line : n.notes) s << "   " << common::terminal_safe(line) << "\n";
        if (groups == 0) s << "no runs in " << store::display_url(o.db) << "\n";
    }));
    const auto written = report::write_exports(exports, store_as_input(o.db));
    if (written.refused) return 2;
    // A failed write of a CI file is a check that cannot be trusted: not a pass.
    n.unjudged += written.failed;
    return verdict(n);
}

}  // namespace

int run_check(const CheckOptions& o) {
    report::Table t;
    t.title = "check: the newest run of each configuration against its baseline (" +
              (!o.baseline_tag.empty() ? "the runs tagged " + o.baseline_tag
               : o.last > 0    ? "the last " + std::to_string(o.last) + " runs before it"
                               : "the runs since the last step before it") +
              "), failing beyond " + common::format_sig(o.threshold, 6) + "% worse";
    t.columns = {"program", "machine", "renderer", "size", "newest run", "figure", "baseline",
                 "new/base", "95% interval", "p", "verdict", "result"};
    t.left = 7;
    Tally n;
    std::vector<std::string> used;  // each group's baseline, said after the table
    std::size_t groups = 0;
    try {
        auto db = store::open_store_read_only(o.db);
        const std::string future = future_limit();
        for (auto& g : group_runs(store::find_runs(*db, {}))) {
            ++groups;
            if (!set_future_aside(g, future, n)) continue;
            std::string which;
            std::size_t busy = 0;
            const auto base = choose_baseline(g, o, which, busy);
            used.push_back(g.title() + ": " + which);
            check_group(*db, g, base, busy, o, t, n);
        }
    } catch (const store::StoreError& e) {
        std::cerr << "suite-report: cannot check: " << e.what() << "\n";
        std::cout << "not judged: the store could not be read\n";
        return 3;
    }
    return finish_check(o, t, n, used, groups);
}

}  // namespace suite_report
