// One program's run: its folder, driving it, and what is kept of it.
#pragma once

#include <string>

#include "suite_run/session.h"
#include "suite_run/stability.h"

namespace suite_run {

void print_failure(const std::string& name, const std::string& problem, const std::string& dir);
// The name a step's runs are judged stable under: VARIANT/PROGRAM or PROGRAM.
std::string stability_key(const step& t);
// Runs one step and keeps its files, its record and its place in the store.
void run_step(session& s, const step& t, Stability& stability);

}  // namespace suite_run
