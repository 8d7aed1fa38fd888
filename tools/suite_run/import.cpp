#include "suite_run/import.h"

#include <iostream>

#include "common/text.h"
#include "report/reading/inputs.h"
#include "store/store.h"

namespace suite_run {

namespace {

// The run as the runner holds it: the program's results file with the
// texts the runner wrote beside it, none read back from the folder, where
// the program may have put its own.
report::Run held_run(const std::string& dir, const program_run& ran) {
    report::SideTexts sides;
    for (const auto& [file, text] : ran.files) {
        if (file == "metadata.json") sides.metadata = text;
        else if (file == "exit-status.txt") sides.exit_status = text;
        else if (file == "frames.csv") sides.frames_csv = text;
        else if (file == "load.csv") sides.load_csv = text;
        else if (file == "stderr.txt") sides.stderr_text = text.substr(0, report::stderr_cap);
    }
    return report::load_run(dir + "/" + ran.record.results_file.value_or(""), sides);
}

}  // namespace

// The folder is the record that counts; the store's copy may go missing.
void record_in_store(session& s, const std::string& dir, const program_run& ran) {
    if (ran.record.results_file.value_or("").empty()) return;  // nothing to record
    const auto why = store::record_run(s.o.db, held_run(dir, ran), s.o.tag);
    if (why.empty()) return;
    ++s.unrecorded;
    std::cout << "  WARNING: not recorded in the store "
              << common::terminal_safe(store::display_url(s.o.db)) << ": "
              << common::terminal_safe(why) << " (the run folder " << common::terminal_safe(dir)
              << " is complete)" << std::endl;
}

}  // namespace suite_run
