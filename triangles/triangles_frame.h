// The triangles frame: a Fibonacci-growing draw from the mesh, its report,
// and the limit that ends the run.
#pragma once

#include <cstdint>
#include <ostream>

#include "index_count.h"
#include "startup.h"

namespace triangles {

// What sets the program apart in the shared start-up and report.
extern const frame::benchmark benchmark;

extern double frame_seconds, angles_per_second, triangles_per_second;
extern std::int64_t index_count, triangles_drawn, frames_measured, total_triangles;
extern double total_seconds;

// What GL is handed: never past the end of the array, never negative.
std::int64_t indices_to_draw(std::int64_t count);

void display_callback();
void write_frame_report(std::ostream& s, int window);
void write_summary(std::ostream& s);
// The run passed its size limit: report, wait for Enter, exit.
[[noreturn]] void limit_report();

}  // namespace triangles
