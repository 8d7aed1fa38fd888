#include "across.h"

#include "machine_load.h"

#include <algorithm>
#include <cmath>

namespace report {

namespace {

std::vector<const Analysis*> select(const std::vector<Analysis>& analyses, Program program,
                                    const std::string& side) {
    std::vector<const Analysis*> chosen;
    for (const auto& a : analyses)
        if (a.run->program == program && a.side == side && !a.seconds.empty())
            chosen.push_back(&a);
    return chosen;
}

void add_figure(RepeatGroup& g, const std::string& name, double (*get)(const Analysis&, std::size_t),
                std::size_t rate = 0) {
    RepeatFigure f;
    f.name = name;
    for (const Analysis* a : g.runs) f.values.push_back(get(*a, rate));
    f.spread = spread(f.values);
    g.figures.push_back(std::move(f));
}

std::vector<double> concat(const std::vector<std::vector<double>>& runs) {
    std::vector<double> all;
    for (const auto& r : runs) all.insert(all.end(), r.begin(), r.end());
    return all;
}

}  // namespace

std::vector<RepeatGroup> repeat_groups(const std::vector<Analysis>& analyses) {
    std::vector<std::string> sides;
    for (const auto& a : analyses)
        if (std::find(sides.begin(), sides.end(), a.side) == sides.end()) sides.push_back(a.side);
    std::sort(sides.begin(), sides.end());
    std::vector<RepeatGroup> groups;
    for (const auto& side : sides) {
        for (Program p : all_programs) {
            RepeatGroup g;
            g.program = p;
            g.side = side;
            g.runs = select(analyses, p, side);
            if (g.runs.size() < 2) continue;
            add_figure(g, "frames", [](const Analysis& a, std::size_t) {
                return static_cast<double>(a.frame_time.n);
            });
            add_figure(g, "frame time mean (ms)",
                       [](const Analysis& a, std::size_t) { return 1000 * a.frame_time.mean; });
            add_figure(g, "frame time median (ms)",
                       [](const Analysis& a, std::size_t) { return 1000 * a.frame_time.median; });
            add_figure(g, "frame time p99 (ms)",
                       [](const Analysis& a, std::size_t) { return 1000 * a.frame_time.p99; });
            const auto& rates = g.runs.front()->rates;
            for (std::size_t r = 0; r < rates.size(); ++r) {
                add_figure(g, rates[r].name + " average",
                           [](const Analysis& a, std::size_t i) { return a.rates[i].average; }, r);
                add_figure(g, rates[r].name + " 1% low",
                           [](const Analysis& a, std::size_t i) { return a.rates[i].low_1; }, r);
            }
            groups.push_back(std::move(g));
        }
    }
    return groups;
}

FigureComparison compare_figure(const std::string& name, bool higher_is_better,
                                const std::vector<FigureRun>& a, const std::vector<FigureRun>& b,
                                const CompareOptions& options) {
    FigureComparison c;
    c.name = name;
    c.higher_is_better = higher_is_better;
    std::vector<std::vector<double>> values_a, values_b;
    std::vector<RatioRun> head_a, head_b;
    for (const auto& r : a) values_a.push_back(r.values), head_a.push_back(r.headline);
    for (const auto& r : b) values_b.push_back(r.values), head_b.push_back(r.headline);
    const auto all_a = concat(values_a), all_b = concat(values_b);
    c.n_a = all_a.size();
    c.n_b = all_b.size();
    c.average_a = headline(head_a);
    c.average_b = headline(head_b);
    c.ratio = c.average_a / c.average_b;
    c.interval = bootstrap_headline_ratio(head_a, head_b, options.resamples, options.seed,
                                          options.confidence);
    c.test = welch_batch_means(head_a, head_b);
    c.median_a = median(all_a);
    c.median_b = median(all_b);
    c.median_ratio = c.median_a / c.median_b;
    c.median_interval = bootstrap_median_ratio(values_a, values_b, options.resamples,
                                               options.seed, options.confidence);
    c.ranks = mann_whitney(all_a, all_b);
    c.verdict = decide(c.ratio, c.interval, c.test.p, higher_is_better, c.n_a, c.n_b,
                       options.alpha, options.practical_percent / 100);
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
}  // namespace

std::vector<ProgramComparison> compare_sides(const std::vector<Analysis>& analyses,
                                             const CompareOptions& options) {
    std::vector<ProgramComparison> out;
    for (Program p : all_programs) {
        ProgramComparison pc;
        pc.program = p;
        pc.a = select(analyses, p, "A");
        pc.b = select(analyses, p, "B");
        if (pc.a.empty() || pc.b.empty()) continue;
        // Frame time: the mean, seconds over frames; a rate: counts over seconds.
        auto values = [](const std::vector<const Analysis*>& side, int rate) {
            std::vector<FigureRun> runs;
            for (const Analysis* a : side) {
                if (rate < 0) {
                    runs.push_back({{a->seconds, std::vector<double>(a->seconds.size(), 1.0)},
                                    a->seconds});
                } else {
                    const Rate& r = a->rates[static_cast<std::size_t>(rate)];
                    runs.push_back({{r.counts, a->seconds}, r.per_frame});
                }
            }
            return runs;
        };
        pc.figures.push_back(
            compare_figure("frame time", false, values(pc.a, -1), values(pc.b, -1), options));
        const auto& rates = pc.a.front()->rates;
        for (std::size_t r = 0; r < rates.size(); ++r)
            pc.figures.push_back(compare_figure(rates[r].name, true,
                                                values(pc.a, static_cast<int>(r)),
                                                values(pc.b, static_cast<int>(r)), options));
        withhold_if_busy(pc, options);
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
