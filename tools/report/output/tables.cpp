#include "report/output/tables.h"

#include "report/reading/machine_load.h"

#include <algorithm>
#include <cmath>

#include "common/number.h"

namespace report {

namespace {
std::string rate_text(double v) { return common::format_sig(v, 6); }

std::string ending_text(const Run& run) {
    if (run.failed()) return "unreadable: see the errors";
    if (!run.complete) return "cut off before its end (killed?)";
    switch (run.summary.ending) {
        case Ending::size_limit: return "complete, stopped at its size limit";
        case Ending::esc: return "complete, ended with Esc";
        case Ending::none: break;
    }
    return "complete";
}

std::string labels(const std::vector<const Analysis*>& runs) {
    std::string text;
    for (const Analysis* a : runs) text += (text.empty() ? "" : ", ") + a->run->label;
    return text;
}

std::string plural(std::size_t n, const char* word) {
    return std::to_string(n) + " " + word + (n == 1 ? "" : "s");
}

// Bounds on what metadata shows: a hostile file could otherwise make
// millions of entries, each repeating a long key.
constexpr std::size_t max_facts = 200, max_text = 300;

std::string clipped(const std::string& s) {
    return s.size() <= max_text ? s : s.substr(0, max_text) + "...";
}

void flatten(const nlohmann::json& j, const std::string& key, Facts& out, std::size_t& more) {
    if (j.is_object()) {
        for (auto it = j.begin(); it != j.end(); ++it)
            flatten(it.value(), clipped(key.empty() ? it.key() : key + "." + it.key()), out, more);
        return;
    }
    if (j.is_string() && j.get_ref<const std::string&>().empty()) return;
    if (out.size() >= max_facts) {
        ++more;
        return;
    }
    out.emplace_back(key, clipped(j.is_string() ? j.get<std::string>()
                                                : j.dump(-1, ' ', false,
                                                         nlohmann::json::error_handler_t::replace)));
}
}  // namespace

std::string milliseconds(double seconds) { return common::format_fixed(seconds * 1000, 1); }

Facts run_facts(const Run& run, const Analysis* a) {
    Facts f;
    f.emplace_back("file", run.path);
    if (!run.banner.empty()) f.emplace_back("banner", run.banner);
    f.emplace_back("status", ending_text(run));
    if (run.exit_status) f.emplace_back("exit status", std::to_string(*run.exit_status));
    if (run.init_seconds)
        f.emplace_back("initialisation", common::format_printed(run.init_seconds->value) + " s");
    if (run.plain_seconds && run.plain_rate)
        f.emplace_back("plain output", common::format_printed(run.plain_seconds->value) + " s, " +
                                           common::format_printed(run.plain_rate->value) +
                                           " Characters/sec");
    if (!a) return f;
    std::string total = common::format_printed(a->total_seconds) + " s over " +
                        plural(a->frame_time.n, "frame");
    if (const auto& t = run.summary.total_seconds)
        total += "; the summary says " + common::format_printed(t->value) + " s" +
                 (a->total_agrees ? "" : " (DISAGREES)");
    f.emplace_back("measured", total);
    if (std::isfinite(a->first_frame_excess) && a->total_seconds > 0)
        f.emplace_back("first frame", common::format_sig(1000 * a->first_frame_excess, 4) +
                                          " ms over the median of the rest (" +
                                          common::format_fixed(100 * a->first_frame_excess / a->total_seconds, 1) +
                                          "% of the measured time)");
    if (run.program == Program::cube && std::isfinite(a->points_per_frame))
        f.emplace_back("points a frame", common::format_sig(a->points_per_frame, 10));
    return f;
}

Facts metadata_facts(const nlohmann::json& metadata) {
    Facts f;
    std::size_t more = 0;
    if (!metadata.is_null()) flatten(metadata, "", f, more);
    if (more) f.emplace_back("...", std::to_string(more) + " more entries not shown");
    return f;
}

Table frame_time_table(const Analysis& a) {
    Table t;
    t.title = "frame time (ms)";
    t.columns = {"frames", "mean", "median", "min", "max", "sd", "p95", "p99"};
    t.left = 0;
    const auto& d = a.frame_time;
    t.rows.push_back({std::to_string(d.n), milliseconds(d.mean), milliseconds(d.median),
                      milliseconds(d.min), milliseconds(d.max), milliseconds(d.sd),
                      milliseconds(d.p95), milliseconds(d.p99)});
    // What a frame cost the CPU, and what else ran, where the runner recorded it.
    if (const auto load = machine_load(*a.run)) {
        t.columns.insert(t.columns.end(), {"CPU ms/frame", "other load"});
        t.rows.back().push_back(load->program_ms_per_frame
                                    ? common::format_fixed(*load->program_ms_per_frame, 1)
                                    : "-");
        t.rows.back().push_back(load->what + (load->busy ? ": BUSY" : ""));
    }
    return t;
}

Table rate_table(const Analysis& a) {
    Table t;
    t.title = "rates";
    t.columns = {"rate", "average", "summary says", "median", "1% low", "0.1% low"};
    for (const auto& r : a.rates) {
        std::string printed = "-";
        if (r.printed_average)
            printed = common::format_printed(r.printed_average->value) +
                      (r.average_agrees ? " (agrees)" : " (DISAGREES)");
        t.rows.push_back({r.name, rate_text(r.average), printed, rate_text(r.median),
                          rate_text(r.low_1), rate_text(r.low_01)});
    }
    return t;
}

Table throughput_table(const Analysis& a) {
    Table t;
    t.title = "triangles per second against triangles per frame";
    t.columns = {"triangles/frame", "frames", "mean frame (ms)", "Triangles/sec"};
    t.left = 0;
    for (const auto& r : a.throughput) {
        std::string size = common::format_sig(r.triangles_low, 10);
        if (r.triangles_high != r.triangles_low) size += " - " + common::format_sig(r.triangles_high, 10);
        t.rows.push_back({size, std::to_string(r.frames), milliseconds(r.mean_seconds),
                          rate_text(r.triangles_per_second)});
    }
    return t;
}

std::string group_title(const RepeatGroup& g) {
    std::string title = std::string(program_name(g.program)) + ": " +
                        plural(g.runs.size(), "run") + " taken as repeats";
    return g.side.empty() ? title : "side " + g.side + ", " + title;
}

Table spread_table(const RepeatGroup& g) {
    Table t;
    t.title = group_title(g);
    t.notes = {"runs: " + labels(g.runs)};
    t.columns = {"figure", "runs", "mean", "sd", "CV %", "min", "max"};
    for (const auto& f : g.figures) {
        const auto& s = f.spread;
        t.rows.push_back({f.name, std::to_string(s.n), common::format_sig(s.mean, 6), common::format_sig(s.sd, 4),
                          common::format_fixed(100 * s.cv, 2), common::format_sig(s.min, 6),
                          common::format_sig(s.max, 6)});
    }
    return t;
}

std::string comparison_title(const ProgramComparison& c) {
    return std::string(program_name(c.program)) + ": A (" + plural(c.a.size(), "run") +
           ") against B (" + plural(c.b.size(), "run") + ")";
}

std::string comparison_unit_note(const ProgramComparison& c) {
    if (c.figures.empty()) return "";
    const FigureComparison& f = c.figures.front();  // every figure has the same runs
    return judged_on(f.unit, f.runs_a, f.runs_b);
}

namespace {
std::string p_text(double p) { return std::isnan(p) ? "-" : common::format_sig(p, 3); }

}  // namespace

FigureCells figure_cells(const FigureComparison& f, double practical_percent) {
    const bool time = !f.higher_is_better;
    auto value = [&](double v) { return time ? common::format_fixed(v * 1000, 3) : rate_text(v); };
    return {time ? f.name + " (ms)" : f.name,
            value(f.average_a),
            value(f.average_b),
            common::format_fixed(f.ratio, 4),
            std::isnan(f.interval.low + f.interval.high)
                ? "-"
                : common::format_fixed(f.interval.low, 4) + " .. " + common::format_fixed(f.interval.high, 4),
            verdict_shown(f, practical_percent)};
}

std::string interval_column(double confidence) {
    return common::format_sig(100 * confidence, 4) + "% interval";
}

Table comparison_table(const ProgramComparison& c, const CompareOptions& options) {
    const double practical_percent = options.practical_percent;
    Table t;
    t.title = comparison_title(c);
    // Labels carry their side.
    t.notes = {"runs: " + labels(c.a) + "; " + labels(c.b), comparison_unit_note(c)};
    t.columns = {"figure", "frames A", "frames B", "average A", "average B", "A/B",
                 interval_column(options.confidence), "p", "A is", "medians A/B", "rank p"};
    for (const auto& f : c.figures) {
        const auto x = figure_cells(f, practical_percent);
        t.rows.push_back({x.name, std::to_string(f.n_a), std::to_string(f.n_b), x.average_a,
                          x.average_b, x.ratio, x.interval, p_text(f.test.p), x.verdict,
                          common::format_fixed(f.median_ratio, 4), p_text(f.ranks.p)});
    }
    return t;
}

Table runner_clock_table(const Analysis& a) {
    Table t;
    if (!a.runner || a.runner->paired == 0) return t;
    const RunnerClock& c = *a.runner;
    t.title = "frame time beside the runner's clock (ms)";
    t.notes = {"the runner's interval runs from one frame's report line to the next: a frame "
               "period, the time between frames included. Beyond " +
             common::format_fixed(1000 * c.tolerance, 0) + " ms (the 1 ms clock plus the pipe): " +
             std::to_string(c.beyond) + " of " + std::to_string(c.paired) + " frames"};
    t.columns = {"clock", "frames", "mean", "median", "p99"};
    t.rows.push_back({"printed by the program", std::to_string(c.paired),
                      common::format_fixed(1000 * c.printed.mean, 3), common::format_fixed(1000 * c.printed.median, 3),
                      common::format_fixed(1000 * c.printed.p99, 3)});
    t.rows.push_back({"runner's interval", std::to_string(c.paired),
                      common::format_fixed(1000 * c.runner.mean, 3), common::format_fixed(1000 * c.runner.median, 3),
                      common::format_fixed(1000 * c.runner.p99, 3)});
    auto diff = [&](double r, double p, bool beyond) {
        return common::format_fixed(1000 * (r - p), 3) + (beyond ? " beyond" : "");
    };
    t.rows.push_back({"runner - program", "", diff(c.runner.mean, c.printed.mean, c.mean_beyond),
                      diff(c.runner.median, c.printed.median, c.median_beyond),
                      diff(c.runner.p99, c.printed.p99, c.p99_beyond)});
    return t;
}

std::vector<const Run*> runs_in_program_order(const Model& m) {
    std::vector<const Run*> runs;
    for (const auto& r : m.runs) runs.push_back(&r);
    std::stable_sort(runs.begin(), runs.end(), [](const Run* x, const Run* y) {
        auto rank = [](const Run* r) { return r->banner.empty() ? 3 : static_cast<int>(r->program); };
        return rank(x) < rank(y);
    });
    return runs;
}

void mark_software(Table& t, const std::vector<const Run*>& runs) {
    const auto software = [](const Run* r) { return record::rendered_in_software(r->record.gl) == true; };
    if (std::none_of(runs.begin(), runs.end(), software)) return;
    t.columns.push_back("GL");
    for (std::size_t i = 0; i < runs.size() && i < t.rows.size(); ++i)
        t.rows[i].push_back(software(runs[i]) ? "software" : "");
}

std::size_t problem_count(const Model& m, const Run& run) {
    std::size_t n = 0;
    for (const auto& d : m.diagnostics_of(run)) n += d.level != Diagnostic::Level::note;
    return n;
}

Table overview_table(const Model& m) {
    Table t;
    t.columns = {"program", "run", "status", "frames", "averages", "mean (ms)", "median (ms)",
                 "p99 (ms)", "warnings"};
    t.left = 5;
    for (const Run* each : runs_in_program_order(m)) {
        const Run& run = *each;
        const Analysis* a = m.analysis_of(run);
        std::string status = run.failed() ? "unreadable" : !run.complete ? "cut off" : "complete";
        if (run.complete && run.summary.ending == Ending::size_limit) status += ", size limit";
        if (run.exit_status && *run.exit_status != 0)
            status += *run.exit_status < 0 ? ", signal " + std::to_string(-*run.exit_status)
                                           : ", exit " + std::to_string(*run.exit_status);
        std::vector<std::string> row = {run.banner.empty() ? "?" : program_name(run.program),
                                        run.label, status};
        if (a && a->frame_time.n) {
            std::string averages;
            for (const auto& r : a->rates)
                averages += (averages.empty() ? "" : ", ") + r.name + " " + rate_text(r.average);
            row.insert(row.end(), {std::to_string(a->frame_time.n), averages,
                                   common::format_fixed(1000 * a->frame_time.mean, 3),
                                   milliseconds(a->frame_time.median), milliseconds(a->frame_time.p99)});
        } else {
            row.insert(row.end(), {"0", "-", "-", "-", "-"});
        }
        row.push_back(std::to_string(problem_count(m, run)));
        t.rows.push_back(std::move(row));
    }
    mark_software(t, runs_in_program_order(m));
    return t;
}

Table verdict_table(const Model& m) {
    Table t;
    if (!m.comparing) return t;
    t.title = m.sides_title;
    t.columns = {"program", "figure", "average A", "average B", "A/B",
                 interval_column(m.options.confidence), "A is"};
    t.left = 2;
    for (const auto& c : m.comparisons)
        t.notes.push_back(std::string(program_name(c.program)) + ": " + comparison_unit_note(c));
    for (const auto& c : m.comparisons)
        for (const auto& f : c.figures) {
            const auto x = figure_cells(f, m.options.practical_percent);
            t.rows.push_back({program_name(c.program), x.name, x.average_a, x.average_b, x.ratio,
                              x.interval, x.verdict});
        }
    return t;
}

}  // namespace report
