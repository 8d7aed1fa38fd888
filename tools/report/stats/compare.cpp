#include "report/stats/compare.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <optional>

#include <boost/math/distributions/students_t.hpp>

#include "common/number.h"
#include "report/stats/stats.h"

namespace report {

namespace {
std::vector<double> without_nan(const std::vector<double>& values) {
    std::vector<double> kept;
    for (double v : values)
        if (!std::isnan(v)) kept.push_back(v);
    return kept;
}

// Both sides' means and the variances of those means, with the degrees of
// freedom of their difference (NaN without spread).
struct Means {
    double a = 0, b = 0, var_a = 0, var_b = 0, df = 0;
};

std::optional<Means> means(const std::vector<double>& a_in, const std::vector<double>& b_in) {
    const auto a = without_nan(a_in), b = without_nan(b_in);
    if (a.empty() || b.empty() || a.size() + b.size() < 3) return std::nullopt;
    const auto da = describe(a), db = describe(b);
    const double na = static_cast<double>(a.size()), nb = static_cast<double>(b.size());
    Means m{da.mean, db.mean, da.sd * da.sd / na, db.sd * db.sd / nb, 0};
    if (a.size() == 1) {
        m.var_a = db.sd * db.sd / na;
        m.df = nb - 1;
    } else if (b.size() == 1) {
        m.var_b = da.sd * da.sd / nb;
        m.df = na - 1;
    } else {
        const double v = m.var_a + m.var_b;
        m.df = v * v / (m.var_a * m.var_a / (na - 1) + m.var_b * m.var_b / (nb - 1));
    }
    if (!std::isfinite(m.a + m.b + m.var_a + m.var_b)) return std::nullopt;
    return m;
}
}  // namespace

MannWhitney mann_whitney(const std::vector<double>& a_in, const std::vector<double>& b_in) {
    const auto a = without_nan(a_in), b = without_nan(b_in);
    MannWhitney r;
    if (a.empty() || b.empty()) return r;
    struct Item {
        double value;
        bool first;
    };
    std::vector<Item> all;
    for (double v : a) all.push_back({v, true});
    for (double v : b) all.push_back({v, false});
    std::sort(all.begin(), all.end(), [](const Item& x, const Item& y) { return x.value < y.value; });
    const double n1 = static_cast<double>(a.size()), n2 = static_cast<double>(b.size());
    const double n = n1 + n2;
    double rank_sum = 0, ties = 0;
    for (std::size_t i = 0; i < all.size();) {
        std::size_t j = i;
        while (j < all.size() && all[j].value == all[i].value) ++j;
        const double t = static_cast<double>(j - i);
        const double midrank = (static_cast<double>(i + 1) + static_cast<double>(j)) / 2;
        for (std::size_t k = i; k < j; ++k)
            if (all[k].first) rank_sum += midrank;
        ties += t * t * t - t;
        i = j;
    }
    r.u = rank_sum - n1 * (n1 + 1) / 2;
    const double variance = n1 * n2 / 12 * ((n + 1) - ties / (n * (n - 1)));
    if (variance <= 0) return r;
    const double deviation = std::max(0.0, std::fabs(r.u - n1 * n2 / 2) - 0.5);
    r.z = std::copysign(deviation / std::sqrt(variance), r.u - n1 * n2 / 2);
    r.p = std::erfc(std::fabs(r.z) / std::sqrt(2.0));
    return r;
}

double headline(const std::vector<RatioRun>& runs) {
    Sums total;
    for (const auto& r : runs)
        for (const Sums& s : batch_sums(r, 1)) total.numerator += s.numerator, total.denominator += s.denominator;
    return total.numerator / total.denominator;
}

std::vector<Sums> batch_sums(const RatioRun& run, std::size_t batches) {
    // Frames are counted and then walked in place: a run may hold millions.
    const std::size_t frames = std::min(run.numerator.size(), run.denominator.size());
    auto usable = [&](std::size_t i) {
        return !std::isnan(run.numerator[i]) && !std::isnan(run.denominator[i]);
    };
    std::size_t n = 0;
    for (std::size_t i = 0; i < frames; ++i) n += usable(i);
    const std::size_t k = std::min(n, batches);
    std::vector<Sums> out(k);
    for (std::size_t i = 0, seen = 0, j = 0; i < frames; ++i) {
        if (!usable(i)) continue;
        while ((j + 1) * n / k <= seen) ++j;  // batch j holds j*n/k up to (j+1)*n/k
        out[j].numerator += run.numerator[i];
        out[j].denominator += run.denominator[i];
        ++seen;
    }
    return out;
}

std::size_t batch_count(std::size_t frames) {
    const auto root = static_cast<std::size_t>(std::sqrt(static_cast<double>(frames)));
    return std::min<std::size_t>(root, 32);
}

Welch welch_values(const std::vector<double>& a, const std::vector<double>& b) {
    Welch w;
    w.units_a = without_nan(a).size();
    w.units_b = without_nan(b).size();
    const auto m = means(a, b);
    if (!m) {
        w.p = std::nan("");
        return w;
    }
    const double v = m->var_a + m->var_b, diff = m->a - m->b;
    if (v == 0) {  // no spread at all: equal or surely different
        w.p = diff == 0 ? 1 : 0;
        w.t = diff == 0 ? 0 : std::copysign(HUGE_VAL, diff);
        return w;
    }
    w.t = diff / std::sqrt(v);
    w.df = m->df;
    const boost::math::students_t dist(w.df);
    w.p = 2 * boost::math::cdf(boost::math::complement(dist, std::fabs(w.t)));
    return w;
}

LogRatio log_ratio(const std::vector<double>& a, const std::vector<double>& b,
                   double confidence) {
    const double nan = std::nan("");
    LogRatio r;
    auto logs = [&](const std::vector<double>& side, bool& ok) {
        std::vector<double> out;
        for (double v : without_nan(side)) {
            ok = ok && v > 0 && std::isfinite(v);
            out.push_back(std::log(v));
        }
        return out;
    };
    bool ok = true;
    const auto la = logs(a, ok), lb = logs(b, ok);
    r.test = welch_values(la, lb);
    const auto m = means(la, lb);
    if (!ok || !m) {
        r.test.p = nan;
        r.interval = {nan, nan};
        return r;
    }
    const double diff = m->a - m->b, v = m->var_a + m->var_b;
    if (v == 0) {
        r.interval = {std::exp(diff), std::exp(diff)};
        return r;
    }
    const boost::math::students_t dist(m->df);
    const double half =
        boost::math::quantile(boost::math::complement(dist, (1 - confidence) / 2)) * std::sqrt(v);
    r.interval = {std::exp(diff - half), std::exp(diff + half)};
    return r;
}

const char* unit_name(Unit u) { return u == Unit::runs ? "runs" : "batches"; }

std::string judged_on(Unit u, std::size_t runs_a, std::size_t runs_b) {
    if (u == Unit::batches)
        return "one run a side: run-to-run variation was not measured (run suite-run "
               "--repeat N, N of 3 or more, for each side); judged on batches of "
               "consecutive frames";
    auto runs = [](std::size_t n, const char* side) {
        return std::to_string(n) + (n == 1 ? " run of " : " runs of ") + side;
    };
    std::string text = "judged on the spread between runs: " + runs(runs_a, "A") + ", " +
                       runs(runs_b, "B");
    if (runs_a == 1 || runs_b == 1)
        text += std::string(" (") + (runs_a == 1 ? "A" : "B") + "'s run-to-run spread taken as " +
                (runs_a == 1 ? "B" : "A") + "'s)";
    return text;
}

const char* verdict_text(Verdict v) {
    switch (v) {
        case Verdict::faster: return "faster";
        case Verdict::slower: return "slower";
        case Verdict::within: return "within the practical threshold";
        case Verdict::same: return "the same within the practical threshold";
        case Verdict::no_difference: return "no significant difference";
        case Verdict::too_few: return "too few frames to tell";
        case Verdict::inconclusive: return "inconclusive";
    }
    return "?";
}

std::string verdict_label(Verdict v, double practical_percent) {
    const std::string threshold = common::format_printed(practical_percent) + "%";
    if (v == Verdict::within) return "within " + threshold;
    if (v == Verdict::same) return "the same within " + threshold;
    return verdict_text(v);
}

Verdict decide(const Evidence& e) {
    if (e.n_a < 1 || e.n_b < 1 || e.n_a + e.n_b < 3) return Verdict::too_few;
    const bool inside = against_threshold(e.interval, e.practical) == Beyond::inside;
    if (!(e.p < e.alpha) || std::isnan(e.ratio))
        return inside ? Verdict::same : Verdict::no_difference;
    const bool above = e.interval.low > 1, below = e.interval.high < 1;
    if (!above && !below) return inside ? Verdict::same : Verdict::no_difference;
    if (std::fabs(std::log(e.ratio)) < std::log1p(e.practical)) return Verdict::within;
    return above == e.higher_is_better ? Verdict::faster : Verdict::slower;
}

Beyond against_threshold(Interval interval, double practical) {
    if (!(practical > 0) || std::isnan(interval.low) || std::isnan(interval.high))
        return Beyond::neither;
    const double band = std::log1p(practical);
    const double low = std::log(interval.low), high = std::log(interval.high);
    if (low > band) return Beyond::above;
    if (high < -band) return Beyond::below;
    if (low >= -band && high <= band) return Beyond::inside;
    return Beyond::neither;
}

Interval mean_interval(const std::vector<double>& values, double confidence) {
    const auto d = describe(values);
    if (d.n < 2) return {std::nan(""), std::nan("")};
    const boost::math::students_t dist(static_cast<double>(d.n - 1));
    const double half = boost::math::quantile(dist, 0.5 + confidence / 2) * d.sd /
                        std::sqrt(static_cast<double>(d.n));
    return {d.mean - half, d.mean + half};
}

Spread spread(const std::vector<double>& values) {
    const auto d = describe(values);
    Spread s;
    s.n = d.n;
    s.mean = d.mean;
    s.sd = d.sd;
    s.min = d.min;
    s.max = d.max;
    s.cv = d.mean != 0 ? d.sd / std::fabs(d.mean) : std::nan("");
    return s;
}

}  // namespace report

