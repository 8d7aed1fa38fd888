#include <algorithm>

#include "common/text.h"
#include "report/output/outputs.h"
#include "report/output/tables.h"

namespace report {

namespace {

// Display width of UTF-8 text: continuation bytes take no column.
std::size_t width(const std::string& s) {
    return static_cast<std::size_t>(
        std::count_if(s.begin(), s.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

// Texts from the inputs (labels, paths, metadata) reach the terminal only
// with their control characters shown as escapes.
Table safe_table(Table t) {
    for (auto& c : t.columns) c = common::terminal_safe(c);
    for (auto& row : t.rows)
        for (auto& cell : row) cell = common::terminal_safe(cell);
    t.title = common::terminal_safe(t.title);
    for (auto& n : t.notes) n = common::terminal_safe(n);
    return t;
}


void write_facts(std::ostream& out, const Facts& unsafe, const std::string& indent) {
    Facts facts = unsafe;
    for (auto& [k, v] : facts) k = common::terminal_safe(k), v = common::terminal_safe(v);
    std::size_t w = 0;
    for (const auto& [k, v] : facts) w = std::max(w, width(k));
    for (const auto& [k, v] : facts)
        out << indent << k << std::string(w - width(k) + 2, ' ') << v << "\n";
}

}  // namespace

void text_table(std::ostream& out, const Table& unsafe, const std::string& indent) {
    const Table t = safe_table(unsafe);
    if (t.rows.empty()) return;
    std::vector<std::size_t> w(t.columns.size());
    for (std::size_t c = 0; c < w.size(); ++c) {
        w[c] = width(t.columns[c]);
        for (const auto& row : t.rows) w[c] = std::max(w[c], width(row[c]));
    }
    if (!t.title.empty()) out << indent << t.title << "\n";
    for (const auto& n : t.notes) out << indent << n << "\n";
    auto line = [&](const std::vector<std::string>& cells) {
        std::string text = indent;
        for (std::size_t c = 0; c < cells.size(); ++c) {
            const std::string pad(w[c] - width(cells[c]), ' ');
            text += c < t.left ? cells[c] + pad : pad + cells[c];
            if (c + 1 < cells.size()) text += "  ";
        }
        while (!text.empty() && text.back() == ' ') text.pop_back();
        out << text << "\n";
    };
    line(t.columns);
    for (const auto& row : t.rows) line(row);
    out << "\n";
}

void write_text(std::ostream& out, const Model& m) {
    out << "== overview\n";
    text_table(out, overview_table(m), "   ");
    const auto notes = m.software_notes();
    for (const auto& note : notes) out << "   " << common::terminal_safe(note) << "\n";
    if (!notes.empty()) out << "\n";
    text_table(out, verdict_table(m), "   ");
    for (const auto& run : m.runs) {
        const Analysis* a = m.analysis_of(run);
        out << "== " << program_name(run.program) << "  " << common::terminal_safe(run.label) << "\n";
        write_facts(out, run_facts(run, a), "   ");
        const auto meta = metadata_facts(run.metadata);
        if (!meta.empty()) {
            out << "   metadata\n";
            write_facts(out, meta, "     ");
        }
        out << "\n";
        if (!a || a->frame_time.n == 0) continue;
        text_table(out, frame_time_table(*a), "   ");
        text_table(out, runner_clock_table(*a), "   ");
        text_table(out, rate_table(*a), "   ");
        text_table(out, throughput_table(*a), "   ");
    }
    for (const auto& g : m.groups) {
        out << "== repeats\n";
        text_table(out, spread_table(g), "   ");
    }
    for (const auto& c : m.comparisons) {
        out << "== comparison\n";
        if (!m.sides.is_null()) out << "   " << common::terminal_safe(m.sides_title) << "\n";
        text_table(out, comparison_table(c, m.options), "   ");
    }
    if (m.comparing && m.comparisons.empty())
        out << "== comparison\n   no program has frames on both sides\n\n";
    const auto diagnostics = m.all_diagnostics();
    if (!diagnostics.empty()) {
        out << "== problems\n";
        for (const auto& d : diagnostics) out << "   " << common::terminal_safe(to_string(d)) << "\n";
    }
}

}  // namespace report
