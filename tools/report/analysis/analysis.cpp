#include "report/analysis/analysis.h"

#include <cmath>
#include <map>

#include "common/number.h"
#include "report/analysis/vblank.h"

namespace report {

namespace {

double relative_bound(double printed) {
    return std::isfinite(printed) && printed != 0 ? common::rounding_bound(printed) / std::fabs(printed)
                                                  : 0;
}

// The cube draws 2^(r+g+b) points a frame. Each frame's Vertex/sec times its
// time gives that count to about six digits; a power of two that close is
// taken as exact.
std::pair<double, bool> cube_points(const Run& run) {
    std::vector<double> estimates;
    for (const auto& f : run.frames)
        if (f.seconds > 0 && std::isfinite(f.second_rate)) estimates.push_back(f.second_rate * f.seconds);
    double estimate = median(estimates);
    const auto& s = run.summary;
    if (std::isnan(estimate) && s.second_average && s.total_seconds && !run.frames.empty())
        estimate = s.second_average->value * s.total_seconds->value / static_cast<double>(run.frames.size());
    if (!std::isfinite(estimate) || estimate <= 0) return {std::nan(""), false};
    const double power = std::exp2(std::round(std::log2(estimate)));
    if (std::fabs(estimate / power - 1) < 1e-4) return {power, true};
    return {estimate, false};
}

struct RateSource {
    const char* name;
    std::vector<double> counts;
    std::vector<double> count_bounds;  // relative, per frame
    std::vector<double> printed;       // the per-frame rate lines
    int line_offset;                   // of the rate line from the frame's first line
    std::optional<Figure> printed_average;
};

class Builder {
public:
    explicit Builder(const Run& run) : run_(run) {
        a_.run = &run;
        for (const auto& f : run.frames) {
            a_.seconds.push_back(f.seconds);
            a_.total_seconds += f.seconds;
            seconds_bound_ += common::rounding_bound(f.seconds);
        }
        a_.frame_time = describe(a_.seconds);
        a_.first_frame_excess =
            a_.seconds.size() < 3
                ? std::nan("")
                : a_.seconds.front() - median({a_.seconds.begin() + 1, a_.seconds.end()});
    }

    void add_rate(RateSource src) {
        Rate r;
        r.name = src.name;
        r.counts = src.counts;
        double count_total = 0, count_bound = 0;
        std::size_t mismatches = 0;
        int first_line = 0;
        std::string first_text;
        for (std::size_t i = 0; i < src.counts.size(); ++i) {
            const double s = run_.frames[i].seconds;
            const double rate = src.counts[i] / s;
            r.per_frame.push_back(rate);
            count_total += src.counts[i];
            count_bound += std::fabs(src.counts[i]) * src.count_bounds[i];
            if (!common::agrees(rate, src.printed[i], relative_bound(s) + src.count_bounds[i])) {
                if (mismatches++ == 0) {
                    first_line = run_.frames[i].line + src.line_offset;
                    first_text = common::format_printed(src.printed[i]) + " " + r.name +
                                 " is printed where the frame's own figures give " +
                                 common::format_printed(rate);
                }
            }
        }
        if (mismatches)
            warn(first_line, first_text +
                                 (mismatches > 1 ? " (and " + std::to_string(mismatches - 1) +
                                                       " more frames like it)"
                                                 : ""));
        r.average = count_total / a_.total_seconds;
        r.median = median(r.per_frame);
        r.low_1 = low_rate(r.counts, a_.seconds, 0.01);
        r.low_01 = low_rate(r.counts, a_.seconds, 0.001);
        r.printed_average = src.printed_average;
        if (r.printed_average) {
            const double relative = (count_total ? count_bound / std::fabs(count_total) : 0) +
                                    (a_.total_seconds ? seconds_bound_ / a_.total_seconds : 0);
            r.average_agrees = common::agrees(r.average, r.printed_average->value, relative);
            if (!r.average_agrees)
                warn(r.printed_average->line,
                     "the summary's average " + common::format_printed(r.printed_average->value) + " " +
                         r.name + " disagrees with the frame lines, which give " +
                         common::format_printed(r.average));
        }
        a_.rates.push_back(std::move(r));
    }

    void check_total() {
        const auto& total = run_.summary.total_seconds;
        if (!total) return;
        a_.total_agrees = common::agrees(a_.total_seconds, total->value,
                                 a_.total_seconds ? seconds_bound_ / a_.total_seconds : 0);
        if (!a_.total_agrees)
            warn(total->line, "the summary's total time " + common::format_printed(total->value) +
                                  " s disagrees with the sum of the frame times, " +
                                  common::format_printed(a_.total_seconds) + " s");
    }

    void check_plain_output() {
        const auto& seconds = run_.plain_seconds;
        const auto& rate = run_.plain_rate;
        if (!seconds || !rate) return;
        if (seconds->value <= 0.0015)
            warn(seconds->line, "the plain-output pass took " + common::format_printed(seconds->value * 1000) +
                                    " ms: at the clock's 1 ms resolution its rate is " +
                                    (seconds->value == 0 ? "infinite" : "coarse"));
        const double expected = screens_plain_characters / seconds->value;
        if (!common::agrees(expected, rate->value, relative_bound(seconds->value)))
            warn(rate->line, "the plain-output rate " + common::format_printed(rate->value) +
                                 " Characters/sec disagrees with its time, which gives " +
                                 common::format_printed(expected));
    }

