// The texts the benchmarks print and the tools look for in their windows,
// consoles, results files and file names: one table, which the programs
// print from (frame/) and suite-run, the driver, the report and the tests
// read. Every text is a whole string literal, so data() is a C string.
// The odd blanks, capitals and spellings are the programs' own: readers of
// their output match them as they are.
#pragma once

#include <array>
#include <string_view>

namespace texts {

// A line with one figure in it, printed where "{}" stands; the report's
// parser reads the same text as its pattern.
constexpr std::string_view before(std::string_view line) {
    return line.substr(0, line.find("{}"));
}
constexpr std::string_view after(std::string_view line) {
    return line.substr(line.find("{}") + 2);
}

// The start of every program: under its banner on the console.
inline constexpr std::string_view copyright =
    "Copyright (C) 2023 Vantix :: Lumenfold. All rights reserved.";
inline constexpr std::string_view support = "For Support: support@vantix.example";
// The console's control hints ("for", where the window's overlay says "to").
inline constexpr std::array<std::string_view, 4> console_hints{{
    "Press Key R or Press Mouse Left button to Animate.",
    "Press Key C to Animate Manually.",
    "Press Key P or Press Mouse Right button for Pause.",
    "Press Key Esc for exit.",
}};
inline constexpr std::string_view initializing = "Initializing . . .";
inline constexpr std::string_view init_time = "It spent: {} Secs to Initialize.";

// The lines of each measured frame and of the closing summary.
inline constexpr std::string_view window_line = "window: {}";
inline constexpr std::string_view system_spent = "The system spent: {} Secs. ";
inline constexpr std::string_view it_spent = "It spent: {} Secs. ";
inline constexpr std::string_view angles_rate = "It was: {} Angles/sec.";
inline constexpr std::string_view vertex_rate = "It was: {} Vertex/sec.";
inline constexpr std::string_view character_rate = "It was: {} Charaters/sec.";  // sic
inline constexpr std::string_view triangles_drawn = "It drew {} Triangles.";
inline constexpr std::string_view triangle_rate = "It was: {} Triangles/sec.";
inline constexpr std::string_view machine_total = "Total machine time:  {} Secs. ";
inline constexpr std::string_view running_total = "Total running time:  {} Secs. ";
inline constexpr std::string_view average_angles = "Average: {} Angles/Sec.";
inline constexpr std::string_view average_vertices = "Average: {} Vertex/Sec.";
inline constexpr std::string_view average_characters = "Average: {} Characters/Sec.";
inline constexpr std::string_view average_triangles = "Average: {} Triangles/Sec.";

// screens' measure of plain text output before its first frame.
inline constexpr std::string_view plain_output = "Plain Output";
inline constexpr std::string_view plain_rate = "Conventionally, it was: {} Characters/sec.";
inline constexpr std::string_view graphical_output = "Graphical Output";

// triangles' summary when its mesh runs out; the console's total ends
// " Secs." where the file's ends " Secs. ".
inline constexpr std::string_view limit_reached = "It reaches limits, the program terminates.";
inline constexpr std::string_view limit_console_total = "Total running time:  {} Secs.";
inline constexpr std::string_view limit_average_angles = "Average Angles/Sec: {} Angles/Sec.";
inline constexpr std::string_view limit_average_triangles =
    "Average Triangles/Sec: {} Triangles/Sec.";

// The end of every run: where the results went, then the wait for Enter.
inline constexpr std::string_view results_saved =
    "Results have been saved in a file and you can find it at: {}";
inline constexpr std::string_view results_not_saved =
    "Results could not be saved completely in the file: {}";

struct program_texts {
    std::string_view name;          // program and folder name
    std::string_view window_title;  // title of its one window
    std::string_view frame_marker;  // start of a console line written once per measured frame
    std::string_view banner;        // first line of the console and of the results file
    std::string_view results_name;  // strftime pattern of the results file's name
    std::string_view overlay;       // control hints drawn in every frame
};

inline constexpr std::array<program_texts, 3> programs{{
    {"cube", "OPENGL Cube", before(window_line),
     "Vantix :: Lumenfold Benchmark Graphics Cube for Windows on Mac Mx system 2023.03.06.",
     "results_cube_windows_mac_mx @ local date %Y.%m.%d time %H.%M.%S.txt",
     "\nPress Key R or Press Mouse Left button to Animate.\nPress Key C to Animate Manually.\n"
     "Press Key P or Press Mouse Right button to Pause.\nPress Key Esc to exit.\n"},
    {"screens", "OPENGL Screens", before(character_rate),
     "Vantix :: Lumenfold Benchmark Graphics Screens for Windows on Mac Mx system 2023.03.06.",
     "results_screens_windows_mac_mx @ local date %Y.%m.%d time %H.%M.%S.txt",
     "\nPress Key R or Press Mouse Left button to Animate.\nPress Key C to Animate Manually.\n"
     "Press Key P or Press Mouse Right button to Pause.\nPress Key Esc to exit.\n"},
    {"triangles", "OPENGL Triangles", before(triangles_drawn),
     "Vantix :: Lumenfold Benchmark Graphics Triangles for Windows on Mac Mx system 2023.03.06.",
     "results_triangles_windows_mac_mx @ local date %Y.%m.%d time %H.%M.%S.txt",
     "\nPress Key R or Press Mouse Left button to Animate.\nPress Key C to Animate Manually.\n"
     "Press Key P or Press Mouse Right button to Pause.\nPress Key Esc to Exit.\n"},
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

// The end of the console line that ends a program's initialisation.
inline constexpr std::string_view initialised = after(init_time).substr(1);

// The entry of the program so named; nullptr if there is none.
inline constexpr const program_texts* find_program(std::string_view name) {
    for (const auto& p : programs)
        if (p.name == name) return &p;
    return nullptr;
}

// Each results file's name is the prefix, the program's name and "_".
constexpr bool named_for_itself(const program_texts& p) {
    const auto start = p.results_name.substr(0, results_prefix.size() + p.name.size() + 1);
    return start.substr(0, results_prefix.size()) == results_prefix &&
           start.substr(results_prefix.size(), p.name.size()) == p.name && start.back() == '_';
}
static_assert(named_for_itself(programs[0]) && named_for_itself(programs[1]) &&
              named_for_itself(programs[2]));

}  // namespace texts
