#include "report/output/site_pages.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <set>

#include <nlohmann/json.hpp>

#include "common/number.h"
#include "common/secrets.h"
#include "report/output/tables.h"

namespace report {

std::string script_json(const nlohmann::json& j) {
    const std::string text = j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '<') out += "\\u003c";
        else if (c == '>') out += "\\u003e";
        else if (c == '&') out += "\\u0026";
        // U+2028 and U+2029 end a line in older script parsers.
        else if (text.compare(i, 3, "\xE2\x80\xA8") == 0) out += "\\u2028", i += 2;
        else if (text.compare(i, 3, "\xE2\x80\xA9") == 0) out += "\\u2029", i += 2;
        else out += c;
    }
    return out;
}

std::string sparkline_svg(const std::vector<double>& values, const std::vector<bool>& busy) {
    const double w = 90, h = 22, pad = 2;
    double low = std::numeric_limits<double>::infinity(), high = -low;
    for (double v : values)
        if (std::isfinite(v)) low = std::min(low, v), high = std::max(high, v);
    std::string svg = "<svg class=\"spark\" width=\"90\" height=\"22\" viewBox=\"0 0 90 22\" "
                      "role=\"img\" aria-label=\"trend\">";
    if (!std::isfinite(low)) return svg + "</svg>";
    const double n = static_cast<double>(std::max<std::size_t>(values.size() - 1, 1));
    auto x = [&](std::size_t i) { return common::format_fixed(pad + (w - 2 * pad) * static_cast<double>(i) / n, 1); };
    auto y = [&](double v) {
        const double f = high > low ? (v - low) / (high - low) : 0.5;
        return common::format_fixed(h - pad - (h - 2 * pad) * f, 1);
    };
    std::string line, dots;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (!std::isfinite(values[i])) {
            if (!line.empty()) svg += "<polyline points=\"" + line + "\"/>", line.clear();
            continue;
        }
        line += (line.empty() ? "" : " ") + x(i) + "," + y(values[i]);
        if (i < busy.size() && busy[i])
            dots += "<circle class=\"busy\" cx=\"" + x(i) + "\" cy=\"" + y(values[i]) + "\" r=\"1.6\"/>";
    }
    if (!line.empty()) svg += "<polyline points=\"" + line + "\"/>";
    return svg + dots + "</svg>";
}

namespace {

const char* const matrix_style =
    "body{margin:1.5em}table{font-size:.85em}"
    "th,td{padding:.3em .6em;border:1px solid #e3e3e3;vertical-align:top}"
    "th{background:#f2f2f4;text-align:left}td.cell a{color:inherit;text-decoration:none}"
    ".avg{display:block;font-variant-numeric:tabular-nums}.change{display:block;font-size:.85em}"
    ".spark polyline{fill:none;stroke:#446;stroke-width:1}.spark .busy{fill:#aaa}"
    "td.worse{background:#f8d7d3}td.better{background:#d5efd8}"
    ".inconclusive .change,.busy .change,.not_judged .change{color:#777;font-style:italic}"
    "table.only-changed td.cell:not([data-changed=\"1\"]){opacity:.3}"
    "#filters{margin:1em 0}#filters label{margin-right:1.5em}";

// Only shows and hides what the page holds: no figure is computed here.
const char* const matrix_script = R"(<script>
(() => {
  const only = document.getElementById('only-changed');
  const machine = document.getElementById('machine');
  const program = document.getElementById('program');
  const table = document.getElementById('matrix');
  function apply() {
    table.classList.toggle('only-changed', only.checked);
    for (const row of table.tBodies[0].rows)
      row.hidden = (only.checked && row.dataset.changed !== '1') ||
                   (machine.value !== '' && row.dataset.machine !== machine.value);
    for (const cell of table.querySelectorAll('[data-program]'))
      cell.hidden = program.value !== '' && cell.dataset.program !== program.value;
  }
  for (const e of [only, machine, program]) e.addEventListener('change', apply);
  apply();
})();
</script>
)";

