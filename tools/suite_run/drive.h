// One program, driven unattended through its window and console.
#pragma once

#include <nlohmann/json.hpp>
#include <string>

namespace suite_run {

struct program_entry {
    const char* name;
    const char* title;         // window title
    const char* frame_marker;  // start of a console line written once per measured frame
    int frames;                // measured frames before Esc; 0: until it ends itself
    int width, height;         // window size when none is asked for; 0: its own
};

struct drive_options {
    int frames = -1;            // -1: the program's own default
    int width = 0, height = 0;  // 0: the program's own window size
    double hang_after = 300;    // seconds without a new frame: hung
    double window_timeout = 300;
    double init_timeout = 600;  // the workload is built after the window opens
};

// Runs exe in dir on display; keeps its console, errors and exit status in
// dir. Returns what is known of the run; "problem" is empty when it went well.
nlohmann::json run_unattended(const program_entry& p, const std::string& exe,
                              const std::string& dir, const std::string& display,
                              const drive_options& o);

// Lets the user drive the program; its console is this terminal.
int run_attended(const std::string& exe, const std::string& dir);

}  // namespace suite_run
