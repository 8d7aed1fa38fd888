#include "suite_report/site_compare.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>

#include "report/analysis/verdicts.h"
#include "report/stats/stats.h"
#include "report/output/site_pages.h"
#include "suite_report/change_ids.h"

namespace fs = std::filesystem;

namespace suite_report {

namespace {

// Newest quiet runs of a level at most: enough for compare, bounded in time.
const std::size_t level_runs = 5;

// A series' level: its quiet, whole runs since its last change point, analysed once.
struct Level {
    std::deque<report::Run> runs;
    std::vector<report::Analysis> analyses;
};

Level level_of(store::Db& db, const Group& g) {
    std::size_t from = 0;
    for (const auto& st : g.steps) from = std::max(from, st.after);
    Level l;
    for (std::size_t i = g.runs.size(); i-- > from && l.runs.size() < level_runs;) {
        const store::RunRow& r = g.runs[i];
        if (!r.busy.empty() || !r.complete || r.frames == 0) continue;
        std::string unreadable;  // figures no program prints: no level to compare with
        report::Run run = store::run_from_frames(r.program, store::frames_of(db, r.id), unreadable);
        if (!unreadable.empty()) continue;
        l.runs.push_back(std::move(run));
        l.analyses.push_back(report::analyse(l.runs.back()));
    }
    return l;
}

struct MatrixRow {
    std::string id, title, size;
    std::map<std::string, std::pair<const Group*, Level>> programs;
};

std::string row_title(const Group& g) {
    return (g.host.empty() ? "an unnamed machine" : g.host) + ", " + g.renderer_shown() + ", " +
           g.window_size + (g.variant.empty() ? "" : ", variant " + g.variant);
}

std::vector<MatrixRow> rows_of(store::Db& db, const std::vector<Group>& groups) {
    std::map<std::vector<std::string>, MatrixRow> rows;
    for (const auto& g : groups) {
        MatrixRow& r = rows[{g.window_size, g.host, g.renderer_shown(), g.variant}];
        Group key;  // the row: the series key without its program
        key.host = g.host;
        key.renderer = g.renderer;
        key.display_kind = g.display_kind;
        key.software = g.software;
        key.window_size = g.window_size;
        key.variant = g.variant;
        r.id = series_id(key);
        r.title = row_title(g);
        r.size = g.window_size;
        r.programs[g.program] = {&g, level_of(db, g)};
    }
    std::vector<MatrixRow> out;
    for (auto& [key, r] : rows) out.push_back(std::move(r));
    return out;
}

report::ComparisonPage compare_rows(const MatrixRow& a, const MatrixRow& b) {
    report::ComparisonPage page;
    page.title = a.title + " against " + b.title;
    page.side_a = a.title;
    page.side_b = b.title;
    page.note = "Each row's level: its newest quiet runs since its series' last change point "
                "(at most " + std::to_string(level_runs) + "), compared as compare does.";
    const double practical = report::CompareOptions{}.practical_percent;
    for (const auto& [program, ga] : a.programs) {
        const auto gb = b.programs.find(program);
        if (gb == b.programs.end()) continue;
        std::vector<report::Analysis> analyses;
        for (const auto* side : {&ga.second.analyses, &gb->second.second.analyses})
            for (auto x : *side) {
                x.side = side == &ga.second.analyses ? "A" : "B";
                analyses.push_back(std::move(x));
            }
        for (const auto& c : report::compare_sides(analyses, report::CompareOptions{}))
            for (const auto& f : c.figures)
                page.lines.push_back({program, report::figure_cells(f, practical),
                                      f.verdict == report::Verdict::faster ||
                                          f.verdict == report::Verdict::slower,
                                      f.verdict == report::Verdict::faster});
    }
    return page;
}

// A row's level in a program: the mean of its level runs' main rate; NaN
// when it has none.
double level_value(const Level& l) {
    double sum = 0;
    std::size_t n = 0;
    for (const auto& a : l.analyses)
        if (!a.rates.empty() && std::isfinite(a.rates.front().average) && a.rates.front().average > 0)
            sum += a.rates.front().average, ++n;
    return n ? sum / static_cast<double>(n) : std::nan("");
}

// The group's median row: for each program, every row's level against the
// median of the rows that have it, on a log scale; the row whose mean
// distance from those medians is least. Rows without a level count last.
const MatrixRow& median_row(const std::vector<MatrixRow>& rows, std::size_t from, std::size_t to) {
    std::map<std::string, std::vector<double>> levels;
    for (std::size_t i = from; i < to; ++i)
        for (const auto& [program, g] : rows[i].programs)
            if (const double v = level_value(g.second); std::isfinite(v)) levels[program].push_back(v);
    std::map<std::string, double> medians;
    for (auto& [program, v] : levels) medians[program] = report::median(v);
    std::size_t best = from;
    double best_distance = HUGE_VAL;
    for (std::size_t i = from; i < to; ++i) {
        double sum = 0;
        std::size_t n = 0;
        for (const auto& [program, g] : rows[i].programs)
            if (const double v = level_value(g.second); std::isfinite(v))
                sum += std::fabs(std::log(v / medians[program])), ++n;
        if (n && sum / static_cast<double>(n) < best_distance) {
            best_distance = sum / static_cast<double>(n);
            best = i;
        }
    }
    return rows[best];
}

template <class Write>
bool write_file(const fs::path& path, Write write) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    write(out);
    out.close();
    return bool(out);
}

}  // namespace

bool write_comparisons(store::Db& db, const std::string& folder, const std::vector<Group>& groups) {
    const fs::path dir = fs::path(folder) / "compare";
    fs::create_directories(dir);
    const auto rows = rows_of(db, groups);
    std::vector<report::ComparisonLink> links;
    std::vector<std::string> notes;
    bool ok = true;
    auto pair = [&](const MatrixRow& a, const MatrixRow& b) {
        const std::string name = a.id + "-" + b.id + ".html";
        ok = ok && write_file(dir / name, [&](std::ostream& s) {
                 report::write_comparison_page(s, compare_rows(a, b));
             });
        links.push_back({name, a.title, b.title});
    };
    for (std::size_t from = 0; from < rows.size();) {
        std::size_t to = from;
        while (to < rows.size() && rows[to].size == rows[from].size) ++to;
        if (to - from <= max_pairwise_rows) {
            for (std::size_t i = from; i < to; ++i)
                for (std::size_t j = i + 1; j < to; ++j) pair(rows[i], rows[j]);
        } else {
            const MatrixRow& middle = median_row(rows, from, to);
            notes.push_back("The " + std::to_string(to - from) + " rows of size " + rows[from].size +
                            " are too many to compare pairwise: each is compared with " +
                            middle.title + ", the median row (the nearest to every program's "
                            "median level).");
            for (std::size_t i = from; i < to; ++i)
                if (&rows[i] != &middle) pair(rows[i], middle);
        }
        from = to;
    }
    return ok && write_file(dir / "index.html", [&](std::ostream& s) {
               report::write_comparison_index(s, links, notes);
           });
}

}  // namespace suite_report
