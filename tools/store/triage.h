// Triage: the state a person gave a change point (acknowledged, invalid,
// fixed), with a note, when and by which OS user, kept by the change's
// identifier so that it outlives a new segmentation.
#pragma once

#include <string>
#include <vector>

#include "store/db.h"

namespace store {

struct Triage {
    std::string change, state, note, at, user;  // at: UTC, "YYYY-MM-DD HH:MM:SS"
};

inline const char* const triage_states[] = {"acknowledged", "invalid", "fixed"};

// Records `t`, replacing what the change had.
void set_triage(Db& db, const Triage& t);
// Every triage, by change; none in a store older than the table.
std::vector<Triage> triages(Db& db);

}  // namespace store
