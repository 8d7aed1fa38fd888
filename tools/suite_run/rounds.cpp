#include "suite_run/rounds.h"

#include <algorithm>
#include <iostream>

#include "driver/driver.h"
#include "process/stop.h"
#include "suite_run/steps.h"

namespace suite_run {

namespace {

// A program runs no more rounds once each rule given is met: every variant
// of it stable (--until-stable), its variants' answers clear (--rounds auto).
bool program_settled(const session& s, const program_entry* p,
                     const Stability& stability) {
    const bool stabilising = s.o.until_stable > 0;
    if (!stabilising && !s.ab) return false;
    if (s.ab && !s.ab->decided(std::string(p->texts->name))) return false;
    if (stabilising)
        for (const auto* v : variants_of(s.o))
            if (!stability.settled(stability_key({0, v, p}))) return false;
    return true;
}

std::vector<std::string> chosen_names(const session& s) {
    std::vector<std::string> names;
    for (const program_entry* p : s.chosen) names.emplace_back(p->texts->name);
    return names;
}

// What each rule says of why the rounds stopped, for run.json.
void record_rounds(session& s, const Stability& stability, int rounds_run,
                   double seconds) {
    const bool interrupted = process::stop_signal() != 0;
    if (s.o.until_stable > 0) {
        std::vector<std::string> keys;
        for (const program_entry* p : s.chosen)
            for (const auto* v : variants_of(s.o)) keys.push_back(stability_key({0, v, p}));
        s.run.until_stable = stability.record(keys, interrupted, seconds);
    }
    if (s.ab) {
        s.run.rounds = rounds_run;
        s.run.rounds_stopped =
            s.ab->record(chosen_names(s), interrupted, seconds >= s.o.max_time);
    }
}

}  // namespace

bool auto_rounds(const options& o) { return !o.variants.empty() && o.rounds == 0; }

int rounds_of(const options& o) {
    if (o.until_stable > 0) return auto_rounds(o) ? std::min(o.max_repeat, o.max_rounds) : o.max_repeat;
    if (o.variants.empty()) return o.repeat;
    return auto_rounds(o) ? o.max_rounds : o.rounds;
}

// Without variants the one "variant" is none at all.
std::vector<const variant*> variants_of(const options& o) {
    std::vector<const variant*> all;
    for (const auto& v : o.variants) all.push_back(&v);
    if (all.empty()) all.push_back(nullptr);
    return all;
}

void run_rounds(session& s, Stability& stability) {
    const auto all = variants_of(s.o);
    const double began = driver::now();
    const auto all_settled = [&] {
        for (const program_entry* p : s.chosen)
            if (!program_settled(s, p, stability)) return false;
        return true;
    };
    const bool bounded = s.o.until_stable > 0 || s.ab;
    int r = 1;
    for (; r <= rounds_of(s.o) && !process::stop_signal(); ++r) {
        if (bounded && (all_settled() || driver::now() - began >= s.o.max_time)) break;
        for (const int vi : round_order(static_cast<int>(all.size()), r)) {
            for (const program_entry* p : s.chosen) {
                if (process::stop_signal()) break;
                if (program_settled(s, p, stability)) continue;
                run_step(s, {r, all[static_cast<std::size_t>(vi)], p}, stability);
            }
        }
        if (s.ab && r >= 2 && !process::stop_signal()) s.ab->judge(chosen_names(s), r, std::cout);
    }
    record_rounds(s, stability, r - 1, driver::now() - began);
}

}  // namespace suite_run
