// The end of a run: summary, where the results lie, the wait for Enter.
#pragma once

namespace frame {

// Esc: the program's summary to both streams, then close_run().
[[noreturn]] void final_report();
// The path of the results file (or that it could not be saved), the prompt,
// the wait for Enter and the exit: 0, or 1 when results were lost.
[[noreturn]] void close_run();
// Discards what was typed into a terminal so far, writes the prompt line and
// reads one character, as a key press in a raw terminal or a byte down a pipe
// gives it. Returns that character, or EOF when the input ends.
int wait_for_enter(const char* prompt);

}  // namespace frame
