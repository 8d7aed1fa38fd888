// The end of a run: summary, where the results lie, the wait for Enter.
#pragma once

namespace frame {

// Esc: the program's summary to both streams, then close_run().
[[noreturn]] void final_report();
// The path of the results file (or that it could not be saved), the prompt,
// the wait for Enter and the exit: 0, or 1 when results were lost.
[[noreturn]] void close_run();
// Returns when Enter is pressed or the input ends; what was typed into a
// terminal before the prompt does not count.
void wait_for_enter();

}  // namespace frame
