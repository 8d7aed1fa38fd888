#include "report/reading/machine_load.h"

#include <algorithm>
#include <charconv>
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

// One number of a load.csv row from `at` to the next comma; `at` is left past
// that comma. Empty or unreadable: nullopt.
std::optional<double> next_cell(std::string_view line, std::size_t& at) {
    const std::size_t from = std::min(at, line.size());
    const std::size_t comma = std::min(line.find(',', from), line.size());
    const std::string_view cell = line.substr(from, comma - from);
    at = comma + 1;
    double v = 0;
    const auto [end, error] = std::from_chars(cell.data(), cell.data() + cell.size(), v);
    if (cell.empty() || error != std::errc() || end != cell.data() + cell.size() ||
        !std::isfinite(v))
        return std::nullopt;
    return v;
}

struct LoadMark {
    double at = 0, frame = 0, others = 0;
};

// seconds,frame,program_user_s,program_system_s,x_server_s,runner_s,busy_s,...:
// the other processes' cumulative CPU, from the cells after the frame's.
std::optional<double> others_of(std::string_view line, std::size_t at) {
    double v[5];
    for (int i = 0; i < 5; ++i) {
        const auto cell = next_cell(line, at);
        if (!cell && i != 2) return std::nullopt;  // the X server's cell may be empty
        v[i] = cell.value_or(0);
    }
    const double others = v[4] - v[0] - v[1] - v[2] - v[3];
    return std::isfinite(others) ? std::optional(others) : std::nullopt;
}
}  // namespace

std::vector<std::pair<double, double>> other_load_by_frame(common::LineReader& load_csv,
                                                           std::size_t frames) {
    std::vector<std::pair<double, double>> out;
    if (frames == 0) return out;
    // A point spans this many frames at least, so a long run keeps to the cap.
    const double step = std::ceil(static_cast<double>(frames) / other_load_points);
    const double last = static_cast<double>(frames);
    std::optional<LoadMark> from;
    double plotted = 0;  // the frame of the last point
    std::size_t marks = 0;
    std::string line;
    bool terminated = false, overlong = false;
    while (load_csv.next(line, terminated, overlong)) {
        std::size_t at = 0;
        const auto seconds = next_cell(line, at);
        const auto frame = next_cell(line, at);
        if (!seconds || !frame || !(*frame >= 0)) continue;  // the header, a timed sample
        if (*frame > last || ++marks > frames + 2) break;
        if (from && *frame == from->frame) continue;  // the same frame marked again
        const auto others = others_of(line, at);
        if (!others) continue;
        const LoadMark m{*seconds, *frame, *others};
        // The kernel counts CPU time in ticks of 10 ms: a point spans at least
        // half a second, or a short frame would show whole ticks as many cores.
        if (!from || m.frame < from->frame) {
            from = m;
            continue;
        }
        const double dt = m.at - from->at;
        if (!(dt >= 0.5) || m.frame - from->frame < step || m.frame < plotted + step) continue;
        out.emplace_back(m.frame, std::max(0.0, (m.others - from->others) / dt));
        plotted = m.frame;
        from = m;
    }
    return out;
}

std::optional<MachineLoad> machine_load(const Run& run) { return machine_load(run.record); }

std::optional<MachineLoad> machine_load(const record::RunRecord& record) {
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
    l.what = "others used " + common::format_fixed(l.others_cores, 2) + " of " +
             std::to_string(l.cores) + " cores";
    if (l.steal_share > 0)
        l.what += ", steal " + common::format_fixed(100 * l.steal_share, 1) + "%";
    return l;
}

}  // namespace report
