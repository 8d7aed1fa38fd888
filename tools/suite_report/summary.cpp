// suite-report summary RUN: what the end of a suite-run shows. The runs at a
// glance; each program against the last comparable run of this machine in
// the store; a page with the plots written into the run folder; and the
// command for the full report. Per-run detail stays in the report itself.
#include <deque>
#include <filesystem>
#include <iostream>
#include <map>
#include <tuple>

#include "common/dates.h"
#include "common/text.h"
#include "report/reading/machine_load.h"
#include "report/analysis/verdicts.h"
#include "report/analysis/model.h"
#include "report/output/outputs.h"
#include "report/output/tables.h"
#include "suite_report/commands.h"

namespace fs = std::filesystem;

namespace suite_report {

namespace {

// What makes two runs comparable, as the store's columns hold it.
struct Config {
    std::string program, host, renderer, window_size, variant, display_kind;
    std::optional<bool> software;
    auto key() const {
        return std::tie(program, host, renderer, window_size, variant, display_kind, software);
    }
    bool operator<(const Config& o) const { return key() < o.key(); }
    bool operator==(const Config& o) const { return key() == o.key(); }
};

Config config_of(const report::Run& run) {
    const auto& m = run.record;
    return {report::program_name(run.program), m.machine.host, m.gl.renderer,
            m.run.window_size.value_or(""), m.variant ? m.variant->name : "",
            store::display_kind_of(m), record::rendered_in_software(m.gl)};
}

// The overview, cut to what a reader takes in at a glance: each row names
// its variant, and a run measured on a busy machine says so.
report::Table glance(const report::Model& m) {
    const report::Table all = report::overview_table(m);
    const auto runs = report::runs_in_program_order(m);
    report::Table t;
    t.columns = {"program", "run", "status", "frames", "averages"};
    t.left = 5;
    for (std::size_t i = 0; i < all.rows.size(); ++i) {
        auto row = std::vector<std::string>(all.rows[i].begin(), all.rows[i].begin() + 5);
        const report::Run& run = *runs[i];
        if (run.record.variant) row[0] += " [" + run.record.variant->name + "]";
        if (const auto load = report::machine_load(run); load && load->busy) row[2] += ", busy";
        t.rows.push_back(std::move(row));
    }
    report::mark_software(t, runs);
    return t;
}

// The store's UTC date as this machine's local time, its zone named.
std::string local_date(const std::string& utc) {
    std::tm local{};
    const std::time_t when = common::read_utc(utc).value_or(-1);
    char text[64];
    if (when == -1 || !localtime_r(&when, &local) ||
        !std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S %Z", &local))
        return utc + " UTC";
    return text;
}

// Whether a stored run lies in this run folder, given in its forms (as
// given, absolute, canonical). Folders are stored canonically; older rows
// hold them absolute as given, so the stored text is tried in both forms too.
bool in_folder(const std::string& stored, const std::vector<std::string>& forms) {
    std::error_code ec;
    const std::string canonical = fs::weakly_canonical(stored, ec).string();
    for (const auto& f : forms)
        for (const std::string* s : {&stored, &canonical})
            if (*s == f || s->rfind(f + "/", 0) == 0) return true;
    return false;
}

// The newest stored run of the configuration from another folder, dated
// before this run (`date`, UTC as stored): one measured on a quiet machine if
// there is one, since a busy one is no level to judge by (against it the
// verdict is withheld). Never this run itself, nor one made after it.
const store::RunRow* earlier_run(const std::vector<store::RunRow>& rows, const Config& c,
                          const std::vector<std::string>& folder, const std::string& date) {
    const store::RunRow *found = nullptr, *busy = nullptr;
    if (date.empty()) return nullptr;  // before when, nobody can tell
    for (const auto& r : rows) {
        if (r.program != c.program || r.host != c.host || r.renderer != c.renderer ||
            r.window_size != c.window_size || r.variant != c.variant ||
            r.display_kind != c.display_kind || r.software != c.software || r.date >= date ||
            in_folder(r.folder, folder))
            continue;
        (r.busy.empty() ? found : busy) = &r;
    }
    return found ? found : busy;
}

// When this folder's first run of the configuration ran, as the store dates runs.
std::string first_date(const report::Model& m, const Config& c) {
    std::string first;
    for (const auto& a : m.analyses) {
        if (!(config_of(*a.run) == c)) continue;
        const std::string d =
            store::run_date(a.run->record, fs::path(a.run->path).filename().string()).utc;
        if (!d.empty() && (first.empty() || d < first)) first = d;
    }
    return first;
}

// This folder's runs of the configuration (side A) against the earlier run
// (side B): the first rate, the average the program prints, as compare gives it.
std::vector<std::string> change_row(store::Db& db, const report::Model& m, const Config& c,
                              const store::RunRow& earlier) {
    std::deque<report::Run> kept;  // the analyses point at it
    std::vector<report::Analysis> sides;
    for (const auto& a : m.analyses) {
        if (!(config_of(*a.run) == c)) continue;
        sides.push_back(a);
        sides.back().side = "A";
    }
    std::string unreadable;
    kept.push_back(store::run_from_frames(earlier.program, store::frames_of(db, earlier.id), unreadable));
    const std::string label = c.program + (c.variant.empty() ? "" : " [" + c.variant + "]");
    const std::string against = "run " + std::to_string(earlier.id) + " of " + local_date(earlier.date);
    if (!unreadable.empty()) return {label, against, "-", "-", "-", "not judged: " + unreadable};
    sides.push_back(report::analyse(kept.back()));
    sides.back().side = "B";
    const auto compared = report::compare_sides(sides, m.options);
    if (compared.empty() || compared.front().figures.empty())
        return {label, against, "-", "-", "-", "nothing to compare"};
    const auto& figures = compared.front().figures;
    const auto x = report::figure_cells(figures.size() > 1 ? figures[1] : figures[0],
                                        m.options.practical_percent);
    if (!earlier.busy.empty())
        return {label, against, x.name, x.ratio, x.interval,
                "inconclusive: run " + std::to_string(earlier.id) +
                    " was measured on a busy machine (" + earlier.busy + ")"};
    return {label, against, x.name, x.ratio, x.interval, x.verdict};
}

// The variants other than the first, in the order the runner numbered them.
std::vector<std::string> judged_variants(const report::Model& m) {
    std::map<int, std::string> named;
    for (const auto& r : m.runs)
        if (r.record.variant && r.record.variant->index > 0)
            named.emplace(r.record.variant->index, r.record.variant->name);
    std::vector<std::string> out;
    for (const auto& [_, name] : named) out.push_back(name);
    return out;
}

// How the rounds went for a program, from run.json: "3 rounds, decided", or
// why they stopped with the reason an answer stayed undecided.
std::string rounds_note(const std::optional<record::RunSetRecord>& set,
                        const std::string& program, const std::string& variant) {
    if (!set || !set->rounds_stopped || !set->rounds_stopped->is_object()) return "";
    const auto& all = *set->rounds_stopped;
    const auto p = all.find(program);
    if (p == all.end() || !p->is_object()) return "";
    const auto rounds = p->value("rounds", nlohmann::json()), stopped = p->value("stopped", nlohmann::json());
    std::string note = (rounds.is_number_integer() ? std::to_string(rounds.get<long long>()) : "?") +
                       " rounds, " + (stopped.is_string() ? stopped.get<std::string>() : "?");
    const auto v = p->find("variants");
    if (v != p->end() && v->is_object() && v->contains(variant) && (*v)[variant].is_object()) {
        const auto& answer = (*v)[variant];
        const auto why = answer.value("why", nlohmann::json()), said = answer.value("answer", nlohmann::json());
        if (why.is_string()) note += ": " + why.get<std::string>();
        else if (said.is_string()) note += ": " + said.get<std::string>();
    }
    return note;
}

// The answer a variant run was made for: each variant against the first, as
// compare RUN gives it (its headline figure), with how the rounds went.
void print_variants(const std::string& run_folder, const report::Model& m) {
    const auto variants = judged_variants(m);
    if (variants.empty()) return;
    const auto set = report::read_run_set(run_folder);
    report::Table t;
    t.title = "each variant against the first (A/B, as suite-report compare RUN gives it)";
    t.left = 3;
    std::vector<std::string> notes;
    for (const auto& name : variants) {
        std::string error;
        const auto vm = report::build_variant_comparison(run_folder, name, m.options, error);
        if (!vm) {
            notes.push_back(name + ": " + error);
            continue;
        }
        t.columns = {"program", "variant", "figure", "A/B", report::interval_column(vm->options.confidence), "A is"};
        for (const auto& c : vm->comparisons) {
            const std::string program = report::program_name(c.program);
            const auto& f = c.figures.size() > 1 ? c.figures[1] : c.figures.front();
            const auto x = report::figure_cells(f, vm->options.practical_percent);
            t.rows.push_back({program, name, x.name, x.ratio, x.interval, x.verdict});
            if (const auto n = rounds_note(set, program, name); !n.empty())
                notes.push_back(program + " [" + name + "]: " + n);
        }
    }
    if (!t.rows.empty()) report::text_table(std::cout, t, "   ");
    for (const auto& n : notes) std::cout << "   " << common::terminal_safe(n) << "\n";
}

// Each program against its last comparable run, or why there is none.
void print_changes(const std::string& url, const report::Model& m,
                   const std::vector<std::string>& folder) {
    std::map<Config, bool> configs;
    for (const auto& a : m.analyses) configs[config_of(*a.run)] = true;
    if (configs.empty()) return;
    report::Table t;
    t.title = "against the last comparable run of this machine (same renderer, size, variant, display)";
    t.columns = {"program", "earlier run", "figure", "this/earlier", "95% interval", "verdict"};
    t.left = 3;
    std::vector<std::string> none;
    try {
        auto db = store::open_store_read_only(url);
        const auto rows = store::find_runs(*db, {});
        for (const auto& [c, _] : configs) {
            if (const store::RunRow* earlier = earlier_run(rows, c, folder, first_date(m, c)))
                t.rows.push_back(change_row(*db, m, c, *earlier));
            else
                none.push_back(c.program + (c.variant.empty() ? "" : " [" + c.variant + "]"));
        }
    } catch (const store::StoreError& e) {
        std::cout << "   no comparison with earlier runs: " << common::terminal_safe(e.what())
                  << "\n";
        return;
    }
    if (!t.rows.empty()) report::text_table(std::cout, t, "   ");
    if (!none.empty()) {
        std::string names;
        for (const auto& n : none) names += (names.empty() ? "" : ", ") + n;
        std::cout << "   no earlier comparable run in the store for " << common::terminal_safe(names)
                  << "\n";
    }
}

}  // namespace

int run_summary(const std::string& url, const std::string& run_folder) {
    const report::Model m = report::build_model({run_folder});
    std::cout << "== summary\n";
    for (const auto& d : m.all_diagnostics())
        if (d.level == report::Diagnostic::Level::error)
            std::cout << "   " << common::terminal_safe(to_string(d)) << "\n";
    if (m.runs.empty()) return 1;  // nothing to show, nor to put on a page
    report::text_table(std::cout, glance(m), "   ");
    for (const auto& note : m.software_notes()) std::cout << "   " << common::terminal_safe(note) << "\n";
    std::error_code ec;
    const fs::path absolute = fs::absolute(run_folder, ec);
    std::vector<std::string> forms = {absolute.string(), absolute.lexically_normal().string(),
                                      fs::weakly_canonical(absolute, ec).string()};
    for (auto& f : forms)
        while (f.size() > 1 && f.back() == '/') f.pop_back();
    print_variants(run_folder, m);
    print_changes(url, m, forms);
    int status = m.has_errors() ? 1 : 0;
    // A link or a folder planted where the page goes is not written through.
    const fs::path page = fs::path(run_folder) / "report.html";
    const auto kind = fs::symlink_status(page, ec).type();
    if (kind != fs::file_type::not_found && kind != fs::file_type::regular) {
        std::cout << "   page not written: " << common::terminal_safe(page.string())
                  << " is there and is not a plain file\n";
        status = 1;
    } else {
        std::vector<std::string> problems;
        if (report::write_page_with_plots(page.string(), m, problems))
            std::cout << "   page with plots: " << common::terminal_safe(page.string()) << "\n";
        else
            status = 1;
        for (const auto& p : problems) std::cout << "   " << common::terminal_safe(p) << "\n";
    }
    std::cout << "   full report: suite-report " << common::shell_pasteable(run_folder) << "\n";
    return status;
}

}  // namespace suite_report
