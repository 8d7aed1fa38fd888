// Reads a results file line by line against the layout its program writes,
// and says where and how a file departs from it.
#pragma once

#include <string>

#include "common/files.h"
#include "report/reading/results.h"

namespace report {

// Parses the text of one results file; `name` is used in diagnostics.
// A file cut short (a killed run) keeps every complete frame and gets a
// warning; any other departure from the layout is an error that names the
// first line at fault and what was expected there.
Run parse_results(const std::string& text, const std::string& name);
// The same, streamed from `lines`: memory grows with the frames, not the file.
Run parse_results(common::LineReader& lines, const std::string& name);

}  // namespace report
