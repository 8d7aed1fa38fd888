// What lasts a whole run of the suite, shared by its parts: the options, the
// run folder, the X server and the record of the run as it grows.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "driver/desktop.h"
#include "driver/driver.h"
#include "driver/xorg_server.h"
#include "record/run_record.h"
#include "suite_run/ab_rounds.h"
#include "suite_run/drive.h"
#include "suite_run/options.h"
#include "suite_run/variants.h"

namespace suite_run {

// What lasts the whole run: the options, the run folder, the X server and
// run.json as it grows.
struct session {
    options o;
    std::vector<const program_entry*> chosen;
    std::string out;
    bool attended = false;
    std::unique_ptr<driver::XServer> server;
    std::unique_ptr<driver::PrivateXorg> xorg;  // with --server xorg: its config and logs
    // On the user's display: the screen saver and power saving held off until
    // the session ends, however it ends (a caught stop signal ends it too).
    std::unique_ptr<driver::ScreenSaverHold> screen_saver;
    std::string display;
    record::DisplayRecord display_record;  // what kind of server, and what is known of it
    record::RunSetRecord run;
    std::vector<record::GlRecord> gl;  // per variant; one entry without variants
    std::vector<record::SyncRecord> vsync;
    int failures = 0, unrecorded = 0;
    std::unique_ptr<AbRounds> ab;  // with --rounds auto
    bool run_json_written = false;
    std::vector<record::WrittenFile> written;  // every file written into a program's folder
    bool server_alive() const { return !server || server->running(); }
};

// One program's run: a round, a variant (none without --variant), a program.
struct step {
    int round;
    const variant* v;
    const program_entry* p;
};

}  // namespace suite_run
