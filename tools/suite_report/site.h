// suite-report site: every series of the store as plain pages.
#pragma once

#include <string>

namespace suite_report {

struct SiteOptions {
    std::string db, out, since, baseline_tag;
};

int run_site(const SiteOptions& o);

}  // namespace suite_report
