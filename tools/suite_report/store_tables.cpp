#include "suite_report/store_tables.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <map>

#include "common/dates.h"
#include "report/output/plotting.h"

namespace fs = std::filesystem;

namespace suite_report {

std::string Group::title() const {
    return program + " on " + (host.empty() ? "an unnamed machine" : host) + ", " +
           renderer_shown() + (window_size.empty() ? "" : ", " + window_size) +
           (variant.empty() ? "" : ", variant " + variant);
}

std::string Group::setup() const {
    std::string text;
    if (display_kind != record::private_xvfb) text += "display " + display_kind;
    if (software && *software != record::software_renderer_name(renderer))
        text += std::string(text.empty() ? "" : ", ") + (*software ? "software" : "hardware");
    return text;
}

std::string Group::renderer_shown() const {
    const std::string shown = renderer.empty() ? "unknown renderer" : renderer;
    return setup().empty() ? shown : shown + " (" + setup() + ")";
}

std::vector<Group> group_runs(std::vector<store::RunRow> runs) {
    std::map<std::vector<std::string>, Group> groups;
    for (auto& r : runs) {
        const std::string software = !r.software ? "" : *r.software ? "1" : "0";
        auto& g = groups[{r.program, r.host, r.renderer, r.window_size, r.variant, r.display_kind,
                          software}];
        g.program = r.program;
        g.host = r.host;
        g.renderer = r.renderer;
        g.window_size = r.window_size;
        g.variant = r.variant;
        g.display_kind = r.display_kind;
        g.software = r.software;
        g.runs.push_back(std::move(r));
    }
    std::vector<Group> out;
    for (auto& [key, g] : groups) out.push_back(std::move(g));
    return out;
}

namespace {

const std::string frame_time = "frame time";

std::optional<double> figure_of(const store::RunRow& r, const std::string& figure) {
    if (figure == frame_time) return r.median_ms;
    for (const auto& [name, average] : r.rates)
        if (name == figure) return average;
    return std::nullopt;
}

// Runs without a finite figure are left out of its series.
void steps_of_figure(Group& g, const std::string& figure) {
    std::vector<double> values;
    std::vector<std::size_t> runs;
    for (std::size_t i = 0; i < g.runs.size(); ++i)
        if (const auto v = figure_of(g.runs[i], figure); v && std::isfinite(*v)) {
            values.push_back(*v);
            runs.push_back(i);
        }
    for (const auto& s : report::find_steps(values)) {
        GroupStep gs{figure, s, runs[s.at - 1], runs[s.at], {}, {}};
        const store::RunRow& after = g.runs[gs.after];
        gs.changes = report::changed_facts(g.runs[gs.before].facts, after.facts);
        gs.label = report::step_label(figure, s, after.date.substr(0, 10), after.id, gs.changes);
        g.steps.push_back(std::move(gs));
    }
}

}  // namespace

std::string future_limit() {
    return common::utc_text(std::time(nullptr) + 24 * 3600);
}

void find_group_steps(std::vector<Group>& groups) {
    for (auto& g : groups) {
        g.steps.clear();
        std::vector<std::string> figures = {frame_time};
        for (const auto& r : g.runs)
            for (const auto& rate : r.rates)
                if (std::find(figures.begin(), figures.end(), rate.first) == figures.end())
                    figures.push_back(rate.first);
        for (const auto& f : figures) steps_of_figure(g, f);
    }
}

namespace {
// "2026-12-07 09:10:12" (UTC) as seconds since the epoch, for gnuplot's time axis.
long long epoch(const std::string& date) {
    return static_cast<long long>(common::read_utc(date).value_or(-1));
}
}  // namespace

std::vector<report::PlotFile> draw_trends(const std::vector<Group>& groups,
                                          const std::string& folder, const std::string& format,
                                          std::string& error) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) {
        error = "cannot create " + folder + ": " + ec.message();
        return {};
    }
    std::map<std::string, std::vector<std::size_t>> by_program;
    for (std::size_t i = 0; i < groups.size(); ++i) by_program[groups[i].program].push_back(i);
    std::vector<report::Plot> plots;
    for (const auto& [program, members] : by_program) {
        // Only the suite's own program names become file names.
        if (!report::program_from_name(program)) continue;
        report::Plot plot{program + "-trend", program + ": median frame time over time", "date",
                          "median frame time (ms)"};
        plot.time_x = true;
        plot.style = "linespoints pointtype 7 pointsize 0.6";
        for (std::size_t k : members) {
            report::Series series{groups[k].title(), {}};
            for (const auto& r : groups[k].runs)
                if (r.median_ms && epoch(r.date) >= 0)
                    series.points.emplace_back(static_cast<double>(epoch(r.date)), *r.median_ms);
            if (!series.points.empty()) plot.series.push_back(std::move(series));
            for (const auto& st : groups[k].steps)
                if (st.figure == frame_time && epoch(groups[k].runs[st.after].date) >= 0)
                    plot.marks.push_back(
                        {static_cast<double>(epoch(groups[k].runs[st.after].date)),
                         (members.size() > 1 ? groups[k].host + ": " : "") + st.label});
        }
        if (!plot.series.empty()) plots.push_back(std::move(plot));
    }
    if (plots.empty()) return {};
    return report::draw_plots(plots, fs::absolute(folder), format, error);
}

}  // namespace suite_report
