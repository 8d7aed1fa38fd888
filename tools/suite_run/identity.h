// What the figures of a run need beside them to be understood: the machine,
// the display's GL, the suite's version and how the run was asked for.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "record/run_record.h"

namespace suite_run {

// CPU, cores, memory, kernel, date and time, suite version, GPUs.
record::MachineRecord machine_identity();
// Every GPU the kernel lists under root's /sys (see driver/xorg_config.h).
std::vector<record::GpuRecord> gpu_list(const std::string& root);
// Now, as "2026-12-07T09:10:12+0100": local time with its offset from UTC.
std::string local_time_stamp();
// Vendor, renderer, version, bit depths of the display's GL and whether it
// renders in software; apart, the swap interval its context reports (null
// where it cannot be read) and whether the context was direct (none
// without a context).
record::GlRecord gl_identity(const std::string& display, nlohmann::json& swap_interval,
                          std::optional<bool>& direct);
// The command line as it was typed, each argument quoted where it needs it,
// passwords hidden.
std::string command_line(int argc, char** argv);

}  // namespace suite_run
