#include "suite_run/record.h"

#include <filesystem>
#include <iostream>

#include "common/files.h"
#include "common/text.h"
#include "process/stop.h"
#include "suite_run/gl_environment.h"
#include "suite_run/identity.h"
#include "suite_run/run_files.h"

namespace fs = std::filesystem;

namespace suite_run {

// What is known of the run before the display and its GL.
record::RunSetRecord run_header(const session& s, int argc, char** argv) {
    record::RunSetRecord run;
    run.format = record::run_record_format;
    run.command_line = command_line(argc, argv);
    run.machine = machine_identity();
    run.private_x_server = s.display_record.kind != record::existing_display;
    run.display = s.display_record;
    run.repeat = s.o.repeat;
    run.tag = s.o.tag;  // kept with the folder: a later import tags the run as suite-run would
    return run;
}

record::RunSetRecord run_record(const session& s, int argc, char** argv) {
    record::RunSetRecord run = run_header(s, argc, argv);
    run.gl = s.gl.front();
    run.vsync = s.vsync.front();
    if (!s.o.variants.empty()) {
        run.variants.emplace();
        for (const auto& v : s.o.variants)
            run.variants->push_back({variant_record(v),
                                     s.gl[static_cast<std::size_t>(v.index)]});
        run.rounds = s.o.rounds;
        if (s.o.rounds == 0) run.rounds_auto = record::RoundsRule{s.o.max_rounds, 0.05, s.o.practical};
    }
    return run;
}

// Whether the running program had the GL variables its GL was probed with.
void verify_gl(record::ProgramRecord& facts, const record::GlRecord& gl) {
    if (!facts.gl_environment || !gl.environment) return;
    const std::string differs =
        environment_difference(*gl.environment, *facts.gl_environment);
    facts.gl_verified = differs.empty();
    if (!differs.empty()) facts.gl_not_verified = differs;
}

// Each file written into a program's folder, by its path from the run folder,
// for the report to tell a folder changed after the run.
void note_written(session& s, const std::string& dir, const std::string& file,
                  const std::string& text) {
    const std::string path = fs::path(dir).lexically_relative(s.out) / file;
    s.written.push_back({path, common::sha256_hex(text), static_cast<long long>(text.size())});
}

// run.json as the run stands; once written, a later change (a stop that
// came after it) replaces the runner's own earlier one.
void write_run_json(session& s) {
    s.run.interrupted = process::stop_signal() != 0;
    s.run.written = s.written;
    const std::string path = s.out + "/run.json", text = json_text(s.run);
    std::string error;
    if (s.run_json_written ? replace_own_file(path, text, error)
                           : write_new_file(path, text, error)) {
        s.run_json_written = true;
        return;
    }
    std::cerr << "suite-run: " << common::terminal_safe(error) << "\n";
    ++s.failures;
}

}  // namespace suite_run
