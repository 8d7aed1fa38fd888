// Text laid over the workload in window pixels from the bottom-left corner.
#pragma once

namespace frame {

inline constexpr double overlay_line_advance = 18.0;

// Draws text with one bitmap character per byte, moving down one line per
// line feed; leaves lighting and depth testing on and both matrices as found.
void draw_overlay_text(const char* text, double x, double y);

}  // namespace frame
