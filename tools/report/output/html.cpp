#include <fstream>
#include <sstream>

#include "outputs.h"
#include "tables.h"
#include "text.h"

namespace report {

namespace {

// Valid UTF-8 (the page says so) without control characters, which HTML
// does not allow.
std::string escape(const std::string& text) {
    std::string out;
    for (char c : valid_utf8(text)) {
        if ((static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n') || c == 0x7f) {
            out += "\xEF\xBF\xBD";
            continue;
        }
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

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

const char* style = R"(
body { font-family: sans-serif; margin: 1.5em auto; max-width: 1100px; color: #1d1d1f; padding: 0 1em; }
h1 { font-size: 1.6em; } h2 { font-size: 1.25em; margin-top: 2em; border-bottom: 1px solid #ccc; }
h3 { font-size: 1em; margin-bottom: .3em; }
table { border-collapse: collapse; margin: .4em 0 1em; font-size: .9em; }
th, td { padding: .25em .7em; border-bottom: 1px solid #e3e3e3; }
th { background: #f2f2f4; text-align: left; }
td.n { text-align: right; font-variant-numeric: tabular-nums; }
dl { display: grid; grid-template-columns: max-content auto; gap: .15em 1em; font-size: .9em; }
dt { color: #555; } dd { margin: 0; word-break: break-all; }
.error { color: #a40000; } .warning { color: #8a5a00; } .note { color: #555; }
.verdict-faster { color: #0a6b22; font-weight: bold; } .verdict-slower { color: #a40000; font-weight: bold; }
figure { margin: 1em 0; } figure img { max-width: 100%; border: 1px solid #ddd; }
figcaption { font-size: .85em; color: #555; }
)";

void table(std::ostream& out, const Table& t) {
    if (t.rows.empty()) return;
    if (!t.title.empty()) out << "<h3>" << escape(t.title) << "</h3>\n";
    if (!t.note.empty()) out << "<p class=\"note\">" << escape(t.note) << "</p>\n";
    out << "<table><tr>";
    for (const auto& c : t.columns) out << "<th>" << escape(c) << "</th>";
    out << "</tr>\n";
    for (const auto& row : t.rows) {
        out << "<tr>";
        for (std::size_t c = 0; c < row.size(); ++c) {
            std::string cls = c < t.left ? "" : "n";
            if (row[c] == "faster" || row[c] == "slower") cls += " verdict-" + row[c];
            out << "<td" << (cls.empty() ? "" : " class=\"" + cls + "\"") << ">"
                << escape(row[c]) << "</td>";
        }
        out << "</tr>\n";
    }
    out << "</table>\n";
}

void facts(std::ostream& out, const Facts& f) {
    out << "<dl>\n";
    for (const auto& [k, v] : f) out << "<dt>" << escape(k) << "</dt><dd>" << escape(v) << "</dd>\n";
    out << "</dl>\n";
}

void plot(std::ostream& out, const PlotFile& p) {
    std::ifstream in(p.path, std::ios::binary);
    std::ostringstream data;
    data << in.rdbuf();
    const char* type = p.format == "svg" ? "image/svg+xml" : "image/png";
    out << "<figure><img alt=\"" << escape(p.title) << "\" src=\"data:" << type << ";base64,"
        << base64(data.str()) << "\"><figcaption>" << escape(p.title)
        << "</figcaption></figure>\n";
}

}  // namespace

void write_html(std::ostream& out, const Model& m, const std::vector<PlotFile>& plots,
                const std::string& plot_error) {
    out << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
        << "<title>Benchmark report</title>\n<style>" << style << "</style></head><body>\n"
        << "<h1>Benchmark report</h1>\n<p>" << m.runs.size() << " results file"
        << (m.runs.size() == 1 ? "" : "s") << " read, " << m.analyses.size() << " readable"
        << (m.comparing ? "; side A compared against side B" : "") << ".</p>\n";

    const auto diagnostics = m.all_diagnostics();
    if (!diagnostics.empty()) {
        out << "<h2 id=\"problems\">Problems</h2>\n<ul>\n";
        for (const auto& d : diagnostics)
            out << "<li class=\"" << level_name(d.level) << "\">" << escape(to_string(d))
                << "</li>\n";
        out << "</ul>\n";
    }
    if (m.comparing) {
        out << "<h2 id=\"comparison\">Comparison</h2>\n<p>Ratios are median A over median B; "
               "the interval is a "
            << static_cast<int>(m.options.confidence * 100 + 0.5)
            << "% percentile bootstrap (" << m.options.resamples
            << " resamples), p is from a two-sided Mann-Whitney U test. A verdict needs both "
               "p &lt; "
            << m.options.alpha << " and an interval that excludes 1.</p>\n";
        if (m.comparisons.empty()) out << "<p>No program has frames on both sides.</p>\n";
        for (const auto& c : m.comparisons) table(out, comparison_table(c));
    }
    if (!m.groups.empty()) {
        out << "<h2 id=\"repeats\">Repeated runs</h2>\n";
        for (const auto& g : m.groups) table(out, spread_table(g));
    }
    for (const auto& run : m.runs) {
        const Analysis* a = m.analysis_of(run);
        out << "<h2>" << escape(program_name(run.program)) << ": " << escape(run.label)
            << "</h2>\n";
        facts(out, run_facts(run, a));
        const auto meta = metadata_facts(run.metadata);
        if (!meta.empty()) {
            out << "<h3>metadata</h3>\n";
            facts(out, meta);
        }
        if (!a || a->frame_time.n == 0) continue;
        table(out, frame_time_table(*a));
        table(out, rate_table(*a));
        table(out, throughput_table(*a));
    }
    if (!plots.empty() || !plot_error.empty()) {
        out << "<h2 id=\"plots\">Plots</h2>\n";
        if (!plot_error.empty())
            out << "<p class=\"error\">No plots: " << escape(plot_error) << "</p>\n";
        for (const auto& p : plots) plot(out, p);
    }
    out << "</body></html>\n";
}

}  // namespace report
