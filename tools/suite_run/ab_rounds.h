// --rounds auto: after each round, every program's variants are judged
// against the first on their runs' headlines, and a program whose every
// answer is decisive runs no more rounds (report/analysis/rounds.h has the rule).
#pragma once

#include <map>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <vector>

#include "report/analysis/rounds.h"

namespace suite_run {

class AbRounds {
public:
    // `variants`: the names, the first being the baseline (B).
    AbRounds(const record::RoundsRule& rule, std::vector<std::string> variants);
    // A run that went well; its results file gives the headline.
    void add(const std::string& variant, const std::string& program,
             const std::string& results_path);
    // After round `round`: judges each program not yet decided and tells how it stands.
    void judge(const std::vector<std::string>& programs, int round, std::ostream& progress);
    bool decided(const std::string& program) const;
    // For run.json: each program's answers, rounds and why it stopped.
    nlohmann::json record(const std::vector<std::string>& programs, bool interrupted,
                          bool out_of_time) const;

private:
    struct Headlines {
        std::vector<double> all, after_first;
    };
    struct Judged {
        int rounds = 0;
        bool decided = false;
        std::map<std::string, report::Look> looks;  // by variant, the first left out
        std::map<std::string, double> warm_up_spread;
    };
    record::RoundsRule rule_;
    std::vector<std::string> variants_;
    std::map<std::pair<std::string, std::string>, Headlines> headlines_;  // (variant, program)
    std::map<std::string, Judged> judged_;
};

}  // namespace suite_run
