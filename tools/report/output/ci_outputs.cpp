#include "report/output/ci_outputs.h"

#include "common/text.h"
#include "report/output/tables.h"

namespace report {

std::vector<VerdictRow> comparison_rows(const Model& m) {
    std::vector<VerdictRow> rows;
    for (const auto& c : m.comparisons)
        for (const auto& f : c.figures) {
            const auto x = figure_cells(f, m.options.practical_percent);
            const bool judged = f.verdict != Verdict::too_few && f.verdict != Verdict::inconclusive;
            rows.push_back({program_name(c.program), x.name, x.average_b, x.average_a, x.ratio,
                            x.interval, x.verdict,
                            judged ? VerdictRow::Outcome::pass : VerdictRow::Outcome::skipped});
        }
    return rows;
}

namespace {
std::string markdown_cell(const std::string& text) {
    std::string out;
    for (char c : common::valid_utf8(text)) {
        if (c == '|' || c == '\\' || c == '`' || c == '*' || c == '_' || c == '[' || c == ']')
            out += std::string("\\") + c;
        else if (c == '<') out += "&lt;";
        else if (c == '&') out += "&amp;";
        else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) out += ' ';
        else out += c;
    }
    return out.empty() ? " " : out;
}

const char* outcome_mark(VerdictRow::Outcome o) {
    switch (o) {
        case VerdictRow::Outcome::fail: return "FAIL";
        case VerdictRow::Outcome::skipped: return "not judged";
        case VerdictRow::Outcome::pass: break;
    }
    return "ok";
}
}  // namespace

void write_markdown(std::ostream& out, const std::string& title,
                    const std::vector<VerdictRow>& rows) {
    out << "**" << markdown_cell(title) << "**\n\n"
        << "| program | figure | before | after | ratio | 95% interval | verdict | result |\n"
        << "|---|---|---:|---:|---:|---|---|---|\n";
    for (const auto& r : rows)
        out << "| " << markdown_cell(r.group) << " | " << markdown_cell(r.figure) << " | "
            << markdown_cell(r.before) << " | " << markdown_cell(r.after) << " | "
            << markdown_cell(r.ratio) << " | " << markdown_cell(r.interval) << " | "
            << markdown_cell(r.verdict) << " | " << outcome_mark(r.outcome) << " |\n";
}

void write_junit(std::ostream& out, const std::string& suite, const std::vector<VerdictRow>& rows) {
    std::size_t failures = 0, skipped = 0;
    for (const auto& r : rows) {
        failures += r.outcome == VerdictRow::Outcome::fail;
        skipped += r.outcome == VerdictRow::Outcome::skipped;
    }
    const auto counts = "tests=\"" + std::to_string(rows.size()) + "\" failures=\"" +
                        std::to_string(failures) + "\" errors=\"0\" skipped=\"" +
                        std::to_string(skipped) + "\"";
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<testsuites name=\"" << html_escape(suite)
        << "\" " << counts << ">\n  <testsuite name=\"" << html_escape(suite) << "\" " << counts
        << ">\n";
    for (const auto& r : rows) {
        const std::string figures = "before " + r.before + ", after " + r.after + ", ratio " +
                                    r.ratio + " (95% interval " + r.interval + "): " + r.verdict;
        out << "    <testcase classname=\"" << html_escape(r.group) << "\" name=\""
            << html_escape(r.figure) << "\"";
        if (r.outcome == VerdictRow::Outcome::pass) {
            out << "/>\n";
            continue;
        }
        out << ">\n      <"
            << (r.outcome == VerdictRow::Outcome::fail ? "failure type=\"regression\"" : "skipped")
            << " message=\"" << html_escape(figures) << "\"/>\n    </testcase>\n";
    }
    out << "  </testsuite>\n</testsuites>\n";
}

}  // namespace report
