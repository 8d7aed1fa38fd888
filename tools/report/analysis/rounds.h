// --rounds auto: after every round from the second, each program's variants
// are judged against the first on the runs' headlines; rounds go on until
// every answer is one that more rounds would not turn, or the rule's limit.
#pragma once

#include <string>
#include <vector>

#include "report/analysis/analysis.h"
#include "report/stats/compare.h"
#include "record/run_record.h"

namespace report {

// Looks come after rounds 2 to max_rounds, each at level alpha / (looks):
// an even share, so the chance that any look calls a difference where there
// is none is at most alpha however the looks lean on each other. compare
// judges a run made so at the same level, so its verdict is the rule's.
double look_confidence(const record::RoundsRule& rule);

enum class Answer { faster, slower, same, undecided };
const char* answer_text(Answer a);  // "faster", "slower", "the same", "undecided"

// A run's headline, its main rate over all its frames, and the same
// without the first frame (the warm-up); NaN where there are too few frames.
struct RunHeadline {
    double all, after_first;
};
RunHeadline run_headline(const Analysis& a);

struct Look {
    Answer answer = Answer::undecided;
    LogRatio ratio;                 // A over B, at the look's confidence
    double spread_percent = 0;      // how the runs' headlines spread within a side (sd of logs)
    double difference_percent = 0;  // how far A's geometric mean is from B's
};

// A against B on each side's run headlines (higher is better). faster or
// slower: the interval lies beyond the practical threshold; the same: it
// lies wholly inside it; else undecided. Fewer than two runs a side decide
// nothing: one run shows no spread between runs.
Look look(const std::vector<double>& a, const std::vector<double>& b, const record::RoundsRule& rule);

// Why an undecided program stopped, for the user: "cannot tell after 10
// rounds: the runs' averages spread by 7%, more than the difference; ...".
// `warm_up_spread_percent`: the spread of the headlines without the first
// frame (NaN: not known); far below the spread, it is named as the cause.
std::string cannot_tell(const Look& l, int rounds, double warm_up_spread_percent);

// The spread of values within each side, pooled, as a percent (sd of the
// logs); NaN with fewer than two values a side.
double pooled_spread_percent(const std::vector<double>& a, const std::vector<double>& b);

}  // namespace report
