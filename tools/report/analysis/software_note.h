// What a reader is told when the figures were drawn by a software
// rasteriser although the machine has a GPU that could have drawn them:
// said once here, shown by every output (the summary, the report, compare).
#pragma once

#include <string>
#include <vector>

#include "record/run_record.h"

namespace report {

// "rendered in software (llvmpipe ...) on a machine with a GPU (...)" with
// what reaches the GPU; "" when the run did not render in software or no
// GPU was found.
std::string software_note(const record::RunHeader& r);

// The renderer and the GPUs found, for a run that needs hardware and got
// software: the note's own words, also where no GPU was found.
std::string software_problem(const record::RunHeader& r);

// The distinct notes of a set of runs, in the order first met.
void add_software_note(std::vector<std::string>& notes, const record::RunHeader& r);

}  // namespace report