const char* mark_class(SiteCell::Mark m) {
    switch (m) {
        case SiteCell::Mark::better: return " better";
        case SiteCell::Mark::worse: return " worse";
        case SiteCell::Mark::inconclusive: return " inconclusive";
        case SiteCell::Mark::busy: return " busy";
        case SiteCell::Mark::not_judged: return " not_judged";
        case SiteCell::Mark::none: break;
    }
    return "";
}

void write_filters(std::ostream& out, const SiteMatrix& m) {
    std::set<std::string> machines;
    for (const auto& r : m.rows) machines.insert(r.machine);
    out << "<form id=\"filters\"><label><input type=\"checkbox\" id=\"only-changed\"> only what "
           "changed</label><label>machine <select id=\"machine\"><option value=\"\">all</option>";
    for (const auto& name : machines)
        out << "<option value=\"" << page_text(name) << "\">" << page_text(name) << "</option>";
    out << "</select></label><label>program <select id=\"program\"><option value=\"\">all</option>";
    for (const auto& p : m.programs)
        out << "<option value=\"" << page_text(p) << "\">" << page_text(p) << "</option>";
    out << "</select></label></form>\n";
}

void write_cell(std::ostream& out, const std::string& program, const SiteCell& c) {
    out << "<td class=\"cell" << (c.present ? mark_class(c.mark) : " empty") << "\" data-program=\""
        << page_text(program) << "\" data-changed=\"" << (c.changed ? 1 : 0) << "\">";
    if (!c.present) {
        out << "</td>";
        return;
    }
    if (!c.link.empty()) out << "<a href=\"" << page_text(c.link) << "\">";
    out << "<span class=\"avg\">" << (c.average.empty() ? "no quiet run" : page_text(c.average))
        << "</span>" << sparkline_svg(c.trend, c.busy) << "<span class=\"change\">"
        << page_text(c.change) << "</span>";
    if (!c.link.empty()) out << "</a>";
    out << "</td>";
}

void matrix_body(std::ostream& out, const SiteMatrix& m) {
    out << "<h1>Results of every machine</h1>\n"
        << "<p class=\"from\">From " << page_text(m.store) << ", written " << page_text(m.generated)
        << ". Each cell: the newest quiet run's average, the trend of every run (busy runs grey), "
           "and the newest run against "
        << page_text(m.baseline) << ", as check judges it.</p>\n";
    write_filters(out, m);
    out << "<p><a href=\"compare/index.html\">Two rows side by side</a></p>\n";
    out << "<table id=\"matrix\"><thead><tr><th>machine</th><th>renderer</th><th>size</th>"
           "<th>variant</th>";
    for (const auto& p : m.programs)
        out << "<th data-program=\"" << page_text(p) << "\">" << page_text(p) << "</th>";
    out << "</tr></thead>\n<tbody>\n";
    for (const auto& r : m.rows) {
        const bool changed =
            std::any_of(r.cells.begin(), r.cells.end(), [](const SiteCell& c) { return c.changed; });
        out << "<tr data-machine=\"" << page_text(r.machine) << "\" data-changed=\""
            << (changed ? 1 : 0) << "\"><th class=\"machine\">" << page_text(r.machine)
            << "</th><td>" << page_text(r.renderer) << "</td><td>" << page_text(r.window_size)
            << "</td><td>" << page_text(r.variant) << "</td>";
        for (std::size_t i = 0; i < m.programs.size(); ++i)
            write_cell(out, m.programs[i], i < r.cells.size() ? r.cells[i] : SiteCell{});
        out << "</tr>\n";
    }
    out << "</tbody></table>\n";
    if (!m.lost.empty()) {
        out << "<h2>Triaged changes no longer found</h2>\n<p>Their step moved or went with a new "
               "segmentation; the triage is kept.</p>\n<ul id=\"lost\">\n";
        for (const auto& line : m.lost) out << "<li>" << page_text(line) << "</li>\n";
        out << "</ul>\n";
    }
}

}  // namespace

void write_matrix_page(std::ostream& out, const SiteMatrix& m) {
    write_page(out, {"Results of every machine", matrix_style, std::nullopt, {}, matrix_script},
               [&](std::ostream& body) { matrix_body(body, m); });
}

}  // namespace report

