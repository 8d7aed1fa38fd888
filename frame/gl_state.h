// The window and fixed GL state every benchmark starts with, apart from the
// rest of the frame library so that the bare references (bare/) make the
// very same calls and nothing more.
#pragma once

namespace frame {

// The window's buffers, size and place, then the window itself.
// Returns its GLUT identifier.
int open_gl_window(const char* title);

// The fixed rendering state. bind_arrays, when given, runs right after the
// client arrays are enabled.
void set_fixed_state(bool front_face_cw, void (*bind_arrays)());

}  // namespace frame
