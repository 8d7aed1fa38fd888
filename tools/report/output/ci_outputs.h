// Verdicts as a CI system shows them: a JUnit XML file (one test case per
// program and figure) and a Markdown table fit for a pull-request comment.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "report/analysis/model.h"

namespace report {

struct VerdictRow {
    enum class Outcome { pass, fail, skipped };
    std::string group;   // "screens" or "screens on lab, llvmpipe, 1440x1440"
    std::string figure;  // "frame time (ms)", a rate's name, or "-" when nothing was compared
    std::string before, after, ratio, interval, verdict;
    Outcome outcome = Outcome::pass;
};

// compare's verdicts: before is side B (--against), after is side A.
std::vector<VerdictRow> comparison_rows(const Model& m);

// Cells escaped so that no text breaks the table: '|' and '\' escaped,
// line breaks and '<' made harmless.
void write_markdown(std::ostream& out, const std::string& title,
                    const std::vector<VerdictRow>& rows);

// A failure per regression with its figures in the message, skipped for
// what was not judged or inconclusive.
void write_junit(std::ostream& out, const std::string& suite, const std::vector<VerdictRow>& rows);

}  // namespace report