    void check_clock() {
        for (double s : a_.seconds) {
            if (s == 0) ++a_.frames_zero_ms;
            if (s <= 0.0015) ++a_.frames_within_1ms;
        }
        const auto n = a_.seconds.size();
        const bool many_short = n && static_cast<double>(a_.frames_within_1ms) >= 0.1 * static_cast<double>(n);
        a_.coarse = a_.frames_zero_ms > 0 || many_short;
        std::string finer;
        if (a_.runner && a_.runner->paired)
            finer = "; the runner's clock in frames.csv is finer: frame periods of " +
                    common::format_fixed(1000 * a_.runner->runner.mean, 3) + " ms mean, " +
                    common::format_fixed(1000 * a_.runner->runner.median, 3) + " ms median";
        if (many_short)
            warn(0, std::to_string(a_.frames_within_1ms) + " of " + std::to_string(n) +
                        " frames took 0 or 1 ms: at the clock's 1 ms resolution their "
                        "times and rates are coarse" + finer);
        if (a_.frames_zero_ms)
            warn(0, std::to_string(a_.frames_zero_ms) +
                        " frame(s) took 0 ms, so their rates are infinite; averages and lows "
                        "still use the total time");
    }

    void attach_runner(const FramesCsv& f) {
        a_.runner = runner_clock(f);
        for (auto& d : runner_clock_checks(f, *a_.runner, a_.seconds, run_.path))
            a_.checks.push_back(std::move(d));
        if (holds_these_frames(f, a_.seconds)) a_.runner_intervals = f.interval;
    }

    // A rate at a display's refresh may be the display's, not the program's.
    void check_vblank() {
        if (a_.seconds.empty() || sync_shown_off(run_.record)) return;
        auto check = [&](double rate, const char* whose) {
            auto message = refresh_warning(rate, whose);
            if (message) warn(0, std::move(*message));
            return bool(message);
        };
        if (!check(static_cast<double>(a_.seconds.size()) / a_.total_seconds, "the frame rate") &&
            a_.runner && a_.runner->paired)
            check(1 / a_.runner->runner.mean, "the runner's frame rate");
    }

    void warn(int line, std::string message) {
        a_.checks.push_back(
            Diagnostic{Diagnostic::Level::warning, run_.path, line, std::move(message)});
    }

    Analysis& result() { return a_; }

private:
    const Run& run_;
    Analysis a_;
    double seconds_bound_ = 0;
};

std::vector<double> each(const Run& run, double (*get)(const Frame&)) {
    std::vector<double> v;
    for (const auto& f : run.frames) v.push_back(get(f));
    return v;
}

}  // namespace

Analysis analyse(const Run& run, const FramesCsv* frames) {
    Builder b(run);
    if (frames) b.attach_runner(*frames);
    const std::size_t n = run.frames.size();
    const std::vector<double> ones(n, 1.0), exact(n, 0.0);
    const auto first_rates = each(run, [](const Frame& f) { return f.first_rate; });
    const auto second_rates = each(run, [](const Frame& f) { return f.second_rate; });
    const auto& s = run.summary;
    switch (run.program) {
        case Program::cube: {
            const auto [points, is_exact] = cube_points(run);
            b.result().points_per_frame = points;
            if (n && !is_exact)
                b.warn(0, "the window's colour count is not a power of two by the frame lines; "
                          "Vertex/sec checks are approximate");
            b.add_rate({"Angles/sec", ones, exact, first_rates, 2, s.first_average});
            b.add_rate({"Vertex/sec", std::vector<double>(n, points),
                        std::vector<double>(n, is_exact ? 0.0 : 1e-5), second_rates, 3, s.second_average});
            break;
        }
        case Program::screens:
            b.check_plain_output();
            b.add_rate({"Characters/sec", std::vector<double>(n, screens_characters_per_frame),
                        exact, first_rates, 2, s.first_average});
            break;
        case Program::triangles: {
            const auto triangles = each(run, [](const Frame& f) { return f.triangles; });
            std::vector<double> bounds;
            for (double t : triangles) bounds.push_back(relative_bound(t));
            b.add_rate({"Angles/sec", ones, exact, first_rates, 3, s.first_average});
            b.add_rate({"Triangles/sec", triangles, bounds, second_rates, 4, s.second_average});
            b.result().throughput = throughput_rows(triangles, b.result().seconds);
            break;
        }
    }
    b.check_total();
    b.check_clock();
    b.check_vblank();
    return std::move(b.result());
}

std::vector<Throughput> throughput_rows(const std::vector<double>& triangles,
                                        const std::vector<double>& seconds,
                                        std::size_t max_rows) {
    auto build = [&](auto key) {
        std::map<double, Throughput> rows;
        std::map<double, double> sums;
        for (std::size_t i = 0; i < triangles.size() && i < seconds.size(); ++i) {
            const double t = triangles[i];
            if (std::isnan(t)) continue;
            auto [it, fresh] = rows.try_emplace(key(t));
            Throughput& row = it->second;
            if (fresh) row.triangles_low = row.triangles_high = t;
            row.triangles_low = std::min(row.triangles_low, t);
            row.triangles_high = std::max(row.triangles_high, t);
            ++row.frames;
            row.mean_seconds += seconds[i];
            sums[key(t)] += t;
        }
        std::vector<Throughput> out;
        for (auto& [k, row] : rows) {
            const double time = row.mean_seconds;
            row.triangles_per_second = sums[k] / time;
            row.mean_seconds = time / static_cast<double>(row.frames);
            out.push_back(row);
        }
        return out;
    };
    auto rows = build([](double t) { return t; });
    if (rows.size() <= max_rows) return rows;
    return build([](double t) { return t > 0 ? std::floor(std::log2(t)) : -1.0; });
}

}  // namespace report
