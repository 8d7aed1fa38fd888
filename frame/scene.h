// Steps that every display callback shares around its own workload.
#pragma once

namespace frame {

// Clears all four buffers, then sets the clear values for the next frame.
void clear_frame();
// Turns the scene by the current step plus 45 degrees about the cube's
// diagonal, with the unit cube centred on the origin.
void turn_scene();

}  // namespace frame
