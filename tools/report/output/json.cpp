#include <cmath>

#include "report/reading/machine_load.h"
#include "report/output/outputs.h"
#include "report/output/tables.h"

namespace report {

namespace {

using nlohmann::json;

json number(double v) { return std::isfinite(v) ? json(v) : json(nullptr); }

json printed(const std::optional<Figure>& f) {
    if (!f) return nullptr;
    return {{"value", number(f->value)}, {"line", f->line}};
}

json diagnostic(const Diagnostic& d) {
    return {{"level", level_name(d.level)}, {"file", d.file}, {"line", d.line},
            {"message", d.message}};
}

json distribution(const Distribution& d) {
    return {{"n", d.n},          {"mean", number(d.mean)}, {"median", number(d.median)},
            {"min", number(d.min)}, {"max", number(d.max)}, {"sd", number(d.sd)},
            {"p95", number(d.p95)}, {"p99", number(d.p99)}};
}

const char* ending_name(const Run& r) {
    if (!r.complete) return "cut";
    return r.summary.ending == Ending::size_limit ? "size-limit" : "esc";
}

json analysis_json(const Analysis& a) {
    json rates = json::array();
    for (const auto& r : a.rates)
        rates.push_back({{"name", r.name},
                         {"average", number(r.average)},
                         {"summary", printed(r.printed_average)},
                         {"summary_agrees", r.average_agrees},
                         {"median", number(r.median)},
                         {"low_1_percent", number(r.low_1)},
                         {"low_0_1_percent", number(r.low_01)}});
    json j = {{"frame_time_seconds", distribution(a.frame_time)},
              {"total_seconds", number(a.total_seconds)},
              {"first_frame_excess_seconds", number(a.first_frame_excess)},
              {"total_agrees", a.total_agrees},
              {"rates", rates},
              {"frames_zero_ms", a.frames_zero_ms},
              {"frames_within_1ms", a.frames_within_1ms},
              {"coarse_clock", a.coarse},
              {"runner_clock", nullptr}};
    if (a.runner) {
        const RunnerClock& c = *a.runner;
        j["runner_clock"] = {{"rows", c.rows},
                             {"paired", c.paired},
                             {"tolerance_seconds", c.tolerance},
                             {"printed_seconds", distribution(c.printed)},
                             {"interval_seconds", distribution(c.runner)},
                             {"frames_beyond_tolerance", c.beyond},
                             {"first_frame_beyond", c.first_beyond},
                             {"mean_beyond", c.mean_beyond},
                             {"median_beyond", c.median_beyond},
                             {"p99_beyond", c.p99_beyond}};
    }
    if (a.run->program == Program::cube) j["points_per_frame"] = number(a.points_per_frame);
    if (a.run->program == Program::triangles) {
        json rows = json::array();
        for (const auto& t : a.throughput)
            rows.push_back({{"triangles_low", number(t.triangles_low)},
                            {"triangles_high", number(t.triangles_high)},
                            {"frames", t.frames},
                            {"mean_seconds", number(t.mean_seconds)},
                            {"triangles_per_second", number(t.triangles_per_second)}});
        j["throughput"] = rows;
    }
    return j;
}

json run_json(const Run& r, const Analysis* a) {
    json j = {{"label", r.label},
              {"path", r.path},
              {"program", program_name(r.program)},
              {"banner", r.banner},
              {"readable", !r.failed()},
              {"ending", r.failed() ? "unreadable" : ending_name(r)},
              {"frames", r.frames.size()},
              {"init_seconds", printed(r.init_seconds)},
              {"summary_total_seconds", printed(r.summary.total_seconds)},
              {"metadata", r.metadata}};
    if (r.exit_status) j["exit_status"] = *r.exit_status;
    const auto software = record::rendered_in_software(r.record.gl);
    j["rendered_in_software"] = software ? json(*software) : json(nullptr);
    if (r.program == Program::screens)
        j["plain_output"] = {{"seconds", printed(r.plain_seconds)},
                             {"characters_per_second", printed(r.plain_rate)}};
    if (const auto load = machine_load(r))
        j["machine_load"] = {{"busy", load->busy},
                             {"others_cores", load->others_cores},
                             {"cores", load->cores},
                             {"steal_share", load->steal_share},
                             {"program_cpu_ms_per_frame", load->program_ms_per_frame
                                                              ? json(*load->program_ms_per_frame)
                                                              : json(nullptr)}};
    if (a) {
        j["side"] = a->side;
        j["analysis"] = analysis_json(*a);
    }
    return j;
}

json label_list(const std::vector<const Analysis*>& runs) {
    json j = json::array();
    for (const Analysis* a : runs) j.push_back(a->run->label);
    return j;
}

json group_json(const RepeatGroup& g) {
    json figures = json::array();
    for (const auto& f : g.figures) {
        json values = json::array();
        for (double v : f.values) values.push_back(number(v));
        figures.push_back({{"name", f.name},
                           {"values", values},
                           {"mean", number(f.spread.mean)},
                           {"sd", number(f.spread.sd)},
                           {"cv", number(f.spread.cv)},
                           {"min", number(f.spread.min)},
                           {"max", number(f.spread.max)}});
    }
    return {{"program", program_name(g.program)},
            {"side", g.side},
            {"runs", label_list(g.runs)},
            {"figures", figures}};
}

json figure_json(const FigureComparison& f, double practical_percent) {
    return {{"name", f.name},
            {"unit", f.higher_is_better ? f.name : "seconds"},
            {"higher_is_better", f.higher_is_better},
            {"frames_a", f.n_a},
            {"frames_b", f.n_b},
            {"runs_a", f.runs_a},
            {"runs_b", f.runs_b},
            {"judged_on", unit_name(f.unit)},
            {"units_a", f.test.units_a},
            {"units_b", f.test.units_b},
            {"average_a", number(f.average_a)},
            {"average_b", number(f.average_b)},
            {"ratio", number(f.ratio)},
            {"interval", {number(f.interval.low), number(f.interval.high)}},
            {"p", number(f.test.p)},
            {"welch", {{"t", number(f.test.t)}, {"df", number(f.test.df)}}},
            {"median_a", number(f.median_a)},
            {"median_b", number(f.median_b)},
            {"median_ratio", number(f.median_ratio)},
            {"median_interval", {number(f.median_interval.low), number(f.median_interval.high)}},
            {"mann_whitney_u", number(f.ranks.u)},
            {"mann_whitney_z", number(f.ranks.z)},
            {"mann_whitney_p", number(f.ranks.p)},
            {"verdict", verdict_shown(f, practical_percent)}};
}

json comparison_json(const Model& m) {
    json comparisons = json::array();
    for (const auto& c : m.comparisons) {
        json figures = json::array();
        for (const auto& f : c.figures) figures.push_back(figure_json(f, m.options.practical_percent));
        comparisons.push_back({{"program", program_name(c.program)},
                               {"a", label_list(c.a)},
                               {"b", label_list(c.b)},
                               {"unit_note", comparison_unit_note(c)},
                               {"figures", figures}});
    }
    return {{"confidence", m.options.confidence},
            {"resamples", m.options.resamples},
            {"seed", m.options.seed},
            {"alpha", m.options.alpha},
            {"practical_percent", m.options.practical_percent},
            {"sides", m.sides},
            {"programs", comparisons}};
}

}  // namespace

json to_json(const Model& m) {
    json runs = json::array();
    for (const auto& r : m.runs) runs.push_back(run_json(r, m.analysis_of(r)));
    json groups = json::array();
    for (const auto& g : m.groups) groups.push_back(group_json(g));
    json j = {{"runs", runs}, {"repeats", groups}};
    j["software_rendering"] = m.software_notes();
    if (m.comparing) j["comparison"] = comparison_json(m);
    json diagnostics = json::array();
    for (const auto& d : m.all_diagnostics()) diagnostics.push_back(diagnostic(d));
    j["diagnostics"] = diagnostics;
    return j;
}

}  // namespace report
