// Names that last: a series' (its file name in the site) and a change
// point's (what triage records). Made from identifiers only, never from the
// free text of a machine's or renderer's name.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "store/triage.h"

#include "suite_report/store_tables.h"

namespace suite_report {

// A hash of the series key (program, machine, renderer, window size, variant,
// and the setup where it differs from the first runs': Group::setup), 16 hex digits.
std::string series_id(const Group& g);

// SERIES/FIGURE/RUN: the series, the figure (letters and digits, others as
// '-'), and the first run after the step by its results file's hash. A step
// that moves to another run is another change.
std::string change_id(const Group& g, const GroupStep& st);

// The identifiers of every step of `groups` (find_group_steps done).
std::set<std::string> current_changes(const std::vector<Group>& groups);

// The triages by change; and those whose step is no longer found in
// `groups`, only of the series among them when `groups` is a selection.
std::map<std::string, store::Triage> triages_by_change(store::Db& db);
std::vector<store::Triage> triages_not_found(const std::map<std::string, store::Triage>& triaged,
                                      const std::vector<Group>& groups, bool selection);

// The state a step was given, "" when none.
std::string state_of(const std::map<std::string, store::Triage>& triaged, const Group& g,
                     const GroupStep& st);

// Whether `text` has the form of a change's identifier.
bool is_change_id(const std::string& text);

}  // namespace suite_report
