#include "report/analysis/repeats.h"

#include <algorithm>
#include <cmath>

namespace report {

namespace {

void add_figure(RepeatGroup& g, const std::string& name, double (*get)(const Analysis&, std::size_t),
                std::size_t rate = 0) {
    RepeatFigure f;
    f.name = name;
    for (const Analysis* a : g.runs) f.values.push_back(get(*a, rate));
    f.spread = spread(f.values);
    g.figures.push_back(std::move(f));
}

}  // namespace

std::vector<const Analysis*> side_runs(const std::vector<Analysis>& analyses, Program program,
                                       const std::string& side) {
    std::vector<const Analysis*> chosen;
    for (const auto& a : analyses)
        if (a.run->program == program && a.side == side && !a.seconds.empty())
            chosen.push_back(&a);
    return chosen;
}

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
            g.runs = side_runs(analyses, p, side);
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

}  // namespace report
