// The programs the suite runs, each with what driving it needs.
#pragma once

#include <vector>

#include "suite_run/drive.h"
#include "suite_run/options.h"

namespace suite_run {

// The programs named on the command line, in the suite's order; all without names.
std::vector<const program_entry*> choose_programs(const options& o);

}  // namespace suite_run
