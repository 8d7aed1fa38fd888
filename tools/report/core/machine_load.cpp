#include "machine_load.h"

#include <algorithm>
#include <cmath>

#include "number.h"

namespace report {

namespace {
std::optional<double> number_at(const nlohmann::json& j, const char* key) {
    if (!j.is_object()) return std::nullopt;
    const auto it = j.find(key);
    if (it == j.end() || !it->is_number()) return std::nullopt;
    const double v = it->get<double>();
    return std::isfinite(v) && v >= 0 ? std::optional(v) : std::nullopt;
}
}  // namespace

std::optional<MachineLoad> machine_load(const Run& run) {
    static const nlohmann::json::json_pointer where("/run/load/measured");
    if (!run.metadata.is_object() || !run.metadata.contains(where)) return std::nullopt;
    const nlohmann::json& m = run.metadata[where];
    const auto others = number_at(m, "others_cores");
    const auto cores = number_at(m, "cores");
    if (!others || !cores || *cores < 1 || *cores > 1e6) return std::nullopt;
    MachineLoad l;
    l.cores = static_cast<int>(*cores);
    l.others_cores = *others;
    l.steal_share = number_at(m, "steal_share").value_or(0);
    if (m.contains("program_cpu_ms_per_frame")) {
        const auto& c = m["program_cpu_ms_per_frame"];
        l.program_user_ms = number_at(c, "user");
        l.program_system_ms = number_at(c, "system");
        if (l.program_user_ms && l.program_system_ms)
            l.program_ms_per_frame = *l.program_user_ms + *l.program_system_ms;
    }
    const double limit = std::max(busy_others_cores, busy_others_share * l.cores);
    l.busy = l.others_cores > limit || l.steal_share > busy_steal_share;
    l.what = "others used " + format_fixed(l.others_cores, 2) + " of " +
             std::to_string(l.cores) + " cores";
    if (l.steal_share > 0)
        l.what += ", steal " + format_fixed(100 * l.steal_share, 1) + "%";
    return l;
}

}  // namespace report
