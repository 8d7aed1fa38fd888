// The texts the tools look for in the programs' windows, consoles and file
// names. The programs write their own copies; these are the tools' single
// table of them, read by suite-run, the driver, the report and the tests.
#pragma once

#include <array>
#include <string_view>

namespace texts {

struct program_texts {
    std::string_view name;          // program and folder name
    std::string_view window_title;  // title of its one window
    std::string_view frame_marker;  // start of a console line written once per measured frame
};

inline constexpr std::array<program_texts, 3> programs{{
    {"cube", "OPENGL Cube", "window: "},
    {"screens", "OPENGL Screens", "It was: "},
    {"triangles", "OPENGL Triangles", "It drew "},
}};

// The last console line before a program waits for Enter.
inline constexpr std::string_view prompt = "Press Enter to Exit.";

// Every results file's name starts so, then the program's name.
inline constexpr std::string_view results_prefix = "results_";
inline constexpr std::string_view results_extension = ".txt";

// Mesa's line on standard error when the runner turns the sync to the
// display's refresh off through its environment switch.
inline constexpr std::string_view mesa_vblank_notice =
    "ATTENTION: default value of option vblank_mode overridden by environment.";

// The switches the drivers document for turning the sync to the display's
// refresh off (Mesa's and NVIDIA's), each with the value that does it.
inline constexpr std::array<std::array<const char*, 2>, 2> no_vsync{{
    {"vblank_mode", "0"},
    {"__GL_SYNC_TO_VBLANK", "0"},
}};

// The console line that ends a program's initialisation.
inline constexpr std::string_view initialised = "Secs to Initialize.";

// The entry of the program so named; nullptr if there is none.
inline constexpr const program_texts* find_program(std::string_view name) {
    for (const auto& p : programs)
        if (p.name == name) return &p;
    return nullptr;
}

}  // namespace texts