namespace report {

namespace {

const char* const series_style =
    "body{margin:1.5em}#trend{width:100%;max-width:1100px;height:420px}"
    "table{font-size:.9em;margin-top:1em}th,td{padding:.25em .6em;"
    "border-bottom:1px solid #e3e3e3;text-align:left}.dygraph-annotation{cursor:help}";

// Hands the precomputed figures to the chart: dates made Date objects, the
// rest as they are. A click on a point opens its run's page.
const char* const series_script = R"(<script>
(() => {
  const s = window.suiteSeries;
  const rows = s.points.map(p => [new Date(p.t),
    p.busy ? null : [p.low, p.value, p.high], p.busy ? [p.low, p.value, p.high] : null]);
  const g = new Dygraph(document.getElementById('trend'), rows, {
    labels: ['date', 'quiet', 'busy'], customBars: true, showRangeSelector: true,
    drawPoints: true, pointSize: 2, colors: ['#335', '#aaa'], strokeWidth: 1,
    ylabel: s.figure, legend: 'follow', axes: {y: {axisLabelWidth: 80}},
    pointClickCallback: (e, p) => { const link = s.points[p.idx].link; if (link) location.href = link; }
  });
  g.ready(() => g.setAnnotations(s.notes.map(n => ({
    series: n.busy ? 'busy' : 'quiet', x: n.t, shortText: n.short, text: n.label,
    cssClass: 'change-point', width: 24
  }))));
})();
</script>
)";

}  // namespace

void write_series_data(std::ostream& out, const SeriesPage& s) {
    nlohmann::json points = nlohmann::json::array(), notes = nlohmann::json::array();
    for (const auto& p : s.points)
        points.push_back({{"t", p.time_ms}, {"value", p.value}, {"low", p.low}, {"high", p.high},
                          {"busy", p.busy}, {"link", common::mask_secrets(p.link)}});
    for (std::size_t i = 0; i < s.notes.size(); ++i) {
        const auto& n = s.notes[i];
        if (!n.on_trend) continue;
        const std::string state = n.state.empty() ? "" : " [" + n.state + "]";
        notes.push_back({{"t", n.time_ms}, {"busy", n.busy}, {"short", std::to_string(i + 1)},
                         {"label", common::mask_secrets(n.label + state)}});
    }
    out << "window.suiteSeries = "
        << script_json({{"figure", common::mask_secrets(s.figure)}, {"points", points}, {"notes", notes}})
        << ";\n";
}

namespace {

void series_body(std::ostream& out, const SeriesPage& s) {
    out << "<p><a href=\"../index.html\">All series</a></p>\n<h1>" << page_text(s.title) << "</h1>\n<p>Each run's "
        << page_text(s.figure) << " with its 95% interval; busy runs in grey. Drag to zoom, "
        << "double-click to zoom out; a click on a run opens its page.</p>\n"
        << "<div id=\"trend\"></div>\n<h2>Change points</h2>\n";
    if (s.notes.empty()) out << "<p>None found.</p>\n";
    else out << "<table id=\"changes\"><tr><th>#</th><th>change</th><th>state</th><th>id</th></tr>\n";
    for (std::size_t i = 0; i < s.notes.size(); ++i)
        out << "<tr><td>" << i + 1 << "</td><td>" << page_text(s.notes[i].label) << "</td><td>"
            << page_text(s.notes[i].state.empty() ? "new" : s.notes[i].state) << "</td><td><code>"
            << page_text(s.notes[i].id) << "</code></td></tr>\n";
    if (!s.notes.empty()) out << "</table>\n";
}

}  // namespace

void write_series_page(std::ostream& page, const SeriesPage& s) {
    write_page(page, {s.title, series_style, "../", {s.data_file}, series_script},
               [&](std::ostream& out) { series_body(out, s); });
}

}  // namespace report

namespace report {

namespace {

// Draws the frame times the data file holds, one point a frame.
const char* const run_script = R"(<script>
(() => {
  const ms = window.suiteRun.frame_ms;
  if (!ms.length) return;
  new Dygraph(document.getElementById('frames'), ms.map((v, i) => [i + 1, v]), {
    labels: ['frame', 'ms'], drawPoints: true, pointSize: 1.5, strokeWidth: 0.5,
    xlabel: 'frame', ylabel: 'frame time (ms)', colors: ['#335'], axes: {y: {axisLabelWidth: 60}}
  });
})();
</script>
)";

}  // namespace

