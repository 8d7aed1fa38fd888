#include <cmath>

#include "common/number.h"
#include "common/text.h"
#include "report/output/csv.h"
#include "report/output/outputs.h"

namespace report {

std::string csv_text(std::string_view text) {
    std::string s = common::valid_utf8(text);
    if (!s.empty() && std::string_view("=+-@\t\r").find(s[0]) != std::string_view::npos)
        s.insert(0, 1, '\'');
    if (s.find_first_of(",\"\n\r") == std::string::npos) return s;
    std::string quoted = "\"";
    for (char c : s) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

void write_csv(std::ostream& out, const Model& m) {
    // One layout for all programs; a column a program lacks stays empty.
    out << "program,run,side,file,line,frame,window,seconds,triangles,angles_per_sec,"
           "vertex_per_sec,characters_per_sec,triangles_per_sec,runner_interval_us\n";
    for (const auto& a : m.analyses) {
        const Run& r = *a.run;
        for (std::size_t i = 0; i < r.frames.size(); ++i) {
            const Frame& f = r.frames[i];
            const bool cube = r.program == Program::cube;
            const bool screens = r.program == Program::screens;
            const bool triangles = r.program == Program::triangles;
            out << program_name(r.program) << ',' << csv_text(r.label) << ',' << a.side << ','
                << csv_text(r.path) << ',' << f.line << ',' << i + 1 << ',' << f.window << ','
                << common::format_printed(f.seconds) << ','
                << (triangles ? common::format_printed(f.triangles) : "") << ','
                << (screens ? "" : common::format_printed(f.first_rate)) << ','
                << (cube ? common::format_printed(f.second_rate) : "") << ','
                << (screens ? common::format_printed(f.first_rate) : "") << ','
                << (triangles ? common::format_printed(f.second_rate) : "") << ',';
            // The runner's clock, where it saw this frame (suite-run's frames.csv).
            if (i < a.runner_intervals.size() && std::isfinite(a.runner_intervals[i]))
                out << common::format_fixed(a.runner_intervals[i] * 1e6, 0);
            out << '\n';
        }
    }
}

}  // namespace report
