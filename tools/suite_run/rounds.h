// The rounds of a run: repeats, variants in turn, until the rules given
// (--until-stable, --rounds auto) are met or the time is up.
#pragma once

#include <vector>

#include "suite_run/session.h"
#include "suite_run/stability.h"

namespace suite_run {

bool auto_rounds(const options& o);
// Rounds at most.
int rounds_of(const options& o);
// Without variants the one "variant" is none at all.
std::vector<const variant*> variants_of(const options& o);
// Every round, and what each rule says of why they stopped.
void run_rounds(session& s, Stability& stability);

}  // namespace suite_run
