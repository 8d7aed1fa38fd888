#include "suite_run/ab_rounds.h"

#include <cmath>

#include "common/number.h"
#include "common/text.h"
#include "report/analysis/analysis.h"
#include "report/reading/inputs.h"

namespace suite_run {

namespace {
nlohmann::json number(double v) { return std::isfinite(v) ? nlohmann::json(v) : nlohmann::json(); }
}  // namespace

AbRounds::AbRounds(const record::RoundsRule& rule, std::vector<std::string> variants)
    : rule_(rule), variants_(std::move(variants)) {}

void AbRounds::add(const std::string& variant, const std::string& program,
                   const std::string& results_path) {
    const report::Run run = report::load_run(results_path);
    if (run.failed()) return;
    const auto h = report::run_headline(report::analyse(run));
    if (!std::isfinite(h.all)) return;
    auto& kept = headlines_[{variant, program}];
    kept.all.push_back(h.all);
    kept.after_first.push_back(h.after_first);
}

void AbRounds::judge(const std::vector<std::string>& programs, int round,
                     std::ostream& progress) {
    for (const auto& program : programs) {
        Judged& j = judged_[program];
        if (j.decided) continue;
        j.rounds = round;
        const Headlines& b = headlines_[{variants_.front(), program}];
        bool all_decided = variants_.size() > 1;
        for (std::size_t v = 1; v < variants_.size(); ++v) {
            const Headlines& a = headlines_[{variants_[v], program}];
            const report::Look l = report::look(a.all, b.all, rule_);
            j.looks[variants_[v]] = l;
            j.warm_up_spread[variants_[v]] =
                report::pooled_spread_percent(a.after_first, b.after_first);
            all_decided = all_decided && l.answer != report::Answer::undecided;
            if (std::isnan(l.ratio.interval.low)) continue;
            progress << "  " << program << " [" << common::terminal_safe(variants_[v])
                     << "] against [" << common::terminal_safe(variants_.front())
                     << "] after round " << round << ": "
                     << common::format_fixed(l.ratio.interval.low, 4) << " .. "
                     << common::format_fixed(l.ratio.interval.high, 4) << " ("
                     << common::format_sig(100 * report::look_confidence(rule_), 4) << "%), "
                     << report::answer_text(l.answer) << std::endl;
        }
        j.decided = all_decided;
    }
}

bool AbRounds::decided(const std::string& program) const {
    const auto it = judged_.find(program);
    return it != judged_.end() && it->second.decided;
}

nlohmann::json AbRounds::record(const std::vector<std::string>& programs, bool interrupted,
                                bool out_of_time) const {
    nlohmann::json out = nlohmann::json::object();
    for (const auto& program : programs) {
        const auto it = judged_.find(program);
        const Judged j = it == judged_.end() ? Judged{} : it->second;
        const std::string stopped = j.decided      ? "decided"
                                    : interrupted  ? "interrupted"
                                    : out_of_time  ? "time bound reached"
                                                   : "max-rounds reached";
        nlohmann::json answers = nlohmann::json::object();
        for (const auto& [variant, l] : j.looks) {
            nlohmann::json a = {{"answer", report::answer_text(l.answer)},
                                {"low", number(l.ratio.interval.low)},
                                {"high", number(l.ratio.interval.high)}};
            if (l.answer == report::Answer::undecided)
                a["why"] = report::cannot_tell(l, j.rounds, j.warm_up_spread.at(variant));
            answers[variant] = a;
        }
        out[program] = {{"rounds", j.rounds}, {"stopped", stopped}, {"variants", answers}};
    }
    return out;
}

}  // namespace suite_run
