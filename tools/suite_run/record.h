// The run's record: run.json as it grows, and what goes into each
// program's metadata.json beside its run.
#pragma once

#include <string>

#include "record/run_record.h"
#include "suite_run/session.h"

namespace suite_run {

// What is known of the run before the display and its GL.
record::RunSetRecord run_header(const session& s, int argc, char** argv);
// The run's record once every variant's GL is known.
record::RunSetRecord run_record(const session& s, int argc, char** argv);
// Whether the running program had the GL variables its GL was probed with.
void verify_gl(record::ProgramRecord& program, const record::GlRecord& gl);
// Notes a file written into a program's folder, for the report to tell a
// folder changed after the run.
void note_written(session& s, const std::string& dir, const std::string& file,
                  const std::string& text);
// Writes run.json as the run stands, or replaces the runner's own earlier one.
void write_run_json(session& s);

}  // namespace suite_run
