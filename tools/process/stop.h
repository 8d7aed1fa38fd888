// A stop asked by a signal, seen by everything that waits: the runner's
// loops, the driver's waits for a window, the store's waits for a busy
// database. The signals are caught in one place; a tool that never catches
// them is never stopped this way.
#pragma once

namespace process {

// SIGINT, SIGTERM and SIGHUP from now on ask for a stop instead of ending.
void catch_stop_signals();
// The first signal that asked for a stop; 0 if none.
int stop_signal();

}  // namespace process
