#include "report/reading/runner_clock.h"

#include <charconv>
#include <cmath>

#include "common/number.h"

namespace report {

namespace {

std::vector<std::string_view> split(std::string_view line, char sep) {
    std::vector<std::string_view> cells;
    for (std::size_t start = 0;;) {
        const auto end = line.find(sep, start);
        cells.push_back(line.substr(start, end - start));
        if (end == std::string_view::npos) return cells;
        start = end + 1;
    }
}

template <class Int>
std::optional<Int> whole(std::string_view s) {
    Int v{};
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size() || s.empty()) return std::nullopt;
    return v;
}

// Whether `seconds` gives back exactly `us` microseconds, as every output and
// the store write it: past 2^53 a double skips whole microseconds.
bool exact_microseconds(unsigned long long us, double seconds) {
    return us <= (1ULL << 53) && static_cast<unsigned long long>(std::llround(seconds * 1e6)) == us;
}

}  // namespace

FramesCsv parse_frames_csv(std::string_view text, const std::string& path) {
    FramesCsv f;
    f.path = path;
    int number = 0;
    auto bad = [&](std::string_view line) {
        if (f.bad_rows++ == 0) {
            f.first_bad_line = number;
            // Shown in reports: printable ASCII only, whatever the file holds.
            for (char ch : line.substr(0, 80))
                f.first_bad_text += ch >= ' ' && ch <= '~' ? ch : '?';
        }
    };
    for (std::size_t start = 0; start < text.size();) {
        auto end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        ++number;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (number == 1) {
            if (line != "frame,printed_ms,runner_interval_us") bad(line);
            continue;
        }
        if (line.empty()) continue;
        const auto cells = split(line, ',');
        if (cells.size() != 3) {
            bad(line);
            continue;
        }
        const auto frame = whole<long long>(cells[0]);
        const auto printed = common::parse_number(cells[1]);
        const auto interval = whole<unsigned long long>(cells[2]);
        if (!frame || !printed || !std::isfinite(*printed) || *printed < 0 ||
            (!interval && !cells[2].empty())) {
            bad(line);
            continue;
        }
        f.frame.push_back(*frame);
        f.printed.push_back(*printed / 1000);
        double seconds = interval ? static_cast<double>(*interval) / 1e6 : std::nan("");
        if (interval && !exact_microseconds(*interval, seconds)) {
            if (f.inexact++ == 0) f.first_inexact_line = number;
            seconds = std::nan("");
        }
        f.interval.push_back(seconds);
    }
    return f;
}

RunnerClock runner_clock(const FramesCsv& f, double tolerance) {
    RunnerClock c;
    c.rows = f.frame.size();
    c.tolerance = tolerance;
    std::vector<double> printed, runner;
    for (std::size_t i = 0; i < f.frame.size(); ++i) {
        if (std::isnan(f.interval[i])) continue;
        printed.push_back(f.printed[i]);
        runner.push_back(f.interval[i]);
        if (std::fabs(f.interval[i] - f.printed[i]) > tolerance && c.beyond++ == 0)
            c.first_beyond = f.frame[i];
    }
    c.paired = printed.size();
    c.printed = describe(printed);
    c.runner = describe(runner);
    if (c.paired) {
        c.mean_beyond = std::fabs(c.runner.mean - c.printed.mean) > tolerance;
        c.median_beyond = std::fabs(c.runner.median - c.printed.median) > tolerance;
        c.p99_beyond = std::fabs(c.runner.p99 - c.printed.p99) > tolerance;
    }
    return c;
}

std::optional<std::size_t> first_other_frame(const FramesCsv& f,
                                             const std::vector<double>& seconds) {
    for (std::size_t i = 0; i < seconds.size() && i < f.printed.size(); ++i)
        if (std::fabs(f.printed[i] - seconds[i]) > 1e-9 + 1e-6 * std::fabs(seconds[i])) return i;
    return std::nullopt;
}

bool holds_these_frames(const FramesCsv& f, const std::vector<double>& seconds) {
    if (f.frame.size() != seconds.size() || first_other_frame(f, seconds)) return false;
    for (std::size_t i = 0; i < f.frame.size(); ++i)
        if (f.frame[i] != static_cast<long long>(i) + 1) return false;
    return true;
}

std::vector<Diagnostic> runner_clock_checks(const FramesCsv& f, const RunnerClock& c,
                                            const std::vector<double>& seconds,
                                            const std::string& results_path) {
    std::vector<Diagnostic> out;
    auto warn = [&](const std::string& file, int line, std::string message) {
        out.push_back(Diagnostic{Diagnostic::Level::warning, file, line, std::move(message)});
    };
    if (f.bad_rows)
        warn(f.path, f.first_bad_line,
             "not a frames.csv row (frame,printed_ms,runner_interval_us): \"" + f.first_bad_text +
                 "\"" +
                 (f.bad_rows > 1 ? "; " + std::to_string(f.bad_rows - 1) + " more left out" : ""));
    if (f.inexact)
        warn(f.path, f.first_inexact_line,
             "a runner interval too large to hold to the microsecond is left out" +
                 (f.inexact > 1 ? "; " + std::to_string(f.inexact - 1) + " more" : std::string()));
    if (c.rows != seconds.size())
        warn(results_path, 0, "frames.csv beside it holds " + std::to_string(c.rows) +
                                  " frames, the results file " + std::to_string(seconds.size()));
    // The same printed figures in the same order, or the file is another run's.
    if (const auto i = first_other_frame(f, seconds))
        warn(f.path, 0,
             "frame " + std::to_string(f.frame[*i]) + " has " +
                 common::format_fixed(1000 * f.printed[*i], 3) + " ms here but " +
                 common::format_fixed(1000 * seconds[*i], 3) + " ms in the results file");
    if (!(c.mean_beyond || c.median_beyond || c.p99_beyond || c.beyond)) return out;
    std::string which;
    auto add = [&](bool beyond, const char* name, double runner, double printed) {
        if (!beyond) return;
        which += std::string(which.empty() ? "" : ", ") + name + " " +
                 common::format_fixed(1000 * runner, 3) + " ms against " + common::format_fixed(1000 * printed, 3) +
                 " ms";
    };
    add(c.mean_beyond, "mean", c.runner.mean, c.printed.mean);
    add(c.median_beyond, "median", c.runner.median, c.printed.median);
    add(c.p99_beyond, "p99", c.runner.p99, c.printed.p99);
    warn(results_path, 0,
         "the runner's frame periods and the printed frame times differ by more than " +
             common::format_fixed(1000 * c.tolerance, 0) + " ms (the 1 ms clock plus the pipe): " +
             (which.empty() ? "" : which + "; ") + std::to_string(c.beyond) + " of " +
             std::to_string(c.paired) + " frames, the first frame " + std::to_string(c.first_beyond));
    return out;
}

}  // namespace report
