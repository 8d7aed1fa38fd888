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

namespace suite_report {

namespace {

std::string figure(const std::optional<double>& v, int digits = 6) {
    return v ? common::format_sig(*v, digits) : "-";
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

using Triaged = std::map<std::string, store::Triage>;

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
            const store::RunRow& r = g.runs[k];
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

void write_history_html(std::ostream& out, const std::vector<Group>& groups,
                const std::vector<report::PlotFile>& trends, const std::string& plot_error) {
    const char* const style =
        "body{margin:1.5em auto;max-width:1100px;padding:0 1em}table{font-size:.9em}"
        "th,td{padding:.25em .7em;border-bottom:1px solid #e3e3e3}th{background:#f2f2f4;"
        "text-align:left}td.n{text-align:right}";
    report::write_page(out, {"Results history", style, std::nullopt, {}, ""}, [&](std::ostream& body) {
        body << "<h1>Results history</h1>\n";
        if (!plot_error.empty())
            body << "<p>No trend plots: " << report::html_escape(plot_error) << "</p>\n";
        for (const auto& t : trends) report::html_figure(body, t);
        for (const auto& g : groups) {
            report::html_table(body, history_table(g));
            if (!g.steps.empty()) body << "<p>Steps:</p>\n<ul>\n";
            for (const auto& st : g.steps)
                body << "<li>" << report::html_escape(st.label) << "</li>\n";
            if (!g.steps.empty()) body << "</ul>\n";
        }
    });
}

// The table of each group on the terminal, with its steps and what looks amiss.
void write_terminal(std::ostream& out, const HistoryOptions& o, const std::vector<Group>& groups,
                    const Triaged& triaged) {
    const std::string future = future_limit();
    if (groups.empty()) out << "no runs in " << store::display_url(o.db) << " match\n";
    for (const auto& g : groups) {
        report::text_table(out, history_table(g), "   ");
        for (const auto& st : g.steps) {
            const std::string state = state_of(triaged, g, st);
            out << "   step: " << common::terminal_safe(st.label) << "\n         "
                << change_id(g, st) << (state.empty() ? "" : ": " + state) << "\n";
        }
        for (const auto& r : g.runs)
            if (r.date > future)
                out << "   dated in the future: run " << r.id << " ("
                    << common::terminal_safe(r.date)
                    << " UTC, more than a day after this machine's clock)\n";
    }
    const bool filtered =
        !(o.filter.program + o.filter.machine + o.filter.renderer + o.filter.since).empty();
    for (const auto& t : triages_not_found(triaged, groups, filtered))
        out << "triaged change no longer found: " << t.change << ": " << t.state << ", "
            << common::terminal_safe(t.note) << " (" << common::terminal_safe(t.user) << ", "
            << t.at << " UTC)\n";
}

// The page, its trends drawn as SVG in a temporary folder of its own.
bool write_history_page(const std::string& path, const std::vector<Group>& groups) {
    std::vector<std::string> problems;
    const bool ok = report::write_page_with_plots(
        path, "suite-history",
        [&](const std::string& folder, std::string& e) {
            return draw_trends(groups, folder, "svg", e);
        },
        [&](std::ostream& s, const std::vector<report::PlotFile>& trends, const std::string& e) {
            write_history_html(s, groups, trends, e);
        },
        problems);
    for (const auto& p : problems) std::cerr << "suite-report: " << common::terminal_safe(p) << "\n";
    return ok;
}

}  // namespace

int run_history(const HistoryOptions& o) {
    std::vector<Group> groups;
    Triaged triaged;
    try {
        auto db = store::open_store_read_only(o.db);
        groups = group_runs(store::find_runs(*db, o.filter));
        triaged = triages_by_change(*db);
    } catch (const store::UnreadableLog& e) {
        // No history rather than one that may miss the newest runs.
        std::cerr << "suite-report: cannot read the store: " << e.what() << "\n";
        return 3;
    } catch (const store::StoreError& e) {
        std::cerr << "suite-report: cannot read the store: " << e.what() << "\n";
        return 1;
    }
    find_group_steps(groups);
    std::vector<report::Export> exports;
    exports.push_back(report::terminal_export(
        [&](std::ostream& s) { write_terminal(s, o, groups, triaged); }));
    exports.push_back(report::stream_export(o.json, [&](std::ostream& s) {
        s << history_json(groups, triaged).dump(2, ' ', false, nlohmann::json::error_handler_t::replace)
          << "\n";
    }));
    exports.push_back(report::stream_export(o.csv, [&](std::ostream& s) { write_csv(s, groups); }));
    exports.push_back({o.plots, [&](const std::string& folder) {
                           std::string error;
                           draw_trends(groups, folder, "png", error);
                           if (!error.empty())
                               std::cerr << "suite-report: " << common::terminal_safe(error) << "\n";
                           return error.empty();
                       },
                       report::Export::Kind::folder});
    exports.push_back(
        {o.html, [&](const std::string& path) { return write_history_page(path, groups); }});
    const auto written = report::write_exports(exports, store_as_input(o.db));
    if (written.refused) return 2;
    return written.failed ? 1 : 0;
}

}  // namespace suite_report
