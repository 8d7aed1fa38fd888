#include "report/analysis/vblank.h"

#include <cmath>

#include "common/number.h"
#include "texts/texts.h"

namespace report {

std::optional<RefreshMatch> near_refresh(double rate, double tolerance) {
    if (!std::isfinite(rate) || rate <= 0) return std::nullopt;
    static const double refreshes[] = {60, 59.94, 75, 90, 120, 144, 165, 240};
    for (int multiple = 1; multiple <= 2; ++multiple)
        for (double refresh : refreshes)
            if (std::fabs(rate / (refresh * multiple) - 1) <= tolerance)
                return RefreshMatch{refresh, multiple};
    return std::nullopt;
}

std::optional<std::string> refresh_warning(double rate, const std::string& whose) {
    const auto m = near_refresh(rate);
    if (!m) return std::nullopt;
    const std::string refresh =
        (m->multiple > 1 ? "twice " : "") + common::format_sig(m->refresh, 4) + " Hz";
    return whose + " " + common::format_fixed(rate, 2) + " frames/s lies within 1% of " + refresh +
           ", a display refresh rate, and the metadata does not show the sync to vblank turned "
           "off: the display may have set the pace (suite-run turns the sync off unless given "
           "--vsync)";
}

bool sync_shown_off(const record::RunRecord& r) {
    if (!r.vsync || r.vsync->kept != false || !r.vsync->set) return false;
    for (const auto& [name, value] : texts::no_vsync) {
        const auto v = r.vsync->set->find(name);
        if (v == r.vsync->set->end() || v->second != value) return false;
    }
    // A swap interval read back above 0 means a driver kept the sync anyway.
    const auto& interval = r.vsync->swap_interval;
    return !interval.is_number() || interval.get<double>() <= 0;
}

}  // namespace report
