#include "suite_run/stability.h"

#include <cmath>

#include "common/number.h"
#include "report/stats/compare.h"
#include "report/reading/inputs.h"

namespace suite_run {

namespace {
constexpr std::size_t least_runs = 3;
}

Stability::Stability(double percent, int max_runs, double max_seconds)
    : percent_(percent), max_runs_(max_runs), max_seconds_(max_seconds) {}

void Stability::add(const std::string& program, double headline) {
    if (std::isfinite(headline)) headlines_[program].push_back(headline);
}

double Stability::half_width_percent(const std::string& program) const {
    const auto it = headlines_.find(program);
    if (it == headlines_.end() || it->second.size() < 2) return std::nan("");
    const auto i = report::mean_interval(it->second);
    const double mean = (i.low + i.high) / 2;
    return mean != 0 ? 100 * (i.high - i.low) / 2 / std::fabs(mean) : std::nan("");
}

bool Stability::settled(const std::string& program) const {
    const auto it = headlines_.find(program);
    return it != headlines_.end() && it->second.size() >= least_runs &&
           half_width_percent(program) <= percent_;
}

std::string Stability::progress(const std::string& program) const {
    const auto it = headlines_.find(program);
    const std::size_t n = it == headlines_.end() ? 0 : it->second.size();
    const double half = half_width_percent(program);
    if (std::isnan(half)) return std::to_string(n) + " good run(s), too few for an interval";
    const auto i = report::mean_interval(it->second);
    return std::to_string(n) + " good runs, " + common::format_sig((i.low + i.high) / 2, 6) +
           " +- " + common::format_fixed(half, 2) + "% (95%), asked " +
           common::format_sig(percent_, 6) + "%";
}

nlohmann::json Stability::record(const std::vector<std::string>& programs, bool interrupted,
                                 double seconds) const {
    nlohmann::json out = {{"percent", percent_}, {"max_repeat", max_runs_},
                          {"max_seconds", max_seconds_}, {"programs", nlohmann::json::object()}};
    for (const auto& p : programs) {
        const auto it = headlines_.find(p);
        const std::size_t n = it == headlines_.end() ? 0 : it->second.size();
        const double half = half_width_percent(p);
        std::string why = settled(p)         ? "stable"
                          : interrupted      ? "interrupted"
                          : out_of_time(seconds) ? "time bound reached"
                                             : "max-repeat reached";
        out["programs"][p] = {{"good_runs", n},
                              {"half_width_percent", std::isnan(half) ? nlohmann::json(nullptr)
                                                                      : nlohmann::json(half)},
                              {"stopped", why}};
    }
    return out;
}

double results_headline(const std::string& results_path) {
    const report::Run run = report::load_run(results_path);
    if (run.failed() || !run.summary.first_average) return std::nan("");
    return run.summary.first_average->value;
}

}  // namespace suite_run
