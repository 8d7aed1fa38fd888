// The runner's command line, read with checked conversions: anything that
// is not a valid value is a usage error before any X server starts.
#pragma once

#include <string>
#include <vector>

#include "suite_run/drive.h"
#include "suite_run/variants.h"

namespace suite_run {

struct options {
    std::vector<std::string> names;
    std::string out, bin_dir;
    std::string db, tag;  // the results store and the tag its records carry
    int repeat = 1;
    std::vector<variant> variants;  // run alternately, round by round; none: the plain set
    int rounds = 0;                 // with variants: A B, B A, A B, ...; 0: auto
    int max_rounds = 10;            // with --rounds auto
    double practical = 1;           // with --rounds auto: percent, "the same within" it
    double until_stable = 0;    // percent; 0: a fixed number of repeats
    int max_repeat = 10;        // with until_stable: runs of each program at most
    double max_time = 7200;     // with until_stable or auto rounds: seconds, no new round after
    bool unattended = false;
    // The private server asked for: "xvfb", "xorg"; "" lets the display decide.
    std::string server, xorg_config;
    // --on-display: driven unattended on this existing display (the user's
    // desktop); "" when not asked for.
    std::string on_display;
    bool vsync = false;  // keep the drivers' sync to the display's refresh
    bool require_hardware = false;  // a software renderer ends the run before any program
    drive_options drive;
};

// Exits with 0 after --help and 2 (with the reason and the usage) on a
// usage error.
options parse_options(int argc, char** argv);

}  // namespace suite_run
