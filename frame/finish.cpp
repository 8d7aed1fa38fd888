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
    const std::string path = results_path(program->windows_separator);
    if (saved)
        line(console, "Results have been saved in a file and you can find it at: ", path);
    else
        line(console, "Results could not be saved completely in the file: ", path);
    for (int i = 0; i < program->blanks_after_path; ++i) blank(console);
    line(console, "Press Enter to Exit.");
    wait_for_enter();
    std::exit(saved ? EXIT_SUCCESS : EXIT_FAILURE);
}

void wait_for_enter() {
    if (isatty(STDIN_FILENO)) tcflush(STDIN_FILENO, TCIFLUSH);
    int c;
    do c = std::getchar();
    while (c != '\n' && c != EOF);
}

}  // namespace frame
