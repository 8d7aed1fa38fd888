#include "report/core/machine_load.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "common/number.h"

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

std::vector<std::pair<double, double>> other_load_by_frame(std::string_view csv) {
    // seconds,frame,program_user_s,program_system_s,x_server_s,runner_s,busy_s,...
    struct Mark {
        double at, frame, others;
    };
    std::vector<Mark> marks;
    for (std::string_view rest = csv; !rest.empty();) {
        const auto end = rest.find('\n');
        const std::string line(rest.substr(0, end));
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        double v[7];
        int i = 0;
        const char* p = line.c_str();
        for (char* next = nullptr; i < 7; ++i, p = next + 1) {
            v[i] = std::strtod(p, &next);
            if (next == p && i != 4) break;  // the X server's cell may be empty
            if (next == p) v[i] = 0;
            if (*next != ',') break;
        }
        if (i < 6 || !std::isfinite(v[0]) || !(v[1] >= 0) || !(v[1] < 1e9)) continue;
        const double others = v[6] - v[2] - v[3] - v[4] - v[5];
        if (std::isfinite(others)) marks.push_back({v[0], v[1], others});
    }
    // The kernel counts CPU time in ticks of 10 ms: a point spans at least
    // half a second, or a short frame would show whole ticks as many cores.
    std::vector<std::pair<double, double>> out;
    for (std::size_t from = 0, k = 1; k < marks.size(); ++k) {
        const double dt = marks[k].at - marks[from].at;
        if (marks[k].frame <= marks[from].frame) from = k;
        if (!(dt >= 0.5) || marks[k].frame <= marks[from].frame) continue;
        out.emplace_back(marks[k].frame,
                         std::max(0.0, (marks[k].others - marks[from].others) / dt));
        from = k;
    }
    return out;
}

std::optional<MachineLoad> machine_load(const Run& run) { return machine_load(run.record); }

std::optional<MachineLoad> machine_load(const RunRecord& record) {
    if (!record.run.load) return std::nullopt;
    const nlohmann::json& load = *record.run.load;
    if (!load.is_object() || !load.contains("measured")) return std::nullopt;
    const nlohmann::json& m = load["measured"];
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
