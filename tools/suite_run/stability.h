// --until-stable: each program is run again until the 95% interval of its
// headline average across runs lies within plus or minus the asked percent
// of their mean, with at least three runs and at most --max-repeat.
#pragma once

#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace suite_run {

class Stability {
public:
    Stability(double percent, int max_runs, double max_seconds);
    // The headline of a run that went well; a failed run adds nothing.
    void add(const std::string& program, double headline);
    bool settled(const std::string& program) const;
    // "3 runs, 26412.8 +- 1.24% (95%)" or "2 runs, too few for an interval".
    std::string progress(const std::string& program) const;
    // After the last round: why each program stopped, for run.json.
    nlohmann::json record(const std::vector<std::string>& programs, bool interrupted,
                          double seconds) const;
    bool out_of_time(double seconds) const { return seconds >= max_seconds_; }

private:
    double half_width_percent(const std::string& program) const;
    double percent_;
    int max_runs_;
    double max_seconds_;
    std::map<std::string, std::vector<double>> headlines_;
};

// The program's own printed average (its first rate) in a results file; NaN
// when the file holds none.
double results_headline(const std::string& results_path);

}  // namespace suite_run
