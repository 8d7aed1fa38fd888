// suite-report check: for each program and configuration (machine,
// renderer, window size), the newest run against its baseline with the
// comparison's own statistics; exit 1 on a significant slowdown beyond the
// threshold. What a CI job runs after each build.
#include <algorithm>
#include <iostream>

#include "across.h"
#include "commands.h"
#include "number.h"
#include "present.h"
#include "text.h"

namespace store {

namespace {

struct Side {
    std::vector<report::Run> runs;  // kept alive: the analyses point at them
    std::vector<report::Analysis> analyses;
};

Side load(Db& db, const std::vector<const RunRow*>& rows) {
    Side s;
    s.runs.reserve(rows.size());
    for (const RunRow* r : rows) s.runs.push_back(run_from_frames(r->program, frames_of(db, r->id)));
    for (const auto& run : s.runs)
        if (!run.frames.empty()) s.analyses.push_back(report::analyse(run));
    return s;
}

// Per run, per frame: frame time (ms) or the per-frame values of rate i - 1.
std::vector<std::vector<double>> values(const Side& s, std::size_t figure) {
    std::vector<std::vector<double>> out;
    for (const auto& a : s.analyses) {
        if (figure == 0) {
            std::vector<double> ms;
            for (double v : a.seconds) ms.push_back(1000 * v);
            out.push_back(std::move(ms));
        } else if (figure - 1 < a.rates.size()) {
            out.push_back(a.rates[figure - 1].per_frame);
        }
    }
    return out;
}

// The newest run's baseline: the runs tagged --baseline, the --last N before
// it, or else the runs since the last step (in any figure) among those
// before it, all of them when there is none. `which` says which were taken.
std::vector<const RunRow*> choose_baseline(const Group& g, const CheckOptions& o,
                                           std::string& which) {
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
    std::vector<const RunRow*> base;
    for (std::size_t i = from; i < earlier; ++i)
        if (o.baseline_tag.empty() || g.runs[i].tag == o.baseline_tag) base.push_back(&g.runs[i]);
    which = std::to_string(base.size()) + " run(s), " + why;
    if (!base.empty())
        which += ": run " + std::to_string(base.front()->id) + " (" + base.front()->date +
                 ") to run " + std::to_string(base.back()->id) + " (" + base.back()->date + ")";
    return base;
}

}  // namespace

int run_check(const CheckOptions& o) {
    std::unique_ptr<Db> db;
    std::vector<Group> groups;
    try {
        db = open_store_read_only(o.db);
        groups = group_runs(find_runs(*db, {}));
    } catch (const StoreError& e) {
        std::cerr << "suite-report: cannot check: " << e.what() << "\n";
        return 2;
    }
    report::Table t;
    t.title = "check: the newest run of each configuration against its baseline (" +
              (!o.baseline_tag.empty() ? "the runs tagged " + o.baseline_tag
               : o.last > 0    ? "the last " + std::to_string(o.last) + " runs before it"
                               : "the runs since the last step before it") +
              "), failing beyond " + report::format_sig(o.threshold, 6) + "% worse";
    t.columns = {"program", "machine", "renderer", "size", "newest run", "figure", "baseline",
                 "new/base", "95% interval", "p", "verdict", "result"};
    t.left = 7;
    int failures = 0;
    std::vector<std::string> used;  // each group's baseline, said after the table
    report::CompareOptions options;
    try {
        for (const auto& g : groups) {
            const RunRow& newest = g.runs.back();
            std::string which;
            const auto base = choose_baseline(g, o, which);
            used.push_back(g.title() + ": " + which);
            std::vector<std::string> lead = {g.program, g.host, g.renderer, g.window_size,
                                             newest.date};
            if (base.empty()) {
                auto row = lead;
                row.insert(row.end(), {"-", "none", "", "", "", "", "no baseline"});
                t.rows.push_back(row);
                continue;
            }
            const Side a = load(*db, {&newest}), b = load(*db, base);
            const std::size_t figures = 1 + (a.analyses.empty() ? 0 : a.analyses[0].rates.size());
            for (std::size_t f = 0; f < figures; ++f) {
                const bool higher_is_better = f > 0;
                const std::string name = f == 0 ? "frame time (ms)" : a.analyses[0].rates[f - 1].name;
                const auto c = report::compare_figure(name, higher_is_better, values(a, f),
                                                      values(b, f), options);
                const double worse = higher_is_better ? 1 - c.ratio : c.ratio - 1;
                const bool fail = c.verdict == report::Verdict::slower && 100 * worse > o.threshold;
                failures += fail;
                auto row = lead;
                row.insert(row.end(),
                           {name, std::to_string(b.analyses.size()) + " runs",
                            report::format_fixed(c.ratio, 4),
                            report::format_fixed(c.interval.low, 4) + " .. " +
                                report::format_fixed(c.interval.high, 4),
                            report::format_fixed(c.test.p, 4), report::verdict_text(c.verdict),
                            fail ? "FAIL" : "ok"});
                t.rows.push_back(row);
            }
        }
    } catch (const StoreError& e) {
        std::cerr << "suite-report: cannot check: " << e.what() << "\n";
        return 2;
    }
    report::text_table(std::cout, t, "   ");
    for (const auto& line : used) std::cout << "   baseline of " << report::terminal_safe(line) << "\n";
    if (groups.empty()) std::cout << "no runs in " << display_url(o.db) << "\n";
    std::cout << (failures ? std::to_string(failures) + " figure(s) significantly worse beyond the threshold\n"
                           : std::string("no figure significantly worse beyond the threshold\n"));
    return failures ? 1 : 0;
}

}  // namespace store
