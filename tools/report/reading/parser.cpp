#include "report/reading/parser.h"

#include <cmath>
#include <limits>
#include <string_view>

#include "common/number.h"
#include "report/reading/cursor.h"
#include "texts/texts.h"

namespace report {

namespace {

// A window number is what the toolkit hands out, a non-negative int; a
// fraction, nan or a number past int is not a program's output.
int window_number(double v, int line) {
    if (!(v >= 0 && v <= std::numeric_limits<int>::max()) || v != std::floor(v))
        throw Stop{false, line,
                   "a window number of " + common::format_printed(v) + ", which no program writes"};
    return static_cast<int>(v);
}

// The start every program shares: banner, two blanks.
void read_banner_blanks(Cursor& c) { c.expect_blanks(2); }

void read_initialisation(Cursor& c, Run& run) {
    run.init_seconds = c.expect_time_figure(texts::init_time);
    c.expect_blanks(2);
}

std::string frames_kept(const Run& run) {
    return std::to_string(run.frames.size()) + " complete frame" +
           (run.frames.size() == 1 ? "" : "s") + " kept";
}

// Frame blocks, each opened by its window line, up to the summary's total
// time line; `figures` reads the lines between the window line and the
// closing blank. Where `size_limit` is set (triangles), an extra blank before
// the total says the run stopped at its size limit.
void read_frames_to_total(Cursor& c, Run& run, std::string_view total, bool size_limit,
                          void (*figures)(Cursor&, Frame&)) {
    run.summary.ending = Ending::esc;
    for (;;) {
        if (c.at_end())
            throw Stop{true, c.line_no(), "the file ends without its closing summary"};
        const int line = c.line_no();
        auto [which, numbers] = size_limit ? c.expect_one_of({texts::window_line, total, ""})
                                           : c.expect_one_of({texts::window_line, total});
        if (which == 1) {
            run.summary.total_seconds = Figure{time_value(numbers[0], line), line};
            break;
        }
        if (which == 2) {
            run.summary.ending = Ending::size_limit;
            run.summary.total_seconds = c.expect_time_figure(total);
            break;
        }
        Frame f;
        f.line = line;
        f.window = window_number(numbers[0], line);
        figures(c, f);
        run.frames.push_back(f);
        c.expect("");
    }
}

void parse_cube(Cursor& c, Run& run) {
    read_banner_blanks(c);
    read_initialisation(c, run);
    read_frames_to_total(c, run, texts::machine_total, false, [](Cursor& k, Frame& f) {
        f.seconds = k.expect_time(texts::system_spent);
        f.first_rate = k.expect(texts::angles_rate)[0];
        f.second_rate = k.expect(texts::vertex_rate)[0];
    });
    run.summary.first_average = c.expect_figure(texts::average_angles);
    run.summary.second_average = c.expect_figure(texts::average_vertices);
}

void parse_screens(Cursor& c, Run& run) {
    read_banner_blanks(c);
    c.expect(texts::plain_output);
    c.expect("");
    run.plain_seconds = c.expect_time_figure(texts::system_spent);
    run.plain_rate = c.expect_figure(texts::plain_rate);
    c.expect_blanks(2);
    c.expect(texts::graphical_output);
    c.expect("");
    read_initialisation(c, run);
    read_frames_to_total(c, run, texts::machine_total, false, [](Cursor& k, Frame& f) {
        f.seconds = k.expect_time(texts::system_spent);
        f.first_rate = k.expect(texts::character_rate)[0];
    });
    run.summary.first_average = c.expect_figure(texts::average_characters);
}

void parse_triangles(Cursor& c, Run& run) {
    read_banner_blanks(c);
    read_initialisation(c, run);
    read_frames_to_total(c, run, texts::running_total, true, [](Cursor& k, Frame& f) {
        f.triangles = k.expect(texts::triangles_drawn)[0];
        if (!(f.triangles >= 0) || std::isinf(f.triangles))
            throw Stop{false, f.line + 1,
                       "a count of " + common::format_printed(f.triangles) +
                           " triangles, which no program writes"};
        f.seconds = k.expect_time(texts::it_spent);
        f.first_rate = k.expect(texts::angles_rate)[0];
        f.second_rate = k.expect(texts::triangle_rate)[0];
    });
    if (run.summary.ending == Ending::size_limit) {
        run.summary.first_average = c.expect_figure(texts::limit_average_angles);
        run.summary.second_average = c.expect_figure(texts::limit_average_triangles);
    } else {
        run.summary.first_average = c.expect_figure(texts::average_angles);
        run.summary.second_average = c.expect_figure(texts::average_triangles);
    }
}

std::optional<Program> program_in_banner(std::string_view banner) {
    if (banner.find(" Graphics Cube ") != std::string_view::npos) return Program::cube;
    if (banner.find(" Graphics Screens ") != std::string_view::npos) return Program::screens;
    if (banner.find(" Graphics Triangles ") != std::string_view::npos)
        return Program::triangles;
    return std::nullopt;
}

// The program a results file's name gives, "results_<program>_...".
std::optional<Program> program_in_name(const std::string& path) {
    const auto slash = path.find_last_of('/');
    const std::string base = path.substr(slash == std::string::npos ? 0 : slash + 1);
    const std::string prefix(texts::results_prefix);
    if (base.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
    const auto end = base.find('_', prefix.size());
    if (end == std::string::npos) return std::nullopt;
    return program_from_name(base.substr(prefix.size(), end - prefix.size()));
}

void add(Run& run, Diagnostic::Level level, int line, std::string message) {
    run.diagnostics.push_back(Diagnostic{level, run.path, line, std::move(message)});
}

void read_all(Cursor& c, Run& run, const std::string& name) {
    if (c.at_end()) {
        add(run, Diagnostic::Level::error, 1, "the file is empty; expected the banner line");
        return;
    }
    const std::string_view banner = c.peek();
    run.banner = std::string(banner);
    const auto named = program_in_name(name);
    auto program = program_in_banner(banner);
    if (!program && c.next_is_cut() && named) program = named;  // killed within its first line
    if (!program) {
        add(run, Diagnostic::Level::error, 1,
            "not a results file of cube, screens or triangles: expected a banner naming "
            "\"Graphics Cube\", \"Graphics Screens\" or \"Graphics Triangles\", found " +
                describe_found(banner));
        return;
    }
    run.program = *program;
    if (named && *named != *program)
        add(run, Diagnostic::Level::warning, 1,
            std::string("the file is named for ") + program_name(*named) +
                " but its banner is that of " + program_name(*program));
    try {
        if (c.next_is_cut()) throw Stop{true, 1, "the banner line is cut off mid-way"};
        c.skip();
        switch (run.program) {
            case Program::cube: parse_cube(c, run); break;
            case Program::screens: parse_screens(c, run); break;
            case Program::triangles: parse_triangles(c, run); break;
        }
        c.expect("");
        c.expect_end();
        run.complete = true;
    } catch (const Stop& stop) {
        if (stop.cut)
            add(run, Diagnostic::Level::warning, stop.line,
                stop.message + " (the run was probably killed); " + frames_kept(run));
        else
            add(run, Diagnostic::Level::error, stop.line, stop.message);
    }
}

}  // namespace

Run parse_results(const std::string& text, const std::string& name) {
    common::LineReader lines(text);
    return parse_results(lines, name);
}

Run parse_results(common::LineReader& lines, const std::string& name) {
    Run run;
    run.path = name;
    Cursor c(lines);
    read_all(c, run, name);
    if (!lines.error().empty())
        add(run, Diagnostic::Level::error, c.line_no(), "cannot be read: " + lines.error());
    return run;
}

}  // namespace report
