// What suite-run writes beside each program's results (metadata.json) and
// beside the whole run (run.json), defined once: the runner writes these
// types, and every reader in the tools (the report, the sync check, the
// machine's load, the store) reads them through read_run_record alone. An
// older runner's file, or a damaged one, reads as far as it goes (see
// record_fields.h). Fields the runner leaves out in some runs (an attended
// run, a program whose folder could not be made, a display without GL) are
// optional, so what is written is what was known.
#pragma once

#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "record/record_fields.h"

namespace record {

// The format the runner writes now ("format" in metadata.json and run.json);
// files without it read as 0.
inline constexpr int run_record_format = 1;

// A GPU as the kernel lists it (/sys/class/drm/cardN/device): ids as the
// kernel writes them ("0x10de"), its kernel driver, and the model where the
// vendor's driver tells it.
struct GpuRecord {
    std::string card, vendor_id, device_id, driver;
    std::optional<std::string> model;
};
SUITE_RECORD(GpuRecord, card, vendor_id, device_id, driver, model)

struct MachineRecord {
    std::string suite_version, host, date, cpu, memory, kernel;
    std::optional<long long> cores;
    // Every GPU found; empty when none, absent in records from before it was kept.
    std::optional<std::vector<GpuRecord>> gpus;
};
SUITE_RECORD(MachineRecord, suite_version, host, date, cpu, memory, kernel, cores, gpus)

// The X server the programs ran on, by kind: one of these texts.
inline constexpr const char* private_xvfb = "private Xvfb";
inline constexpr const char* private_xorg = "private Xorg";
inline constexpr const char* existing_display = "existing";

// What is known of that server and the desktop on it.
struct DisplayRecord {
    std::string kind;
    std::optional<std::string> vendor, window_manager, screen_size;
    std::optional<long long> release;
    std::optional<bool> compositor, xwayland, direct;
    std::optional<double> refresh_hz;
    // What the runner did of the screen saver and display power saving, in words.
    std::optional<std::string> screen_saver;
};
SUITE_RECORD(DisplayRecord, kind, vendor, window_manager, screen_size, release, compositor,
             xwayland, direct, refresh_hz, screen_saver)

// The frame buffer's bits per channel, as the probe's context got them.
struct GlBits {
    int red = 0, green = 0, blue = 0, alpha = 0, depth = 0, stencil = 0;
};
SUITE_RECORD(GlBits, red, green, blue, alpha, depth, stencil)

// The environment variables that decide which GL a program gets (Mesa's,
// GLX's, libGL's, NVIDIA's, LD_LIBRARY_PATH, LD_PRELOAD), by name.
using GlEnvironment = std::map<std::string, std::string>;

struct GlRecord {
    std::string display, vendor, renderer, version;
    std::optional<GlBits> bits;
    std::optional<std::string> error;  // no context could be made: the rest unknown
    std::optional<GlEnvironment> environment;  // what the probe ran with
    // A software renderer, and what told it: "accelerated flag" (the
    // driver's own answer) or "renderer name".
    std::optional<bool> software;
    std::optional<std::string> software_from;
};
void to_json(nlohmann::json& j, const GlRecord& g);
bool take_value(const nlohmann::json& j, GlRecord& g);

struct SyncRecord {
    std::optional<bool> kept;                                 // the drivers' sync left on
    std::optional<std::map<std::string, std::string>> set;  // the switches the programs got
    nlohmann::json swap_interval;                             // as the probe read it; null unknown
};
SUITE_RECORD(SyncRecord, kept, set, swap_interval)

struct VariantRecord {
    std::string name;
    int index = -1;  // 0 is A; -1 when not a whole number from 0 to 999
    std::map<std::string, std::string> settings;  // secret-looking values hidden
};
SUITE_RECORD(VariantRecord, name, index, settings)

// run.json's variants: each with the GL its programs saw.
struct VariantSetup : VariantRecord {
    GlRecord gl;
};
void to_json(nlohmann::json& j, const VariantSetup& v);
bool take_value(const nlohmann::json& j, VariantSetup& v);

// One program's run: metadata.json's "run", an entry of run.json's "programs".
struct ProgramRecord {
    std::string program, problem;  // problem: "" when it ran as it should
    std::optional<std::string> date, executable, window_size, results_file, console,
        stderr_file /* "stderr" */, stderr_first_line, frames_file, variant /* run.json: its name */;
    std::optional<int> exit_status, repeat, round;
    std::optional<long long> frames_measured, stderr_bytes_not_kept, console_bytes_not_kept;
    std::optional<bool> stderr_first_line_cut, interrupted;
    std::optional<std::vector<long long>> strays_ended;
    std::optional<double> seconds;
    std::optional<nlohmann::json> load;  // the machine's load while it ran (load_sampler.h)
    // The GL variables the running program had (/proc/PID/environ), and
    // whether they are those its GL was probed with; why not, when not.
    std::optional<GlEnvironment> gl_environment;
    std::optional<bool> gl_verified;
    std::optional<std::string> gl_not_verified;
    // On an existing display: the size the window manager granted where it
    // differs from the one asked for, and why the window was not fully seen
    // while frames were measured ("covered", "hidden", "unmapped").
    std::optional<std::string> window_granted, window_hidden;
    bool present = false;                // read: the file has a "run" section
};
void to_json(nlohmann::json& j, const ProgramRecord& p);
bool take_value(const nlohmann::json& j, ProgramRecord& p);

// --rounds auto: rounds of a variant run go on, up to max_rounds, until
// every program's verdict is decisive (see rounds.h). Known before the
// first round, so every record of the run carries it and compare judges at
// the level the rule looked at.
struct RoundsRule {
    int max_rounds = 10;
    double alpha = 0.05;              // the chance of any false call over all looks
    double practical_percent = 1;
};
SUITE_RECORD(RoundsRule, max_rounds, alpha, practical_percent)

// What metadata.json and run.json share: the run as a whole.
struct RunHeader {
    int format = 0;
    std::optional<std::string> command_line, tag;  // read only when written as text
    MachineRecord machine;
    GlRecord gl;
    std::optional<SyncRecord> vsync;
    std::optional<DisplayRecord> display;
    bool private_x_server = false, interrupted = false;
    int repeat = 0;
    std::optional<RoundsRule> rounds_auto;
};

// metadata.json.
struct RunRecord : RunHeader {
    std::optional<VariantRecord> variant;
    ProgramRecord run;
};
void to_json(nlohmann::json& j, const RunRecord& r);

// A file the runner wrote into a program's folder, as it wrote it (or meant
// to, where the program had put a file of that name first): the path from
// the run folder, its size and SHA-256.
struct WrittenFile {
    std::string path, sha256;
    long long bytes = -1;
};
SUITE_RECORD(WrittenFile, path, sha256, bytes)

// run.json.
struct RunSetRecord : RunHeader {
    std::vector<ProgramRecord> programs;
    std::optional<std::vector<VariantSetup>> variants;
    std::optional<int> rounds;
    std::optional<nlohmann::json> until_stable;  // why each program stopped (stability.h)
    // With --rounds auto: each program's answer, rounds and why it stopped.
    std::optional<nlohmann::json> rounds_stopped;
    std::optional<std::string> problem;  // why the run ended before its programs were done
    std::optional<std::vector<WrittenFile>> written;  // what the folder held when written
};
void to_json(nlohmann::json& j, const RunSetRecord& r);
bool take_value(const nlohmann::json& j, RunSetRecord& r);

RunRecord read_run_record(const nlohmann::json& metadata);

// The display's kind, also for records written before it was kept: those
// ran on a private Xvfb, or on the user's display when attended.
std::string display_kind(const RunHeader& r);

// Whether a renderer's name is one of the software rasterisers.
bool software_renderer_name(const std::string& renderer);
// The record's own answer, else the renderer's name; none without a context.
std::optional<bool> rendered_in_software(const GlRecord& g);

}  // namespace record
