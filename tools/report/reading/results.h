// What one results file holds, as read back by the parser.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "record/run_record.h"
#include "texts/texts.h"

namespace report {

// In the order of texts::programs, which holds their names.
enum class Program { cube, screens, triangles };
inline constexpr std::array<Program, texts::programs.size()> all_programs{
    Program::cube, Program::screens, Program::triangles};

const char* program_name(Program p);
std::optional<Program> program_from_name(const std::string& name);

// A printed figure: its value and the line it came from.
struct Figure {
    double value = 0;
    int line = 0;
};

struct Frame {
    int line = 0;       // the frame's "window:" line
    int window = 0;
    double seconds = 0;
    double first_rate = 0;   // Angles/sec (cube, triangles) or Charaters/sec (screens)
    double second_rate = 0;  // Vertex/sec (cube) or Triangles/sec (triangles); 0 for screens
    double triangles = 0;  // triangles only: drawn this frame
};

// How the summary at the end of a run came to be written.
enum class Ending { none, esc, size_limit };

struct Summary {
    Ending ending = Ending::none;
    std::optional<Figure> total_seconds;
    std::optional<Figure> first_average;   // as printed, in Frame::first_rate's unit
    std::optional<Figure> second_average;  // as printed, in Frame::second_rate's unit
};

struct Diagnostic {
    enum class Level { note, warning, error };
    Level level = Level::warning;
    std::string file;
    int line = 0;  // 0: about the whole file
    std::string message;
};

const char* level_name(Diagnostic::Level level);  // "note", "warning", "error"
std::string to_string(const Diagnostic& d);

// The runner's frames.csv: for every frame the time between the arrival of
// its report line and the previous one's.
struct FramesCsv {
    std::string path;
    std::vector<long long> frame;
    std::vector<double> printed;   // seconds, as the program printed them
    std::vector<double> interval;  // seconds; NaN where the runner had none
    std::size_t bad_rows = 0;
    int first_bad_line = 0;  // 1-based; 1 is the header
    std::string first_bad_text;
    // Intervals a double cannot hold to the microsecond: left out (NaN).
    std::size_t inexact = 0;
    int first_inexact_line = 0;
};

// A run: one results file and what stands beside it in its run folder.
struct Run {
    std::string path;
    std::string label;  // short, unique among the runs of a report
    Program program = Program::cube;
    std::string banner;
    std::optional<Figure> init_seconds;
    std::optional<Figure> plain_seconds;  // screens' plain-output pass
    std::optional<Figure> plain_rate;
    std::vector<Frame> frames;
    Summary summary;
    bool complete = false;  // reached the end of its summary
    std::vector<Diagnostic> diagnostics;
    nlohmann::json metadata;  // null when the run folder has none; shown as it is
    record::RunRecord record;         // the same, as the tools read it
    std::optional<int> exit_status;
    std::string stderr_text;  // the first line of stderr.txt
    std::optional<FramesCsv> frames_csv;  // none in older run folders
    std::vector<std::pair<double, double>> other_load;  // (frame, cores) from load.csv

    bool failed() const;  // holds an error: nothing in it can be trusted
};

}  // namespace report
