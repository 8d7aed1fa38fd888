#include "report/analysis/verdicts.h"

#include "report/reading/machine_load.h"
#include "report/analysis/repeats.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace report {

namespace {

// Each run's headline and median, runs without frames left out.
std::vector<double> run_headlines(const std::vector<FigureRun>& side) {
    std::vector<double> out;
    for (const auto& r : side)
        for (const Sums& s : batch_sums(r.headline, 1))
            if (const double h = s.numerator / s.denominator; !std::isnan(h)) out.push_back(h);
    return out;
}

std::vector<double> run_medians(const std::vector<FigureRun>& side) {
    std::vector<double> out;
    for (const auto& r : side)
        if (const double m = median(r.values); !std::isnan(m)) out.push_back(m);
    return out;
}

void judge_on_runs(FigureComparison& c, const std::vector<double>& head_a,
                   const std::vector<double>& head_b, const std::vector<FigureRun>& a,
                   const std::vector<FigureRun>& b, const CompareOptions& options) {
    const LogRatio headline = log_ratio(head_a, head_b, options.confidence);
    c.test = headline.test;
    c.interval = headline.interval;
    const auto med_a = run_medians(a), med_b = run_medians(b);
    c.median_interval = log_ratio(med_a, med_b, options.confidence).interval;
    c.ranks = mann_whitney(med_a, med_b);
}

// The medians of a run's values in batches as batch_sums() cuts them, each
// as a sum over one.
std::vector<Sums> batch_medians(const std::vector<double>& values, std::size_t batches) {
    std::vector<double> kept;
    for (double v : values)
        if (!std::isnan(v)) kept.push_back(v);
    std::vector<Sums> out;
    const std::size_t n = kept.size(), k = std::min(n, batches);
    for (std::size_t j = 0; j < k; ++j) {
        const auto first = kept.begin() + static_cast<std::ptrdiff_t>(j * n / k),
                   last = kept.begin() + static_cast<std::ptrdiff_t>((j + 1) * n / k);
        out.push_back({median(std::vector<double>(first, last)), 1});
    }
    return out;
}

std::vector<double> ratios(const std::vector<Sums>& sums) {
    std::vector<double> out;
    for (const Sums& s : sums) out.push_back(s.numerator / s.denominator);
    return out;
}

void judge_on_batches(FigureComparison& c, const FigureRun& a, const FigureRun& b,
                      const CompareOptions& options) {
    const auto sums_a = batch_sums(a.headline, batch_count(a.headline.numerator.size()));
    const auto sums_b = batch_sums(b.headline, batch_count(b.headline.numerator.size()));
    const LogRatio headline = log_ratio(ratios(sums_a), ratios(sums_b), options.confidence);
    c.test = headline.test;
    c.interval = headline.interval;
    const auto med_a = batch_medians(a.values, batch_count(a.values.size()));
    const auto med_b = batch_medians(b.values, batch_count(b.values.size()));
    c.median_interval = log_ratio(ratios(med_a), ratios(med_b), options.confidence).interval;
    c.ranks = mann_whitney(ratios(med_a), ratios(med_b));
}

// The sides' frame counts, averages over all frames and medians.
void describe_sides(FigureComparison& c, const std::vector<FigureRun>& a,
                    const std::vector<FigureRun>& b) {
    auto all_values = [](const std::vector<FigureRun>& side) {
        std::vector<double> all;
        for (const auto& r : side) all.insert(all.end(), r.values.begin(), r.values.end());
        return all;
    };
    auto all_frames = [](const std::vector<FigureRun>& side) {
        Sums total;
        for (const auto& r : side)
            for (const Sums& s : batch_sums(r.headline, 1))
                total.numerator += s.numerator, total.denominator += s.denominator;
        return total;
    };
    auto all_a = all_values(a), all_b = all_values(b);
    c.n_a = all_a.size();
    c.n_b = all_b.size();
    c.median_a = median(std::move(all_a));
    c.median_b = median(std::move(all_b));
    c.median_ratio = c.median_a / c.median_b;
    const Sums total_a = all_frames(a), total_b = all_frames(b);
    c.average_a = total_a.numerator / total_a.denominator;
    c.average_b = total_b.numerator / total_b.denominator;
    c.ratio = c.average_a / c.average_b;
}

}  // namespace

