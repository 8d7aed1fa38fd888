#include "report/analysis/rounds.h"

#include <algorithm>
#include <cmath>

#include "common/number.h"

namespace report {

double look_confidence(const record::RoundsRule& rule) {
    return 1 - rule.alpha / std::max(1, rule.max_rounds - 1);
}

const char* answer_text(Answer a) {
    switch (a) {
        case Answer::faster: return "faster";
        case Answer::slower: return "slower";
        case Answer::same: return "the same";
        case Answer::undecided: return "undecided";
    }
    return "?";
}

RunHeadline run_headline(const Analysis& a) {
    const double nan = std::nan("");
    if (a.rates.empty()) return {nan, nan};
    const auto& counts = a.rates.front().counts;
    const std::size_t n = std::min(counts.size(), a.seconds.size());
    double count = 0, seconds = 0;
    for (std::size_t i = 0; i < n; ++i) count += counts[i], seconds += a.seconds[i];
    if (n == 0) return {nan, nan};
    if (n == 1) return {count / seconds, nan};
    return {count / seconds, (count - counts[0]) / (seconds - a.seconds[0])};
}

double pooled_spread_percent(const std::vector<double>& a, const std::vector<double>& b) {
    double squares = 0, df = 0;
    for (const auto* side : {&a, &b}) {
        std::vector<double> logs;
        for (double v : *side)
            if (v > 0 && std::isfinite(v)) logs.push_back(std::log(v));
        if (logs.size() < 2) return std::nan("");
        double m = 0;
        for (double l : logs) m += l;
        m /= static_cast<double>(logs.size());
        for (double l : logs) squares += (l - m) * (l - m);
        df += static_cast<double>(logs.size() - 1);
    }
    return 100 * std::expm1(std::sqrt(squares / df));
}

Look look(const std::vector<double>& a, const std::vector<double>& b, const record::RoundsRule& rule) {
    Look l;
    l.ratio = log_ratio(a, b, look_confidence(rule));
    l.spread_percent = pooled_spread_percent(a, b);
    const double mid = std::sqrt(l.ratio.interval.low * l.ratio.interval.high);
    l.difference_percent = 100 * std::expm1(std::fabs(std::log(mid)));
    if (a.size() < 2 || b.size() < 2) return l;
    switch (against_threshold(l.ratio.interval, rule.practical_percent / 100)) {
        case Beyond::above: l.answer = Answer::faster; break;
        case Beyond::below: l.answer = Answer::slower; break;
        case Beyond::inside: l.answer = Answer::same; break;
        case Beyond::neither: break;
    }
    return l;
}

std::string cannot_tell(const Look& l, int rounds, double warm_up_spread_percent) {
    std::string text = "cannot tell after " + std::to_string(rounds) + " round" +
                       (rounds == 1 ? "" : "s");
    if (std::isnan(l.spread_percent)) return text + ": too few good runs to see their spread";
    text += ": the runs' averages spread by " + common::format_sig(l.spread_percent, 2) + "%";
    text += l.spread_percent >= l.difference_percent
                ? ", more than the difference (" + common::format_sig(l.difference_percent, 2) + "%)"
                : ", too much to tell a difference of " + common::format_sig(l.difference_percent, 2) + "%";
    // The first frames are in the printed averages; when they make most of
    // the spread, more frames dilute them.
    if (warm_up_spread_percent < l.spread_percent / 2)
        return text + "; most of it is the first frame of each run (" +
               common::format_sig(warm_up_spread_percent, 2) +
               "% without it): try more frames (--frames), which dilute it";
    return text + "; try more frames (--frames) or a quieter machine";
}

}  // namespace report
