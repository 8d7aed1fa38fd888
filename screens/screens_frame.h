// The screens frame: the page and the hints drawn a character at a time.
#pragma once

#include <ostream>

#include "startup.h"

namespace screens {

// What sets the program apart in the shared start-up and report.
extern const frame::benchmark benchmark;

inline constexpr double characters_per_page = 6450;  // 50 lines of 128 digits and a newline

extern double frame_seconds, characters_per_frame, characters_per_second;
extern double total_seconds, characters_measured;

void display_callback();
// The figures of a frame; the results file has the window line before them.
void write_frame_report(std::ostream& s);
void write_summary(std::ostream& s);

}  // namespace screens
