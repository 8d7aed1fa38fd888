#include "suite_run/steps.h"

#include <iostream>

#include "common/secrets.h"
#include "common/text.h"
#include "process/stop.h"
#include "report/reading/inputs.h"
#include "suite_run/display.h"
#include "suite_run/executables.h"
#include "suite_run/gl_environment.h"
#include "suite_run/identity.h"
#include "suite_run/import.h"
#include "suite_run/record.h"
#include "suite_run/rounds.h"
#include "suite_run/run_files.h"

namespace suite_run {

namespace {

// Each program's folder: RUN/PROGRAM, RUN/rep-R/PROGRAM with repeats,
// RUN/round-R/VARIANT/PROGRAM with variants.
std::string step_folder(const session& s, const step& t) {
    const std::string name(t.p->texts->name);
    if (t.v) return s.out + "/round-" + std::to_string(t.round) + "/" + t.v->name + "/" + name;
    if (rounds_of(s.o) > 1) return s.out + "/rep-" + std::to_string(t.round) + "/" + name;
    return s.out + "/" + name;
}

std::string step_title(const session& s, const step& t) {
    std::string title(t.p->texts->name);
    if (t.v) return title + " [" + t.v->name + "] round " + std::to_string(t.round);
    return rounds_of(s.o) > 1 ? title + " #" + std::to_string(t.round) : title;
}

std::string executable(const session& s, const step& t) {
    const bool own = t.v && !t.v->bin_dir.empty();
    return executable_for(std::string(t.p->texts->name), own ? t.v->bin_dir : s.o.bin_dir);
}

// Runs the program and keeps its metadata.json; what is known of the run.
program_run drive_step(session& s, const step& t, const std::string& dir) {
    const std::string name(t.p->texts->name);
    std::cout << "== " << step_title(s, t) << " (in " << common::terminal_safe(dir) << ")"
              << std::endl;
    const std::string started = local_time_stamp();
    program_run ran;
    record::ProgramRecord& facts = ran.record;
    const auto env = environment_of(t.v);
    if (s.attended) {
        const int status = run_attended(executable(s, t), dir, env);
        facts.program = name;
        facts.exit_status = status;
        facts.problem = status ? "it exited with status " + std::to_string(status) : "";
    } else {
        s.o.drive.x_server_pid = s.server ? s.server->pid() : 0;
        ran = run_unattended(*t.p, executable(s, t), dir, s.display, env, s.o.drive,
                                        [&] { return s.server_alive(); });
    }
    facts.repeat = t.round;
    facts.date = started;  // each repeat's own, beside the set's in "machine"
    if (t.v) facts.round = t.round;
    if (process::stop_signal()) facts.interrupted = true;
    record::RunRecord meta;
    static_cast<record::RunHeader&>(meta) = s.run;
    const std::size_t vi = t.v ? static_cast<std::size_t>(t.v->index) : 0;
    meta.gl = s.gl[vi];
    meta.vsync = s.vsync[vi];
    if (t.v) meta.variant = variant_record(*t.v);
    verify_gl(facts, meta.gl);
    meta.run = facts;
    std::string error;
    const std::string text = bounded_json_text(meta, report::metadata_cap);
    if (!write_new_file(dir + "/metadata.json", text, error))
        facts.problem = facts.problem.empty() ? error : facts.problem + "; " + error;
    ran.files.emplace_back("metadata.json", text);
    for (const auto& [file, written] : ran.files) note_written(s, dir, file, written);
    if (t.v) facts.variant = t.v->name;
    return ran;
}

// The next program gets a new server: one lost server costs one run.
void replace_lost_server(session& s) {
    if (!s.server || s.server->running() || process::stop_signal()) return;
    std::cout << "  the X server was lost; starting a new one" << std::endl;
    start_private_server(s);
}

}  // namespace

void print_failure(const std::string& name, const std::string& problem, const std::string& dir) {
    std::cout << "  FAILED: " << name << ": "
              << common::terminal_safe(common::mask_secrets(problem));
    if (!dir.empty()) std::cout << " (what it wrote is kept in " << common::terminal_safe(dir) << ")";
    std::cout << std::endl;
}

std::string stability_key(const step& t) {
    const std::string name(t.p->texts->name);
    return t.v ? t.v->name + "/" + name : name;
}

void run_step(session& s, const step& t, Stability& stability) {
    std::string error;
    const auto dir = make_new_folder(step_folder(s, t), true, error);
    if (!dir) {
        record::ProgramRecord failed;
        failed.program = t.p->texts->name;
        failed.repeat = t.round;
        failed.problem = error;
        s.run.programs.push_back(failed);
        ++s.failures;
        print_failure(std::string(t.p->texts->name), error, "");
        return;
    }
    const program_run ran = drive_step(s, t, *dir);
    const record::ProgramRecord& facts = ran.record;
    s.run.programs.push_back(facts);
    const std::string& problem = facts.problem;
    const std::string results = facts.results_file.value_or("");
    if (!problem.empty()) {
        ++s.failures;
        print_failure(std::string(t.p->texts->name), problem, *dir);
    } else {
        std::cout << "  done: " << common::terminal_safe(results) << std::endl;
        if (s.ab && t.v && !results.empty())
            s.ab->add(t.v->name, std::string(t.p->texts->name), *dir + "/" + results);
        if (s.o.until_stable > 0 && !results.empty()) {
            stability.add(stability_key(t), results_headline(*dir + "/" + results));
            std::cout << "  " << common::terminal_safe(stability_key(t)) << ": "
                      << stability.progress(stability_key(t)) << std::endl;
        }
    }
    replace_lost_server(s);
    record_in_store(s, *dir, ran);
}

}  // namespace suite_run
