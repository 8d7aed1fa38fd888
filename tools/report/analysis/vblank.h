// Sync to the display's refresh: a driver that ties every swap to it caps the
// frame rate there, and a figure at that cap says nothing about the program.
#pragma once

#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "record/run_record.h"

namespace report {

struct RefreshMatch {
    double refresh = 0;  // Hz
    int multiple = 1;    // the rate is refresh * multiple
};

// The common refresh rate (60, 59.94, 75, 90, 120, 144, 165, 240 Hz) that
// `rate` sits within `tolerance` (a fraction) of, as it is or doubled. Halves
// are left out: at 1 ms resolution too many honest rates land near one.
std::optional<RefreshMatch> near_refresh(double rate, double tolerance = 0.01);

// The warning for a rate at a refresh rate, or nothing; `whose` names the rate.
std::optional<std::string> refresh_warning(double rate, const std::string& whose);

// Whether the runner's metadata shows the sync turned off: not kept, and the
// drivers' switches set to 0.
bool sync_shown_off(const record::RunRecord& record);

}  // namespace report
