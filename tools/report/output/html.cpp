#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/text.h"
#include "report/output/outputs.h"
#include "report/output/tables.h"

namespace report {

std::string base64(const std::string& data) {
    static const char digits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((data.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 2 < data.size(); i += 3) {
        const unsigned v = static_cast<unsigned char>(data[i]) << 16 |
                           static_cast<unsigned char>(data[i + 1]) << 8 |
                           static_cast<unsigned char>(data[i + 2]);
        out += digits[v >> 18 & 63];
        out += digits[v >> 12 & 63];
        out += digits[v >> 6 & 63];
        out += digits[v & 63];
    }
    if (const std::size_t rest = data.size() - i) {
        unsigned v = static_cast<unsigned char>(data[i]) << 16;
        if (rest == 2) v |= static_cast<unsigned char>(data[i + 1]) << 8;
        out += digits[v >> 18 & 63];
        out += digits[v >> 12 & 63];
        out += rest == 2 ? digits[v >> 6 & 63] : '=';
        out += '=';
    }
    return out;
}

void html_table(std::ostream& out, const Table& t) {
    if (t.rows.empty()) return;
    if (!t.title.empty()) out << "<h3>" << html_escape(t.title) << "</h3>\n";
    for (const auto& n : t.notes) out << "<p class=\"note\">" << html_escape(n) << "</p>\n";
    out << "<table><tr>";
    for (const auto& c : t.columns) out << "<th>" << html_escape(c) << "</th>";
    out << "</tr>\n";
    for (const auto& row : t.rows) {
        out << "<tr>";
        for (std::size_t c = 0; c < row.size(); ++c) {
            std::string cls = c < t.left ? "" : "n";
            if (row[c] == "faster" || row[c] == "slower") cls += " verdict-" + row[c];
            if (row[c].rfind("within ", 0) == 0) cls += " verdict-within";
            out << "<td" << (cls.empty() ? "" : " class=\"" + cls + "\"") << ">"
                << html_escape(row[c]) << "</td>";
        }
        out << "</tr>\n";
    }
    out << "</table>\n";
}

namespace {

const char* style = R"(
body { margin: 1.5em auto; max-width: 1500px; color: #1d1d1f; padding: 0 1em; }
h1 { font-size: 1.6em; } h2 { font-size: 1.25em; margin-top: 2em; border-bottom: 1px solid #ccc; }
h3 { font-size: 1em; margin-bottom: .3em; }
table { margin: .4em 0 1em; font-size: .9em; }
th, td { padding: .25em .7em; border-bottom: 1px solid #e3e3e3; }
th { background: #f2f2f4; text-align: left; }
td.n { text-align: right; font-variant-numeric: tabular-nums; }
dl { display: grid; grid-template-columns: max-content auto; gap: .15em 1em; font-size: .9em; }
dt { color: #555; } dd { margin: 0; word-break: break-all; }
.error { color: #a40000; } .warning { color: #8a5a00; } .note { color: #555; }
.verdict-faster { color: #0a6b22; font-weight: bold; } .verdict-slower { color: #a40000; font-weight: bold; }
.verdict-within { color: #35557a; }
figure { margin: 1em 0; } figure img { max-width: 100%; border: 1px solid #ddd; }
figcaption { font-size: .85em; color: #555; }
.columns { display: grid; grid-template-columns: minmax(0, 1fr) minmax(0, 1fr); gap: 1.5em; align-items: start; }
@media (max-width: 900px) { .columns { grid-template-columns: minmax(0, 1fr); } }
details { margin: .6em 0; } summary { cursor: pointer; color: #555; }
ul.problems { font-size: .9em; }
)";


void facts(std::ostream& out, const Facts& f) {
    out << "<dl>\n";
    for (const auto& [k, v] : f) out << "<dt>" << html_escape(k) << "</dt><dd>" << html_escape(v) << "</dd>\n";
    out << "</dl>\n";
}

void diagnostics(std::ostream& out, const std::vector<Diagnostic>& ds) {
    if (ds.empty()) return;
    out << "<ul class=\"problems\">\n";
    for (const auto& d : ds)
        out << "<li class=\"" << level_name(d.level) << "\">" << html_escape(to_string(d)) << "</li>\n";
    out << "</ul>\n";
}

// Runs grouped by program, as the overview orders them; files that could not
// be told apart as any program's go last.
std::vector<std::pair<std::string, std::vector<const Run*>>> runs_by_program(const Model& m) {
    std::vector<std::pair<std::string, std::vector<const Run*>>> groups;
    for (const Run* r : runs_in_program_order(m)) {
        const std::string name = r->banner.empty() ? "unreadable files" : program_name(r->program);
        if (groups.empty() || groups.back().first != name)
            groups.emplace_back(name, std::vector<const Run*>{});
        groups.back().second.push_back(r);
    }
    return groups;
}

// Plot files are named after their program: "screens-frame-time.svg".
std::string plot_program(const PlotFile& p) {
    const std::string file = std::filesystem::path(p.path).filename().string();
    return file.substr(0, file.find('-'));
}

}  // namespace

void html_figure(std::ostream& out, const PlotFile& p) {
    std::ifstream in(p.path, std::ios::binary);
    std::ostringstream data;
    data << in.rdbuf();
    const char* type = p.format == "svg" ? "image/svg+xml" : "image/png";
    out << "<figure><img alt=\"" << html_escape(p.title) << "\" src=\"data:" << type << ";base64,"
        << base64(data.str()) << "\"><figcaption>" << html_escape(p.title)
        << "</figcaption></figure>\n";
}

namespace {

// How the verdicts were reached, under the table of them.
void comparison_note(std::ostream& out, const Model& m) {
    out << "<p class=\"note\">A/B is the ratio of the averages the programs print (the mean "
           "frame time; all counts over all time for a rate). With two runs or more on a "
           "side the runs are the independent units, with one run a side batches of "
           "consecutive frames (fewer than "
        << min_batches
        << " batches a side give no verdict). p is Welch's t test on the logs of the "
           "units' averages and the "
        << static_cast<int>(m.options.confidence * 100 + 0.5)
        << "% interval its exp, so a rate and the frame time it is a fixed amount over "
           "get one verdict and reciprocal intervals. A verdict needs p &lt; "
        << m.options.alpha << " and an interval that excludes 1; a ratio within "
        << m.options.practical_percent
        << "% of 1 is reported as within it, and an interval wholly inside that threshold "
           "as the same. Medians and the rank test (on the runs' or batches' medians) are "
           "shown beside.</p>\n";
}

// One program: its comparisons and repeats across the page, then each run's
// tables beside the program's plots, then each run's metadata folded away.
void program_section(std::ostream& out, const Model& m, const std::string& name,
                     const std::vector<const Run*>& runs, const std::vector<PlotFile>& plots,
                     const std::string& plot_error) {
    out << "<section class=\"program\" id=\"program-" << html_escape(name) << "\">\n<h2>"
        << html_escape(name) << "</h2>\n";
    for (const auto& c : m.comparisons)
        if (program_name(c.program) == name)
            html_table(out, comparison_table(c, m.options));
    for (const auto& g : m.groups)
        if (program_name(g.program) == name) html_table(out, spread_table(g));
    out << "<div class=\"columns\"><div class=\"tables\">\n";
    for (const Run* run : runs) {
        const Analysis* a = m.analysis_of(*run);
        out << "<h3 class=\"run\">" << html_escape(run->label) << "</h3>\n";
        facts(out, run_facts(*run, a));
        if (a && a->frame_time.n) {
            html_table(out, frame_time_table(*a));
            html_table(out, runner_clock_table(*a));
            html_table(out, rate_table(*a));
            html_table(out, throughput_table(*a));
        }
        diagnostics(out, m.diagnostics_of(*run));
    }
    out << "</div>\n<div class=\"plots\">\n";
    if (!plot_error.empty())
        out << "<p class=\"error\">No plots: " << html_escape(plot_error) << "</p>\n";
    for (const auto& p : plots)
        if (plot_program(p) == name) html_figure(out, p);
    out << "</div></div>\n";
    for (const Run* run : runs) {
        const auto meta = metadata_facts(run->metadata);
        if (meta.empty()) continue;
        out << "<details><summary>metadata of " << html_escape(run->label) << "</summary>\n";
        facts(out, meta);
        out << "</details>\n";
    }
    out << "</section>\n";
}

}  // namespace

void write_html(std::ostream& out, const Model& m, const std::vector<PlotFile>& plots,
                const std::string& plot_error) {
    write_page(out, {"Benchmark report", style, std::nullopt, {}, ""}, [&](std::ostream& body) {
        body << "<h1>Benchmark report</h1>\n<p>" << m.runs.size() << " results file"
             << (m.runs.size() == 1 ? "" : "s") << " read, " << m.analyses.size() << " readable"
             << (m.comparing ? "; " + html_escape(m.sides_title) : "") << ".</p>\n";
        body << "<h2 id=\"overview\">Overview</h2>\n";
        html_table(body, overview_table(m));
        for (const auto& note : m.software_notes())
            body << "<p class=\"warning software\">" << html_escape(note) << "</p>\n";
        if (m.comparing) {
            html_table(body, verdict_table(m));
            if (m.comparisons.empty()) body << "<p>No program has frames on both sides.</p>\n";
            comparison_note(body, m);
        }
        if (!m.problems.empty()) {
            body << "<h2 id=\"problems\">Problems with the paths given</h2>\n";
            diagnostics(body, m.problems);
        }
        for (const auto& [name, runs] : runs_by_program(m))
            program_section(body, m, name, runs, plots, plot_error);
    });
}

}  // namespace report
