// The report's tables, laid out once for the terminal and the HTML page.
#pragma once

#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "report/analysis/model.h"
#include "report/output/page.h"

namespace report {

struct Table {
    std::string title;
    std::vector<std::string> notes;  // under the title, a line each: which runs, say
    std::vector<std::string> columns;
    std::vector<std::vector<std::string>> rows;
    std::size_t left = 1;  // this many leading columns align left, the rest right
};

using Facts = std::vector<std::pair<std::string, std::string>>;

// Where a run came from and how it ended; `a` is null for a failed run.
Facts run_facts(const Run& run, const Analysis* a);
// metadata.json flattened to "gl.renderer" = "llvmpipe" pairs.
Facts metadata_facts(const nlohmann::json& metadata);

Table frame_time_table(const Analysis& a);
Table rate_table(const Analysis& a);
Table throughput_table(const Analysis& a);  // empty for all but triangles
Table spread_table(const RepeatGroup& g);
Table comparison_table(const ProgramComparison& c, const CompareOptions& options);
// "95% interval", or at the level a comparison was judged.
std::string interval_column(double confidence);

// What every table of a comparison shows of one figure.
struct FigureCells {
    std::string name, average_a, average_b, ratio, interval, verdict;
};
FigureCells figure_cells(const FigureComparison& f, double practical_percent);
// The runner's frame periods beside the printed frame times; empty without frames.csv.
Table runner_clock_table(const Analysis& a);

// The tables a reader sees first: one row per run, and when comparing one
// row per program and figure with its ratio and verdict.
// Program by program, each in the order read; unreadable files last.
std::vector<const Run*> runs_in_program_order(const Model& m);
Table overview_table(const Model& m);
// A last column "GL" saying "software" of each run so rendered, when any was.
void mark_software(Table& t, const std::vector<const Run*>& runs);
Table verdict_table(const Model& m);

// Warnings and errors about a run, its checks included.
std::size_t problem_count(const Model& m, const Run& run);

// A table laid out for the terminal (texts from the inputs made safe) and for
// a page; the page's texts escaped, and files embedded as data: URIs.
void text_table(std::ostream& out, const Table& t, const std::string& indent);
void html_table(std::ostream& out, const Table& t);
std::string base64(const std::string& data);

std::string group_title(const RepeatGroup& g);
std::string comparison_title(const ProgramComparison& c);
// What a program's comparison was judged on: runs or batches, and how many.
std::string comparison_unit_note(const ProgramComparison& c);
std::string milliseconds(double seconds);

}  // namespace report
