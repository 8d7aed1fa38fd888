// What GL a display offers, asked through a small context of the kind the
// benchmarks ask for: recorded beside the results so they can be understood.
#pragma once

#include <optional>
#include <string>

namespace driver {

struct gl_info {
    std::string vendor, renderer, version;
    int red_bits = 0, green_bits = 0, blue_bits = 0, alpha_bits = 0;
    int depth_bits = 0, stencil_bits = 0;
    // The swap interval a new context gets (0: swaps not tied to the
    // display's refresh); none where no GLX swap-control extension reads it.
    std::optional<int> swap_interval;
    // The driver's own word on acceleration (GLX_MESA_query_renderer); none
    // where the driver does not say.
    std::optional<bool> accelerated;
    bool direct = false;  // the context renders in this process, not in the X server
};

std::optional<gl_info> probe_gl(const std::string& display);

}  // namespace driver
