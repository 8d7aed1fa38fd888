// The pages of the results site: plain files that open from disk. Every
// figure is computed before it gets here; the pages' scripts only show and
// hide what is written, and every text from the store goes in escaped and
// with its secrets masked.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "report/output/tables.h"

namespace report {

// One program of one row of the matrix.
struct SiteCell {
    bool present = false;     // the row ran this program
    std::string link;         // its series page, relative to the matrix; "" none
    std::string average;      // the newest quiet run's headline, "" when none
    std::vector<double> trend;  // each run's headline, oldest first; NaN where missing
    std::vector<bool> busy;     // of the same runs
    std::string change;         // against the baseline, as check judged it
    enum class Mark { none, better, worse, inconclusive, busy, not_judged } mark = Mark::none;
    bool changed = false;  // a significant change still to look at
};

// Machine x renderer x window size x variant, a cell a program.
struct SiteRow {
    std::string machine, renderer, window_size, variant;
    std::vector<SiteCell> cells;  // in the matrix's program order
};

struct SiteMatrix {
    std::string store, generated, baseline;  // where from, when, against what
    std::vector<std::string> programs;
    std::vector<SiteRow> rows;
    std::vector<std::string> lost;  // triaged changes whose step is no longer found
};

void write_matrix_page(std::ostream& out, const SiteMatrix& m);

// An inline SVG line of `values` (NaN leaves a gap), busy ones drawn apart.
std::string sparkline_svg(const std::vector<double>& values, const std::vector<bool>& busy);

// JSON that can stand inside a <script> element: no "<", ">", "&" or line
// separators that could end it or be read as markup.
std::string script_json(const nlohmann::json& j);

}  // namespace report

namespace report {

// One run on a series' trend: its headline with its interval.
struct SeriesPoint {
    double time_ms = 0;  // since the epoch, UTC
    double value = 0, low = 0, high = 0;
    bool busy = false;
    std::string date, link;  // link: its run page, relative to the series page
};

// A change point on the trend, at the first run after it.
struct SeriesNote {
    double time_ms = 0;
    bool busy = false;      // that run was measured on a busy machine
    bool on_trend = false;  // a step of the figure the trend draws
    std::string id, label, state;  // state: its triage, "" none
};

struct SeriesPage {
    std::string title, figure, data_file;  // data_file: beside the page
    std::vector<SeriesPoint> points;
    std::vector<SeriesNote> notes;
};

// The page loads ../dygraph.min.js and its data as a script file, which a
// browser also runs from file://.
void write_series_page(std::ostream& out, const SeriesPage& s);
void write_series_data(std::ostream& out, const SeriesPage& s);

}  // namespace report

namespace report {

// One run: what the store holds of it, and its frame times.
struct RunPage {
    std::string title, series_link, report_link;  // report_link: "" when its folder is not here
    std::vector<std::pair<std::string, std::string>> facts;  // name, value
    std::string load;  // what its metadata says of the machine's load
    std::string data_file;
    std::vector<double> frame_ms;  // in file order
};

void write_run_page(std::ostream& out, const RunPage& r);
void write_run_data(std::ostream& out, const RunPage& r);

}  // namespace report

namespace report {

// Two rows of the matrix, program by program, as compare gives them.
struct ComparisonLine {
    std::string program;
    FigureCells cells;  // average_a is row A's
    bool significant = false, a_better = false;
};
struct ComparisonPage {
    std::string title, side_a, side_b, note;
    std::vector<ComparisonLine> lines;
};
void write_comparison_page(std::ostream& out, const ComparisonPage& c);

// The list of every comparison written: link, then its two rows.
struct ComparisonLink {
    std::string link, a, b;
};
void write_comparison_index(std::ostream& out, const std::vector<ComparisonLink>& links,
                            const std::vector<std::string>& notes);

}  // namespace report
