#include "finish.h"

#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "report.h"
#include "startup.h"

namespace frame {

void final_report() {
    program->summary(console);
    blank(console);
    program->summary(results);
    blank(results);
    for (int i = 0; i < program->blanks_before_path; ++i) blank(console);
    close_run();
}

void close_run() {
    const bool saved = results_saved();
    const std::string path = results_path();
    if (saved)
        figure_line(console, texts::results_saved, path);
    else
        figure_line(console, texts::results_not_saved, path);
    for (int i = 0; i < program->blanks_after_path; ++i) blank(console);
    wait_for_enter(texts::prompt.data());
    std::exit(saved ? EXIT_SUCCESS : EXIT_FAILURE);
}

int wait_for_enter(const char* prompt) {
    // Flushed before the prompt is out, so that whatever answers the prompt
    // is never thrown away with what came before it.
    if (isatty(STDIN_FILENO)) tcflush(STDIN_FILENO, TCIFLUSH);
    line(console, prompt);
    return std::getchar();
}

}  // namespace frame
