// Reading runs and frames back out of the store.
#include <cmath>
#include <cstdlib>

#include <nlohmann/json.hpp>

#include "common/number.h"
#include "report/reading/machine_load.h"
#include "store/store.h"

namespace store {

namespace {
// Figures come back as the store wrote them: read by the report's number reader.
std::optional<double> number(const Value& v) {
    return v ? common::parse_number(*v) : std::nullopt;
}
std::string text(const Value& v) { return v ? *v : std::string(); }
long long integer(const Value& v) { return v ? std::atoll(v->c_str()) : 0; }

// Whether the drivers' sync to the display was kept, and the swap interval
// the runner's probe saw; "" where the run did not record it.
std::string sync_text(const record::RunRecord& m) {
    if (!m.vsync) return "";
    const auto& v = *m.vsync;
    std::string out = !v.kept ? "" : *v.kept ? "kept" : "off";
    const std::string interval = v.swap_interval.is_null()     ? ""
                                 : v.swap_interval.is_string() ? v.swap_interval.get<std::string>()
                                                               : v.swap_interval.dump();
    if (!interval.empty()) out += (out.empty() ? "" : ", ") + std::string("swap interval ") + interval;
    return out;
}

// Columns 19.. of find_runs' query: cpu, kernel, gl_vendor, gl_version, metadata.
report::Facts facts_of(RunRow& row, const std::vector<Value>& r) {
    const auto m = record::read_run_record(r[23] ? nlohmann::json::parse(*r[23], nullptr, false)
                                                 : nlohmann::json());
    if (const auto load = report::machine_load(m)) {
        if (load->busy) row.busy = load->what;
        row.load = load->what;
        if (load->program_ms_per_frame)
            row.load += "; the program " + common::format_fixed(*load->program_ms_per_frame, 1) +
                        " ms CPU a frame";
    }
    return {{"gl.vendor", text(r[21])},           {"gl.renderer", row.renderer},
            {"gl.version", text(r[22])},          {"machine.kernel", text(r[20])},
            {"machine.cpu", text(r[19])},         {"machine.memory", m.machine.memory},
            {"suite_version", row.suite_version}, {"tag", row.tag},
            {"sync", sync_text(m)},               {"window_size", row.window_size},
            {"variant", text(r[24])}};
}

// Columns 25 and 26: display_kind and software; a store read as it is, not
// upgraded, holds runs as the upgrade would fill them.
void read_setup(RunRow& row, const std::vector<Value>& r, bool kept) {
    row.display_kind = r[25] ? *r[25] : record::private_xvfb;
    if (r[26]) row.software = integer(r[26]) != 0;
    else if (!kept) row.software = record::software_renderer_name(row.renderer);
}
}  // namespace

std::vector<RunRow> find_runs(Db& db, const Filter& f) {
    std::string sql =
        "SELECT id, hash, program, folder, run_date, host, renderer, window_size, suite_version,"
        " tag, frames, median_ms, " + column(db, "first_rate_name") + ", " +
        column(db, "first_rate_overall") + ", " + column(db, "second_rate_name") + ", " +
        column(db, "second_rate_overall") +
        ", complete, exit_status, results_name, cpu, kernel, gl_vendor, gl_version, metadata, " +
        // a store read as it is, not upgraded, may predate the column
        std::string(schema_version(db) >= 3 ? "variant" : "NULL") +
        (schema_version(db) >= 6 ? ", display_kind, software" : ", NULL, NULL") +
        " FROM runs WHERE 1 = 1";
    std::vector<Value> params;
    auto where = [&](const std::string& value, const char* condition) {
        if (value.empty()) return;
        sql += condition;
        params.emplace_back(value);
    };
    where(f.program, " AND program = ?");
    where(f.machine, " AND host = ?");
    where(f.renderer, " AND renderer = ?");
    where(f.since, " AND run_date >= ?");
    sql += " ORDER BY run_date, id";
    std::vector<RunRow> out;
    for (const auto& r : db.query(sql, params)) {
        RunRow row;
        row.id = integer(r[0]);
        row.hash = text(r[1]);
        row.program = text(r[2]);
        row.folder = text(r[3]);
        row.date = text(r[4]);
        row.host = text(r[5]);
        row.renderer = text(r[6]);
        row.window_size = text(r[7]);
        row.suite_version = text(r[8]);
        row.tag = text(r[9]);
        row.frames = integer(r[10]);
        row.median_ms = number(r[11]);
        if (r[12]) row.rates.emplace_back(*r[12], number(r[13]));
        if (r[14]) row.rates.emplace_back(*r[14], number(r[15]));
        row.complete = integer(r[16]) != 0;
        if (r[17]) row.exit_status = static_cast<int>(integer(r[17]));
        row.results_name = text(r[18]);
        row.variant = text(r[24]);
        read_setup(row, r, schema_version(db) >= 6);
        row.facts = facts_of(row, r);
        out.push_back(std::move(row));
    }
    return out;
}

std::vector<StoredFrame> frames_of(Db& db, long long run_id) {
    std::vector<StoredFrame> out;
    const std::string sql = "SELECT win, seconds, " + column(db, "first_rate") + ", " +
                            column(db, "second_rate") +
                            ", triangles, interval_us FROM frames WHERE run_id = ? ORDER BY n";
    for (const auto& r : db.query(sql, {std::to_string(run_id)})) {
        StoredFrame f;
        f.window = static_cast<int>(integer(r[0]));
        f.seconds = text(r[1]);
        f.first_rate = text(r[2]);
        f.second_rate = r[3];
        f.triangles = r[4];
        if (r[5]) f.interval_us = integer(r[5]);
        out.push_back(std::move(f));
    }
    return out;
}

namespace {
// Why a stored figure cannot be a frame's, or "": a time must be a finite
// number of at least 0; a rate may be infinite (or NaN) only beside a time
// of 0, as the programs print a frame the clock did not see.
std::string unreadable(const char* column, const Value& v, bool rate, double seconds) {
    const auto x = number(v);
    if (x && std::isfinite(*x) && (rate || *x >= 0)) return "";
    if (x && rate && seconds == 0) return "";
    std::string shown = v ? v->substr(0, 40) : "NULL";
    if (v && v->size() > 40) shown += "...";
    return std::string("frames.") + column + " is " + (v ? "'" + shown + "'" : shown) +
           ", not a finite number";
}
}  // namespace

report::Run run_from_frames(const std::string& program, const std::vector<StoredFrame>& frames,
                            std::string& problem) {
    report::Run run;
    run.program = report::program_from_name(program).value_or(report::Program::cube);
    const bool has_rate2 = run.program != report::Program::screens;
    const bool has_triangles = run.program == report::Program::triangles;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const auto& f = frames[i];
        report::Frame frame;
        frame.window = f.window;
        const double seconds = number(f.seconds).value_or(std::nan(""));
        std::string why = unreadable("seconds", f.seconds, false, seconds);
        if (why.empty()) why = unreadable("first_rate", f.first_rate, true, seconds);
        if (why.empty() && has_rate2) why = unreadable("second_rate", f.second_rate, true, seconds);
        if (why.empty() && has_triangles) why = unreadable("triangles", f.triangles, false, seconds);
        if (!why.empty() && problem.empty())
            problem = why + " (frame " + std::to_string(i + 1) + ")";
        frame.seconds = seconds;
        frame.first_rate = number(f.first_rate).value_or(std::nan(""));
        frame.second_rate = number(f.second_rate).value_or(std::nan(""));
        frame.triangles = number(f.triangles).value_or(std::nan(""));
        run.frames.push_back(frame);
    }
    return run;
}

}  // namespace store
