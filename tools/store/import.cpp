// Reading a run for the store and writing it in one transaction.
#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdint>
#include <cmath>
#include <ctime>
#include <filesystem>

#include "common/dates.h"
#include "common/files.h"
#include "common/number.h"
#include "report/analysis/analysis.h"
#include "report/reading/inputs.h"
#include "store/store.h"

namespace fs = std::filesystem;

namespace store {

namespace {

Value figure_text(const std::optional<report::Figure>& f) {
    if (!f) return std::nullopt;
    return common::format_printed(f->value);
}

Value number_text(double v) {
    if (!std::isfinite(v)) return std::nullopt;
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", v);
    return std::string(text);
}

const char* ending_text(report::Ending e) {
    switch (e) {
        case report::Ending::esc: return "esc";
        case report::Ending::size_limit: return "size_limit";
        case report::Ending::none: break;
    }
    return "none";
}

void insert_frames(Db& db, long long id, const StoredRun& r) {
    const bool has_rate2 = r.run.program != report::Program::screens;
    const bool has_triangles = r.run.program == report::Program::triangles;
    const std::size_t batch = 200;  // rows a statement: far below either engine's limit
    const auto& frames = r.run.frames;
    for (std::size_t start = 0; start < frames.size(); start += batch) {
        const std::size_t end = std::min(frames.size(), start + batch);
        std::string sql = "INSERT INTO frames (run_id, n, win, seconds, first_rate, second_rate, triangles, "
                          "interval_us) VALUES ";
        std::vector<Value> params;
        for (std::size_t i = start; i < end; ++i) {
            const auto& f = frames[i];
            const int n = static_cast<int>(i + 1);
            sql += i > start ? ",(?,?,?,?,?,?,?,?)" : "(?,?,?,?,?,?,?,?)";
            const auto interval = r.intervals_us.find(n);
            params.insert(params.end(),
                          {std::to_string(id), std::to_string(n), std::to_string(f.window),
                           common::format_printed(f.seconds), common::format_printed(f.first_rate),
                           has_rate2 ? Value(common::format_printed(f.second_rate)) : std::nullopt,
                           has_triangles ? Value(common::format_printed(f.triangles)) : std::nullopt,
                           interval == r.intervals_us.end() ? std::nullopt
                                                            : Value(std::to_string(interval->second))});
        }
        db.query(sql, params);
    }
}

}  // namespace

RunDate run_date(const record::RunRecord& m, const std::string& results_name) {
    // The program's own start, which the runner keeps for each repeat.
    const std::string started = m.run.date.value_or("");
    if (const auto t = common::read_stamp(started)) return {common::utc_text(t->first), started};
    // The file's name holds the program's local clock: in the zone its
    // machine gave with the metadata, else in this one's (TZ).
    const std::string machine = m.machine.date;
    const auto zone = common::read_stamp(machine);
    if (auto local = common::read_name_date(results_name)) {
        const std::time_t when = zone ? timegm(&local->second) - zone->second
                                      : std::mktime(&local->second);
        if (when != -1) return {common::utc_text(when), local->first};
    }
    if (zone) return {common::utc_text(zone->first), machine};
    return {};
}

std::string run_identity(const std::string& hash, const record::RunRecord& record,
                         const std::string& results_name) {
    const nlohmann::json key = {hash, record.machine.host, run_date(record, results_name).stamp,
                                record.tag.value_or("")};
    return common::sha256_hex(key.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

std::optional<StoredRun> make_stored_run(report::Run run, const std::string& tag,
                                  std::vector<std::string>& errors) {
    if (run.failed()) {
        for (const auto& d : run.diagnostics)
            if (d.level == report::Diagnostic::Level::error) errors.push_back(to_string(d));
        return std::nullopt;
    }
    // Hashed as the loader read it: a regular file only, never a FIFO put in its place.
    const auto file = common::open_regular(run.path, true);
    bool more = false;
    std::string problem = file.problem;
    const auto bytes = file.fd ? common::read_capped(file.fd, SIZE_MAX, more, problem)
                               : std::nullopt;
    if (!bytes) {
        errors.push_back(run.path + ": cannot be read: " + problem);
        return std::nullopt;
    }
    StoredRun r;
    r.run = std::move(run);
    r.hash = common::sha256_hex(*bytes);
    // Canonical, so that a folder reached through "." or a link is known as itself.
    std::error_code ec;
    const fs::path absolute = fs::absolute(fs::path(r.run.path)).parent_path();
    const fs::path folder = fs::weakly_canonical(absolute, ec);
    r.folder = ec ? absolute.lexically_normal().string() : folder.string();
    // The folder's own tag serves an import of a run whose store was out of reach.
    const auto& m = r.run.record;
    r.tag = tag.empty() ? m.tag.value_or("") : tag;
    r.tag_given = !tag.empty();
    r.identity = run_identity(r.hash, m, fs::path(r.run.path).filename().string());
    // The runner's intervals are extras: rows the report's reader leaves out are left out here.
    if (const auto& f = r.run.frames_csv)
        for (std::size_t i = 0; i < f->frame.size(); ++i) {
            const double us = f->interval[i] * 1e6;
            if (f->frame[i] >= 1 && f->frame[i] <= INT_MAX && us < 9e18)  // NaN: none
                r.intervals_us[static_cast<int>(f->frame[i])] = std::llround(us);
        }
    return r;
}

std::string display_kind_of(const record::RunRecord& m) {
    return m.display ? record::display_kind(m) : record::private_xvfb;
}

namespace {

// The renderer is part of what makes runs comparable: one the program may
// not have had is kept apart from those it did.
std::string renderer_of(const record::RunRecord& m) {
    return m.run.gl_verified == false ? m.gl.renderer + " (not verified)" : m.gl.renderer;
}

// The run's row, unless a run of that identity is there: its id, or nullopt.
std::optional<long long> insert_run(Db& db, const StoredRun& r) {
    const auto& run = r.run;
    const auto& m = run.record;
    const std::string name = fs::path(run.path).filename().string();
    const std::string recorded = common::utc_text(std::time(nullptr));
    std::string date = run_date(m, name).utc;
    if (date.empty()) date = recorded;
    const auto a = report::analyse(run);
    const auto software = record::rendered_in_software(m.gl);
    auto rate = [&](std::size_t i, bool average) -> Value {
        if (i >= a.rates.size()) return std::nullopt;
        return average ? number_text(a.rates[i].average) : Value(a.rates[i].name);
    };
    const auto id_rows = db.query(
        "INSERT INTO runs (identity, hash, program, folder, results_name, recorded_at, run_date, host,"
        " cpu, kernel, gl_vendor, renderer, gl_version, bits, window_size, suite_version,"
        " command_line, tag, banner, init_seconds, plain_seconds, plain_rate, complete,"
        " ending, total_seconds, printed_first_average, printed_second_average, exit_status, problem,"
        " stderr, metadata, frames, median_ms, first_rate_name, first_rate_overall, second_rate_name,"
        " second_rate_overall, variant, display_kind, software) VALUES"
        " (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)"
        " ON CONFLICT (identity) DO NOTHING RETURNING id",
        {r.identity, r.hash, report::program_name(run.program), r.folder, name, recorded, date,
         m.machine.host, m.machine.cpu, m.machine.kernel, m.gl.vendor, renderer_of(m),
         m.gl.version, m.gl.bits ? nlohmann::json(*m.gl.bits).dump() : "",
         m.run.window_size.value_or(""), m.machine.suite_version,
         m.command_line ? Value(*m.command_line) : std::nullopt,
         r.tag, run.banner, figure_text(run.init_seconds), figure_text(run.plain_seconds),
         figure_text(run.plain_rate), run.complete ? "1" : "0", ending_text(run.summary.ending),
         figure_text(run.summary.total_seconds), figure_text(run.summary.first_average),
         figure_text(run.summary.second_average),
         run.exit_status ? Value(std::to_string(*run.exit_status)) : std::nullopt,
         m.run.present ? Value(m.run.problem) : std::nullopt, run.stderr_text,
         run.metadata.is_null()
             ? std::nullopt
             : Value(run.metadata.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)), std::to_string(run.frames.size()),
         number_text(a.frame_time.median * 1000), rate(0, false), rate(0, true),
         rate(1, false), rate(1, true),
         m.variant && !m.variant->name.empty() ? Value(m.variant->name) : std::nullopt,
         display_kind_of(m), software ? Value(*software ? "1" : "0") : std::nullopt});
    if (id_rows.empty() || !id_rows[0][0]) return std::nullopt;
    return std::stoll(*id_rows[0][0]);
}

}  // namespace

Stored store_run(Db& db, const StoredRun& r) {
    Stored outcome = Stored::present;
    db.begin_write();
    try {
        if (const auto id = insert_run(db, r)) {
            insert_frames(db, *id, r);
            outcome = Stored::added;
        } else if (r.tag_given &&
                   !db.query("UPDATE runs SET tag = ? WHERE identity = ? AND tag <> ? RETURNING id",
                             {r.tag, r.identity, r.tag})
                        .empty()) {
            outcome = Stored::tagged;  // a run stored before, tagged now
        }
        db.commit();
    } catch (...) {
        db.rollback();
        throw;
    }
    return outcome;
}

namespace {

// "rep-2" before "rep-10": runs of a repeated set in the order they ran.
bool natural_less(const std::string& a, const std::string& b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (std::isdigit(static_cast<unsigned char>(a[i])) &&
            std::isdigit(static_cast<unsigned char>(b[j]))) {
            const auto digits = [](const std::string& s, std::size_t& at) {
                while (at < s.size() && s[at] == '0') ++at;
                const std::size_t from = at;
                while (at < s.size() && std::isdigit(static_cast<unsigned char>(s[at]))) ++at;
                return s.substr(from, at - from);
            };
            const std::string x = digits(a, i), y = digits(b, j);
            if (x.size() != y.size()) return x.size() < y.size();
            if (x != y) return x < y;
        } else {
            if (a[i] != b[j]) return a[i] < b[j];
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}

}  // namespace

ImportResult import_paths(const std::string& url, const std::vector<std::string>& paths,
                          const std::string& tag) {
    ImportResult result;
    auto inputs = report::load_inputs(paths);
    result.found = inputs.runs.size();
    for (const auto& d : inputs.problems) result.refused.push_back(to_string(d));
    std::vector<StoredRun> records;
    for (auto& run : inputs.runs)
        if (auto r = make_stored_run(std::move(run), tag, result.refused)) records.push_back(std::move(*r));
    // Recorded in the order they ran, so that runs of one date keep it.
    std::stable_sort(records.begin(), records.end(), [](const StoredRun& a, const StoredRun& b) {
        return natural_less(a.run.path, b.run.path);
    });
    if (records.empty()) return result;
    std::unique_ptr<Db> db;
    try {
        db = open_store(url, true);
    } catch (const StoreError& e) {
        result.store_error = e.what();
    }
    // After the store's first failure the rest is not tried: each try could
    // wait the full limit, and the folders stay for a later import.
    for (const auto& r : records) {
        if (!result.store_error.empty()) {
            result.not_recorded.push_back(r.folder);
            continue;
        }
        try {
            switch (store_run(*db, r)) {
                case Stored::added: ++result.added; break;
                case Stored::present: ++result.present; break;
                case Stored::tagged: ++result.tagged; break;
            }
            result.recorded.push_back(r.folder);
        } catch (const StoreError& e) {
            result.store_error = e.what();
            result.not_recorded.push_back(r.folder);
        }
    }
    return result;
}

std::string record_run(const std::string& url, report::Run run, const std::string& tag) {
    std::vector<std::string> refused;
    const auto r = make_stored_run(std::move(run), tag, refused);
    if (!r) return "refused: " + (refused.empty() ? std::string("unreadable") : refused.front());
    try {
        store_run(*open_store(url, true), *r);
    } catch (const StoreError& e) {
        return e.what();
    }
    return "";
}

}  // namespace store
