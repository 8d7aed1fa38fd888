// Each program's run into the results store as it ends.
#pragma once

#include <string>

#include "suite_run/drive.h"
#include "suite_run/session.h"

namespace suite_run {

// Records the run in the store; a failure is told and counted, never fatal:
// the run folder is the record that counts.
void record_in_store(session& s, const std::string& dir, const program_run& ran);

}  // namespace suite_run
