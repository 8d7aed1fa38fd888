// The cube frame: draw, time and report one rotation step of the cloud.
#pragma once

#include <ostream>

#include "startup.h"

namespace cube {

// What sets the program apart in the shared start-up and report.
extern const frame::benchmark benchmark;

extern double frame_seconds, angles_per_second, vertices_per_second;
extern double total_seconds, frames_measured, vertices_measured;

void display_callback();
// The four lines of a measured frame.
void write_frame_report(std::ostream& s, int window);
// The summary lines of the final report, from the run totals.
void write_summary(std::ostream& s);

}  // namespace cube
