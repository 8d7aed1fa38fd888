// suite-report triage: marks a change point as understood (acknowledged),
// not a change at all (invalid) or dealt with (fixed).
#include <pwd.h>
#include <unistd.h>

#include <ctime>
#include <iostream>

#include "common/dates.h"
#include "common/text.h"
#include "store/triage.h"
#include "suite_report/change_ids.h"
#include "suite_report/commands.h"
#include "suite_report/store_tables.h"

namespace suite_report {

namespace {

std::string os_user() {
    if (const passwd* p = getpwuid(geteuid()); p && p->pw_name) return p->pw_name;
    return "uid " + std::to_string(geteuid());
}

}  // namespace

int run_triage(const TriageOptions& o) {
    if (!is_change_id(o.change)) {
        std::cerr << "suite-report: " << common::terminal_safe(o.change)
                  << " is not a change point's identifier (as history --json and the site "
                     "show them)\n";
        return 2;
    }
    try {
        auto db = store::open_store(o.db, false);
        auto groups = group_runs(store::find_runs(*db, {}));
        find_group_steps(groups);
        if (!current_changes(groups).count(o.change)) {
            std::cerr << "suite-report: no change point " << o.change << " in "
                      << common::terminal_safe(store::display_url(o.db)) << " now\n";
            return 1;
        }
        store::set_triage(*db, {o.change, o.state, o.note, common::utc_now("%Y-%m-%d %H:%M:%S"), os_user()});
    } catch (const store::StoreError& e) {
        std::cerr << "suite-report: cannot record the triage: " << e.what() << "\n";
        return 1;
    }
    std::cout << o.change << ": " << o.state << "\n";
    return 0;
}

}  // namespace suite_report