void write_run_data(std::ostream& out, const RunPage& r) {
    nlohmann::json ms = nlohmann::json::array();
    for (double v : r.frame_ms) ms.push_back(std::isfinite(v) ? nlohmann::json(v) : nlohmann::json());
    out << "window.suiteRun = " << script_json({{"frame_ms", ms}}) << ";\n";
}

namespace {

void run_body(std::ostream& out, const RunPage& r) {
    out << "<p><a href=\"../index.html\">All series</a> &middot; <a href=\"" << page_text(r.series_link)
        << "\">its series</a></p>\n<h1>" << page_text(r.title) << "</h1>\n";
    if (!r.report_link.empty())
        out << "<p><a href=\"" << page_text(r.report_link) << "\">Its full report</a></p>\n";
    out << "<h2>Frame times</h2>\n<div id=\"frames\"></div>\n<h2>The machine's load</h2>\n<p>"
        << page_text(r.load) << "</p>\n<h2>Metadata</h2>\n<table id=\"metadata\">\n";
    for (const auto& [name, value] : r.facts)
        out << "<tr><th>" << page_text(name) << "</th><td>" << page_text(value) << "</td></tr>\n";
    out << "</table>\n";
}

}  // namespace

void write_run_page(std::ostream& page, const RunPage& r) {
    write_page(page, {r.title, series_style, "../", {r.data_file}, run_script},
               [&](std::ostream& out) { run_body(out, r); });
}

}  // namespace report

namespace report {

namespace {

// A page of the comparisons, under its title.
void comparison_shell(std::ostream& page, const std::string& title,
                      const std::function<void(std::ostream&)>& body) {
    write_page(page, {title, matrix_style, std::nullopt, {}, ""},
               [&](std::ostream& out) {
                   out << "<p><a href=\"../index.html\">All series</a></p>\n<h1>"
                       << page_text(title) << "</h1>\n";
                   body(out);
               });
}

void comparison_body(std::ostream& out, const ComparisonPage& c) {
    out << "<p>A: " << page_text(c.side_a) << "<br>B: " << page_text(c.side_b) << "</p>\n<p>"
        << page_text(c.note) << "</p>\n<table id=\"comparison\"><tr><th>program</th>"
        << "<th>figure</th><th>B</th><th>A</th><th>A/B</th><th>95% interval</th><th>verdict</th></tr>\n";
    for (const auto& l : c.lines) {
        const char* mark = !l.significant ? "" : l.a_better ? " class=\"better\"" : " class=\"worse\"";
        out << "<tr><td>" << page_text(l.program) << "</td><td>" << page_text(l.cells.name)
            << "</td><td>" << page_text(l.cells.average_b) << "</td><td>"
            << page_text(l.cells.average_a) << "</td><td>" << page_text(l.cells.ratio) << "</td><td>"
            << page_text(l.cells.interval) << "</td><td" << mark << ">" << page_text(l.cells.verdict)
            << "</td></tr>\n";
    }
    if (c.lines.empty()) out << "<tr><td colspan=\"7\">no program both rows ran</td></tr>\n";
    out << "</table>\n";
}

}  // namespace

void write_comparison_page(std::ostream& page, const ComparisonPage& c) {
    comparison_shell(page, c.title, [&](std::ostream& out) { comparison_body(out, c); });
}

void write_comparison_index(std::ostream& page, const std::vector<ComparisonLink>& links,
                            const std::vector<std::string>& notes) {
    comparison_shell(page, "Two rows side by side", [&](std::ostream& out) {
        for (const auto& n : notes) out << "<p>" << page_text(n) << "</p>\n";
        out << "<table id=\"comparisons\"><tr><th>A</th><th>B</th><th></th></tr>\n";
        for (const auto& l : links)
            out << "<tr><td>" << page_text(l.a) << "</td><td>" << page_text(l.b)
                << "</td><td><a href=\"" << page_text(l.link) << "\">compare</a></td></tr>\n";
        out << "</table>\n";
    });
}

}  // namespace report