FigureComparison compare_figure(const std::string& name, bool higher_is_better,
                                const std::vector<FigureRun>& a, const std::vector<FigureRun>& b,
                                const CompareOptions& options) {
    FigureComparison c;
    c.name = name;
    c.higher_is_better = higher_is_better;
    describe_sides(c, a, b);
    const auto head_a = run_headlines(a), head_b = run_headlines(b);
    c.runs_a = head_a.size();
    c.runs_b = head_b.size();
    c.unit = c.runs_a > 1 || c.runs_b > 1 ? Unit::runs : Unit::batches;
    // A side of a single frame says nothing of its own run's spread, even as a unit.
    if (c.runs_a == 0 || c.runs_b == 0 || c.n_a < 2 || c.n_b < 2) {
        c.interval = c.median_interval = {std::nan(""), std::nan("")};
        c.test.p = std::nan("");
        return c;  // too few
    }
    if (c.unit == Unit::runs) {
        judge_on_runs(c, head_a, head_b, a, b, options);
    } else {
        // The runs with frames: one a side.
        auto with_frames = [](const std::vector<FigureRun>& side) -> const FigureRun& {
            for (const auto& r : side)
                if (!batch_sums(r.headline, 1).empty()) return r;
            return side.front();
        };
        judge_on_batches(c, with_frames(a), with_frames(b), options);
    }
    if (c.unit == Unit::batches &&
        (c.test.units_a < min_batches || c.test.units_b < min_batches)) {
        // A handful of batches would show intervals and a p far surer than they are.
        c.interval = c.median_interval = {std::nan(""), std::nan("")};
        c.test.p = c.ranks.p = std::nan("");
        return c;  // too few
    }
    c.verdict = decide({c.ratio, c.interval, c.test.p, higher_is_better, c.test.units_a,
                        c.test.units_b, options.alpha, options.practical_percent / 100});
    return c;
}

FigureComparison compare_figure(const std::string& name, bool higher_is_better,
                                const std::vector<std::vector<double>>& a,
                                const std::vector<std::vector<double>>& b,
                                const CompareOptions& options) {
    auto runs = [](const std::vector<std::vector<double>>& side) {
        std::vector<FigureRun> out;
        for (const auto& v : side) out.push_back({{v, std::vector<double>(v.size(), 1.0)}, v});
        return out;
    };
    return compare_figure(name, higher_is_better, runs(a), runs(b), options);
}

