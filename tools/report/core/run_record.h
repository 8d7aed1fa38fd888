// What a program run's metadata.json holds, as suite-run writes it. Every
// reader in the tools (the report, the sync check, the machine's load, the
// store) takes it from read_run_record alone: an older runner's file, or a
// damaged one, reads as far as it goes, and a field of the wrong shape reads
// as its text or as absent, never as an error.
#pragma once

#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace report {

// The format the runner writes now ("format" in metadata.json and run.json);
// files without it read as 0.
inline constexpr int run_record_format = 1;

// Text fields hold strings as written, null as "", any other value as its JSON.
struct MachineRecord {
    std::string host, cpu, kernel, memory, date, suite_version;
};

struct GlRecord {
    std::string vendor, renderer, version, bits;
};

struct SyncRecord {
    std::optional<bool> kept;                            // the drivers' sync left on
    std::optional<std::map<std::string, nlohmann::json>> set;  // the switches the programs got
    nlohmann::json swap_interval;                        // as the probe read it; null unknown
};

struct VariantRecord {
    std::string name;
    int index = -1;  // 0 is A; -1 when not a whole number from 0 to 999
    nlohmann::json settings;
};

struct ProgramRecord {
    std::string program, date, window_size, results_file, problem;
    bool present = false;  // the file has a "run" section
    nlohmann::json load;   // the machine's load while it ran; null when not recorded
};

struct RunRecord {
    int format = 0;
    std::optional<std::string> command_line, tag;  // only when written as text
    MachineRecord machine;
    GlRecord gl;
    std::optional<SyncRecord> vsync;
    std::optional<VariantRecord> variant;
    ProgramRecord run;
};

RunRecord read_run_record(const nlohmann::json& metadata);

}  // namespace report
