#include "store/triage.h"

#include "store/store.h"

namespace store {

namespace {
const int triage_schema = 5;  // the migration that made the table
}

void set_triage(Db& db, const Triage& t) {
    db.begin_write();
    try {
        db.query("DELETE FROM triage WHERE change_id = ?", {t.change});
        db.query("INSERT INTO triage (change_id, state, note, set_at, os_user) VALUES (?, ?, ?, ?, ?)",
                 {t.change, t.state, t.note, t.at, t.user});
        db.commit();
    } catch (...) {
        db.rollback();
        throw;
    }
}

std::vector<Triage> triages(Db& db) {
    std::vector<Triage> out;
    if (schema_version(db) < triage_schema) return out;
    for (const auto& row : db.query("SELECT change_id, state, note, set_at, os_user FROM triage "
                                    "ORDER BY change_id"))
        out.push_back({row[0].value_or(""), row[1].value_or(""), row[2].value_or(""),
                       row[3].value_or(""), row[4].value_or("")});
    return out;
}

}  // namespace store
