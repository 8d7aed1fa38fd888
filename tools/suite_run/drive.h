// One program, driven unattended through its window and console.
#pragma once

#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

#include "record/run_record.h"
#include "texts/texts.h"

namespace suite_run {

struct program_entry {
    const texts::program_texts* texts;  // name, window title, frame marker
    int frames;                         // measured frames before Esc; 0: until it ends itself
    int width, height;                  // window size when none is asked for; 0: its own
    int last_frame = 0;                 // where it ends itself, for the progress; 0: unknown
};

struct drive_options {
    int frames = -1;            // -1: the program's own default
    int width = 0, height = 0;  // 0: the program's own window size
    double hang_after = 300;    // seconds without a new frame: hung
    double window_timeout = 300;
    double init_timeout = 600;  // the workload is built after the window opens
    int x_server_pid = 0;       // its CPU time is told apart from other processes'; 0: unknown
    double quiet_seconds = 1;   // the machine's load is read this long before each start
    // An existing display of the user's: the program's window is found by its
    // process, sized through the window manager, and its keys are sent to it alone.
    bool on_display = false;
    // There the screen's size is the largest a program's own size is asked as.
    int screen_width = 0, screen_height = 0;
};

// A program's run as the runner holds it: what is known of it, and the
// texts of the files the runner wrote beside its results by name (also of
// those it could not write, where the program had put a file of that name
// first): its record is made from these, never read back from the folder.
struct program_run {
    record::ProgramRecord record;
    std::vector<std::pair<std::string, std::string>> files;  // "stderr.txt", its text
};

// Runs exe in dir on display, its environment added to the program's (the
// runner's own stays as it is); keeps its console, errors, exit status and
// frames.csv in dir. Its record's problem is empty when it went well, and
// gl_environment holds the GL variables the running program had.
// server_alive tells whether the X server still runs.
program_run run_unattended(const program_entry& p, const std::string& exe,
                           const std::string& dir, const std::string& display,
                           const std::vector<std::string>& env, const drive_options& o,
                           const std::function<bool()>& server_alive);

// Lets the user drive the program; its console is this terminal.
int run_attended(const std::string& exe, const std::string& dir,
                 const std::vector<std::string>& env);

}  // namespace suite_run
