// Start-up shared by the benchmarks. Each program's main calls these steps in
// its own order, handing over what sets it apart in a `benchmark`.
#pragma once

#include <ostream>

namespace frame {

struct benchmark {
    const char* banner;               // first banner line, console and file
    const char* results_name_format;  // strftime pattern of the results file
    const char* window_title;
    const char* overlay;              // control hints drawn in every frame
    void (*camera)();                 // sets the view after every reshape, or none
    void (*summary)(std::ostream&);   // summary lines of the final report
    int blanks_before_path;           // extra console blank lines after the summary
    int blanks_after_path;            // console blank lines before the prompt
    bool front_face_cw;               // clockwise front faces
    void (*bind_arrays)();            // binds the client arrays, or none
};

extern const benchmark* program;
extern int window_id;
extern char overlay_text[1000];
extern int red_bits, green_bits, blue_bits, alpha_bits;

// Milliseconds since freeglut's initialisation: the only clock of the suite.
double elapsed_ms();

// Names and opens the results file and writes the banner.
void open_report(const benchmark& b);
// Control hints and "Initializing . . ." on the console; fills overlay_text.
void announce_start();
void init_glut(int* argc, char** argv);
// Starts the timed initialisation, opens the window and reads its depths.
void create_window();
// The fixed rendering state (gl_state.h) with the benchmark's front face and
// arrays.
void set_render_state(const benchmark& b);
// Ends the timed initialisation, reports it, registers the callbacks and
// enters the main loop for good.
[[noreturn]] void finish_startup(void (*display)());

}  // namespace frame
