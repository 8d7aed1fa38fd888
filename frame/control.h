// Run control: keys and mouse buttons start, step, pause and end the run;
// the reshape keeps the aspect ratio and the camera.
#pragma once

#include <cstdint>

namespace frame {

// The animation step. 64 bits wide so that no run, however long, overflows it.
extern std::int64_t frame_tick;

void keyboard_callback(unsigned char key, int x, int y);
void mouse_callback(int button, int state, int x, int y);
void idle_callback();
void reshape_callback(int width, int height);

// The camera of the rotating scenes: it looks towards (0, sin t, 0) for the
// step t at which the window was last reshaped.
void look_at_step();

}  // namespace frame
