// suite-report history: one row per stored run, grouped by program and
// configuration, as a table, JSON, CSV, trend plots and a page.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include <nlohmann/json.hpp>

#include "common/number.h"
#include "common/text.h"
#include "report/output/csv.h"
#include "report/output/writer.h"
#include "suite_report/change_ids.h"
#include "suite_report/commands.h"
#include "suite_report/store_tables.h"

namespace fs = std::filesystem;

namespace store {

namespace {

std::string figure(const std::optional<double>& v, int digits = 6) {
    return v ? report::format_sig(*v, digits) : "-";
}

report::Table history_table(const Group& g) {
    report::Table t;
    t.title = g.title() + " (" + std::to_string(g.runs.size()) + (g.runs.size() == 1 ? " run)" : " runs)");
    t.columns = {"date (UTC)", "machine", "renderer", "suite version", "tag", "frames"};
    for (const auto& [name, avg] : g.runs.front().rates) t.columns.push_back(name + " avg");
    t.columns.push_back("median ms");
    t.left = 5;
    for (const auto& r : g.runs) {
        std::vector<std::string> row = {r.date, r.host, r.renderer, r.suite_version, r.tag,
                                        std::to_string(r.frames)};
        for (std::size_t i = 0; i < g.runs.front().rates.size(); ++i)
            row.push_back(i < r.rates.size() ? figure(r.rates[i].second) : "-");
        row.push_back(figure(r.median_ms, 5));
        t.rows.push_back(std::move(row));
    }
    return t;
}

nlohmann::json number_json(const std::optional<double>& v) {
    return v && std::isfinite(*v) ? nlohmann::json(*v) : nlohmann::json(nullptr);
}

using Triaged = std::map<std::string, Triage>;

nlohmann::json steps_json(const Group& g, const Triaged& triaged) {
    auto out = nlohmann::json::array();
    auto side = [&](std::size_t i) {
        return nlohmann::json{{"run", g.runs[i].id}, {"date", g.runs[i].date}};
    };
    for (const auto& st : g.steps) {
        auto changes = nlohmann::json::array();
        for (const auto& c : st.changes)
            changes.push_back({{"name", c.name}, {"before", c.before}, {"after", c.after}});
        out.push_back({{"figure", st.figure}, {"ratio", number_json(st.step.ratio)},
                       {"interval", {number_json(st.step.low), number_json(st.step.high)}},
                       {"p_value", st.step.p_value}, {"before", side(st.before)},
                       {"after", side(st.after)}, {"changed", changes}, {"label", st.label},
                       {"id", change_id(g, st)}, {"state", state_of(triaged, g, st)}});
    }
    return out;
}

nlohmann::json history_json(const std::vector<Group>& groups, const Triaged& triaged) {
    auto out = nlohmann::json::array();
    for (const auto& g : groups) {
        nlohmann::json runs = nlohmann::json::array();
        for (const auto& r : g.runs) {
            nlohmann::json rates = nlohmann::json::object();
            for (const auto& [name, avg] : r.rates) rates[name] = number_json(avg);
            runs.push_back({{"date", r.date}, {"machine", r.host}, {"renderer", r.renderer},
                            {"suite_version", r.suite_version}, {"tag", r.tag},
                            {"frames", r.frames}, {"average_rates", rates},
                            {"median_frame_ms", number_json(r.median_ms)},
                            {"complete", r.complete},
                            {"exit_status", r.exit_status ? nlohmann::json(*r.exit_status) : nullptr},
                            {"folder", r.folder}, {"file", r.results_name}, {"hash", r.hash}});
        }
        out.push_back({{"program", g.program}, {"machine", g.host}, {"renderer", g.renderer},
                       {"window_size", g.window_size}, {"variant", g.variant},
                       {"display", g.display_kind},
                       {"software", g.software ? nlohmann::json(*g.software) : nullptr},
                       {"runs", runs},
                       {"steps", steps_json(g, triaged)}});
    }
    return out;
}

void write_csv(std::ostream& out, const std::vector<Group>& groups) {
    using report::csv_text;
    out << "program,date,machine,renderer,window_size,suite_version,tag,frames,rate1,rate1_avg,"
           "rate2,rate2_avg,median_frame_ms,hash,steps,variant,display,software\n";
    for (const auto& g : groups)
        for (std::size_t k = 0; k < g.runs.size(); ++k) {
            const RunRow& r = g.runs[k];
            for (const auto* text : {&r.program, &r.date, &r.host, &r.renderer, &r.window_size,
                                     &r.suite_version, &r.tag})
                out << csv_text(*text) << ',';
            out << r.frames;
            for (std::size_t i = 0; i < 2; ++i)
                out << ',' << (i < r.rates.size() ? csv_text(r.rates[i].first) : "") << ','
                    << (i < r.rates.size() && r.rates[i].second ? figure(r.rates[i].second, 17) : "");
            // The steps this run is the first after, in one cell.
            std::string steps;
            for (const auto& st : g.steps)
                if (st.after == k) steps += (steps.empty() ? "" : "; ") + st.label;
            out << ',' << (r.median_ms ? figure(r.median_ms, 17) : "") << ',' << csv_text(r.hash)
                << ',' << csv_text(steps) << ',' << csv_text(r.variant) << ','
                << csv_text(r.display_kind) << ','
                << (!r.software ? "" : *r.software ? "yes" : "no") << '\n';
        }
}

void write_page(std::ostream& out, const std::vector<Group>& groups,
                const std::vector<report::PlotFile>& trends, const std::string& plot_error) {
    out << "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Results history</title>"
           "<style>body{font-family:sans-serif;margin:1.5em auto;max-width:1100px;padding:0 1em}"
           "table{border-collapse:collapse;font-size:.9em}th,td{padding:.25em .7em;"
           "border-bottom:1px solid #e3e3e3}th{background:#f2f2f4;text-align:left}"
           "td.n{text-align:right}</style></head><body>\n<h1>Results history</h1>\n";
    if (!plot_error.empty()) out << "<p>No trend plots: " << report::html_escape(plot_error) << "</p>\n";
    for (const auto& t : trends) report::html_figure(out, t);
    for (const auto& g : groups) {
        report::html_table(out, history_table(g));
        if (!g.steps.empty()) out << "<p>Steps:</p>\n<ul>\n";
        for (const auto& st : g.steps) out << "<li>" << report::html_escape(st.label) << "</li>\n";
        if (!g.steps.empty()) out << "</ul>\n";
    }
    out << "</body></html>\n";
}

}  // namespace

int run_history(const HistoryOptions& o) {
    std::vector<Group> groups;
    Triaged triaged;
    try {
        auto db = open_store_read_only(o.db);
        groups = group_runs(find_runs(*db, o.filter));
        triaged = triages_by_change(*db);
    } catch (const UnreadableLog& e) {
        // No history rather than one that may miss the newest runs.
        std::cerr << "suite-report: cannot read the store: " << e.what() << "\n";
        return 3;
    } catch (const StoreError& e) {
        std::cerr << "suite-report: cannot read the store: " << e.what() << "\n";
        return 1;
    }
    find_group_steps(groups);
    // An SQLite store is an input like any other: no output may replace it.
    std::vector<report::InputFile> inputs;
    if (const auto id = report::file_id(o.db)) inputs.push_back({o.db, *id});
    if (const auto clash = report::output_over_input({o.json, o.csv, o.html}, inputs)) {
        std::cerr << "suite-report: refusing to write over an input: "
                  << report::terminal_safe(*clash) << " (the store)\n";
        return 2;
    }
    const bool to_stdout = report::to_standard_output({o.json, o.csv, o.html});
    if (!to_stdout) {
        const std::string future = future_limit();
        if (groups.empty()) std::cout << "no runs in " << display_url(o.db) << " match\n";
        for (const auto& g : groups) {
            report::text_table(std::cout, history_table(g), "   ");
            for (const auto& st : g.steps) {
                const std::string state = state_of(triaged, g, st);
                std::cout << "   step: " << report::terminal_safe(st.label) << "\n         "
                          << change_id(g, st) << (state.empty() ? "" : ": " + state) << "\n";
            }
            for (const auto& r : g.runs)
                if (r.date > future)
                    std::cout << "   dated in the future: run " << r.id << " ("
                              << report::terminal_safe(r.date)
                              << " UTC, more than a day after this machine's clock)\n";
        }
        for (const auto& t : triages_not_found(triaged, groups,
                                                   !(o.filter.program + o.filter.machine +
                                                     o.filter.renderer + o.filter.since)
                                                        .empty()))
            std::cout << "triaged change no longer found: " << t.change << ": " << t.state
                      << ", " << report::terminal_safe(t.note) << " (" << report::terminal_safe(t.user)
                      << ", " << t.at << " UTC)\n";
    }
    bool ok = true;
    if (!o.json.empty())
        ok &= report::write_to(o.json, [&](std::ostream& s) {
            s << history_json(groups, triaged).dump(2, ' ', false, nlohmann::json::error_handler_t::replace)
              << "\n";
        });
    if (!o.csv.empty())
        ok &= report::write_to(o.csv, [&](std::ostream& s) { write_csv(s, groups); });
    std::string error;
    if (!o.plots.empty()) {
        draw_trends(groups, o.plots, "png", error);
        if (!error.empty()) std::cerr << "suite-report: " << report::terminal_safe(error) << "\n";
        ok &= error.empty();
    }
    if (!o.html.empty()) {
        std::vector<std::string> problems;
        ok &= report::write_page_with_plots(
            o.html, "suite-history",
            [&](const std::string& folder, std::string& e) {
                return draw_trends(groups, folder, "svg", e);
            },
            [&](std::ostream& s, const std::vector<report::PlotFile>& trends,
                const std::string& e) { write_page(s, groups, trends, e); },
            problems);
        for (const auto& p : problems)
            std::cerr << "suite-report: " << report::terminal_safe(p) << "\n";
    }
    return ok ? 0 : 1;
}

}  // namespace store
