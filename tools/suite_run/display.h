// The X server the programs run on, what is known of it, and its GL as each
// variant's programs will see it.
#pragma once

#include <string>

#include "suite_run/session.h"

namespace suite_run {

// The run's private server, the first or one replacing a lost one.
void start_private_server(session& s);
// The display the options ask for: the user's, or a private server;
// described in s.display_record.
void start_display(session& s);
// Each variant's GL; a stop ends the probes, and the run, at once.
void probe_variants(session& s);
// With --require-hardware: why a variant's GL is not the GPU's, or "".
std::string not_hardware(const session& s);

}  // namespace suite_run