namespace {
// The first busy run of a side, as "A measured on a busy machine (...)"; "" if none.
std::string busy_side(const std::vector<const Analysis*>& side, const char* name) {
    for (const Analysis* a : side)
        if (const auto load = machine_load(*a->run); load && load->busy)
            return std::string(name) + " measured on a busy machine (" + load->what + ")";
    return "";
}

// A difference measured while other processes took the CPU says more about
// them than about the program: the verdict is withheld unless asked for.
void withhold_if_busy(ProgramComparison& pc, const CompareOptions& options) {
    if (options.allow_busy) return;
    std::string why = busy_side(pc.a, "A");
    const std::string b = busy_side(pc.b, "B");
    why += (why.empty() || b.empty() ? "" : "; ") + b;
    if (why.empty()) return;
    for (auto& f : pc.figures) {
        f.verdict = Verdict::inconclusive;
        f.withheld = why;
    }
}
// The known values of a fact over a side's runs, each with the first run
// that has it; runs without metadata know none.
std::map<std::string, std::string> values_of(const std::vector<const Analysis*>& side,
                                             std::string (*fact)(const Run&)) {
    std::map<std::string, std::string> out;
    for (const Analysis* a : side)
        if (!a->run->metadata.is_null())
            if (const std::string v = fact(*a->run); !v.empty()) out.emplace(v, a->run->label);
    return out;
}

std::string window_size_of(const Run& r) { return r.record.run.window_size.value_or(""); }

// What the runs of a side differ in, of what makes runs comparable, each
// value named with a run that has it; "" when they are all of a kind.
std::string mixed_side(const std::vector<const Analysis*>& side, const char* name) {
    static const std::pair<const char*, std::string (*)(const Run&)> facts[] = {
        {"window sizes", window_size_of},
        {"renderers", [](const Run& r) { return r.record.gl.renderer; }},
        {"variants", [](const Run& r) {
             return r.record.variant ? r.record.variant->name : std::string("(none)");
         }},
    };
    std::string out;
    for (const auto& [what, fact] : facts) {
        const auto values = values_of(side, fact);
        if (values.size() < 2) continue;
        std::string list;
        for (const auto& [value, run] : values) list += (list.empty() ? "" : ", ") + value + " in " + run;
        out += (out.empty() ? "" : "; ") + std::string(what) + " (" + list + ")";
    }
    return out.empty() ? "" : std::string(name) + " pools runs of different " + out;
}

// Runs unlike each other pooled in one side make an average of neither: the
// verdict is refused unless asked for. Sides of different window sizes are
// compared, with a word, since the figures depend on the size.
void refuse_if_mixed(ProgramComparison& pc, const CompareOptions& options) {
    const std::string a = mixed_side(pc.a, "A"), b = mixed_side(pc.b, "B");
    pc.mixed = a + (a.empty() || b.empty() ? "" : "; ") + b;
    auto sizes = [](const std::vector<const Analysis*>& side) {
        std::string list;
        for (const auto& [size, run] : values_of(side, window_size_of))
            list += (list.empty() ? "" : ", ") + size;
        return list;
    };
    const std::string size_a = sizes(pc.a), size_b = sizes(pc.b);
    if (!size_a.empty() && !size_b.empty() && size_a != size_b)
        pc.sizes_differ = "A: " + size_a + "; B: " + size_b;
    if (pc.mixed.empty() || options.allow_mixed) return;
    for (auto& f : pc.figures) {
        f.verdict = Verdict::inconclusive;
        f.withheld = pc.mixed + "; --allow-mixed pools them";
    }
}
}  // namespace

std::vector<ProgramComparison> compare_sides(const std::vector<Analysis>& analyses,
                                             const CompareOptions& options) {
    std::vector<ProgramComparison> out;
    for (Program p : all_programs) {
        ProgramComparison pc;
        pc.program = p;
        pc.a = side_runs(analyses, p, "A");
        pc.b = side_runs(analyses, p, "B");
        if (pc.a.empty() || pc.b.empty()) continue;
        // Frame time: the mean, seconds over frames; a rate: counts over seconds.
        auto values = [](const std::vector<const Analysis*>& side, FigureOf f) {
            std::vector<FigureRun> runs;
            for (const Analysis* a : side) {
                if (f.kind == FigureOf::Kind::frame_time) {
                    runs.push_back({{a->seconds, std::vector<double>(a->seconds.size(), 1.0)},
                                    a->seconds});
                } else {
                    const Rate& r = a->rates[f.rate];
                    runs.push_back({{r.counts, a->seconds}, r.per_frame});
                }
            }
            return runs;
        };
        const FigureOf frame_time{FigureOf::Kind::frame_time};
        pc.figures.push_back(compare_figure("frame time", false, values(pc.a, frame_time),
                                            values(pc.b, frame_time), options));
        const auto& rates = pc.a.front()->rates;
        for (std::size_t r = 0; r < rates.size(); ++r) {
            const FigureOf rate{FigureOf::Kind::rate, r};
            pc.figures.push_back(compare_figure(rates[r].name, true, values(pc.a, rate),
                                                values(pc.b, rate), options));
        }
        withhold_if_busy(pc, options);
        refuse_if_mixed(pc, options);
        out.push_back(std::move(pc));
    }
    return out;
}

std::string verdict_shown(const FigureComparison& f, double practical_percent) {
    if (f.verdict == Verdict::inconclusive && !f.withheld.empty())
        return "inconclusive: " + f.withheld;
    return verdict_label(f.verdict, practical_percent);
}

}  // namespace report
