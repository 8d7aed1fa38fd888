// suite-report: statistics, comparisons and plots from the benchmarks'
// results files.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>
#include <sstream>

#include <CLI/CLI.hpp>

#include "common/secrets.h"
#include "common/text.h"
#include "report/analysis/model.h"
#include "report/output/ci_outputs.h"
#include "report/output/outputs.h"
#include "report/output/writer.h"
#include "suite_report/commands.h"

namespace fs = std::filesystem;

namespace {

using report::write_to;

struct Options {
    std::vector<std::string> paths, side_a, side_b;
    std::string json, csv, html, plots, markdown;
    std::string plot_format = "png";
    std::string variant;  // compare of an interleaved run: the variant judged
    bool quiet = false;
    report::CompareOptions compare;
};

// Line ends kept, every other control character shown as an escape.
std::string shown_control(unsigned code) {
    if (code == '\n') return "\n";
    char text[12];
    std::snprintf(text, sizeof text, code < 0x80 ? "\\x%02x" : "\\u%04x", code);
    return text;
}

void complain(const std::string& message) {
    std::cerr << "suite-report: " << common::terminal_safe(message) << "\n";
}

// Plots for the page: those already drawn for --plots, else drawn as SVG in
// a folder of our own that goes away afterwards.
bool write_page(const report::Model& m, const Options& o,
                const std::vector<report::PlotFile>& drawn, const std::string& drawn_error) {
    if (!o.plots.empty()) {
        return write_to(o.html, [&](std::ostream& s) { report::write_html(s, m, drawn, drawn_error); });
    }
    std::vector<std::string> problems;
    const bool ok = report::write_page_with_plots(o.html, m, problems);
    for (const auto& p : problems) complain(p);
    return ok;
}

// The files --plots makes: outputs like any other.
std::vector<std::string> plot_paths(const report::Model& m, const Options& o) {
    std::vector<std::string> paths;
    if (!o.plots.empty())
        for (const auto& name : report::plot_files(m, o.plot_format))
            paths.push_back((fs::path(o.plots) / name).string());
    return paths;
}

// The report's model: of the paths, of side A against side B, or of the
// variants of one interleaved run; nullopt after a usage error is told.
std::optional<report::Model> model_of(const Options& o, bool comparing) {
    if (!comparing) return report::build_model(o.paths);
    if (!o.side_b.empty()) return report::build_comparison(o.side_a, o.side_b, o.compare);
    std::string error;
    auto m = o.side_a.size() == 1
                 ? report::build_variant_comparison(o.side_a[0], o.variant, o.compare, error)
                 : std::nullopt;
    if (!m)
        complain(o.side_a.size() == 1 ? error
                                      : "compare: give --against, or one interleaved run folder");
    return m;
}

int run(const Options& o, bool comparing) {
    auto made = model_of(o, comparing);
    if (!made) return 2;
    report::Model& m = *made;
    std::vector<report::PlotFile> plots;
    std::string plot_error;
    std::vector<report::Export> exports;
    if (!o.quiet)
        exports.push_back(report::terminal_export([&](std::ostream& s) { report::write_text(s, m); }));
    exports.push_back(report::stream_export(o.json, [&](std::ostream& s) {
        s << report::to_json(m).dump(2, ' ', false, nlohmann::json::error_handler_t::replace)
          << "\n";
    }));
    exports.push_back(report::stream_export(o.csv, [&](std::ostream& s) { report::write_csv(s, m); }));
    exports.push_back(report::stream_export(o.markdown, [&](std::ostream& s) {
        report::write_markdown(s, "suite-report compare: " + m.sides_title,
                               report::comparison_rows(m));
    }));
    exports.push_back({o.plots, [&](const std::string& folder) {
                           plots = report::render_plots(m, folder, o.plot_format, plot_error);
                           if (!plot_error.empty()) complain(plot_error);
                           return plot_error.empty();
                       },
                       report::Export::Kind::folder});
    exports.push_back({o.html, [&](const std::string&) { return write_page(m, o, plots, plot_error); }});
    const auto written = report::write_exports(exports, {m.inputs, "", plot_paths(m, o)});
    if (written.refused) return 2;
    const bool to_stdout = report::to_standard_output(exports);
    // The terminal report lists every problem; on its own, stderr gets the errors.
    bool errors = false;
    for (const auto& d : m.all_diagnostics()) {
        const bool error = d.level == report::Diagnostic::Level::error;
        errors |= error;
        if (error || o.quiet || to_stdout) complain(to_string(d));
    }
    return errors || written.failed ? 1 : 0;
}

// The report's and compare's options; compare's subcommand.
CLI::App* declare_options(CLI::App& app, Options& o) {
    app.footer(
        "PATH is a results file or a folder searched for results_*.txt (run folders from\n"
        "suite-run included). Exit status: 0 fine, 1 an input unreadable or damaged beyond\n"
        "recovery or an output not written, 2 wrong usage; for check also 1 a regression,\n"
        "3 something not judged; for history 3 a write-ahead log that cannot be read.\n"
        "See man suite-report, and the definitions in\n"
        "/usr/share/doc/graphics-benchmarks/README.report.md (tools/report/README.md\n"
        "in the source tree).");
    app.add_option("PATH", o.paths, "results files or folders");
    app.add_option("--json", o.json, "write every figure as JSON to FILE ('-': stdout)");
    app.add_option("--csv", o.csv, "write every frame as CSV to FILE ('-': stdout)");
    app.add_option("--html", o.html, "write one self-contained HTML page to FILE");
    app.add_option("--plots", o.plots, "draw the plots with gnuplot into DIR");
    app.add_option("--plot-format", o.plot_format, "png or svg, for --plots")
        ->check(CLI::IsMember({"png", "svg"}))
        ->capture_default_str();
    app.add_flag("-q,--quiet", o.quiet, "no report on the terminal");

    auto* compare = app.add_subcommand(
        "compare", "compare runs A with runs B, program by program: suite-report compare "
                   "A... --against B..., or the variants of one run: suite-report compare RUN");
    compare->add_option("A", o.side_a,
                        "results files or folders of side A; alone, a run folder of\n"
                        "suite-run --variant, whose variants are compared")
        ->required();
    compare->add_option("--against", o.side_b, "results files or folders of side B");
    compare->add_option("--variant", o.variant,
                        "of an interleaved run: the variant judged (side A) against\n"
                        "the first (side B); default: the second");
    compare->add_option("--resamples", o.compare.resamples,
                        "no longer used (the intervals are t intervals); kept for scripts")
        ->check(CLI::Range(100, 1000000))
        ->capture_default_str();
    compare->add_option("--seed", o.compare.seed, "no longer used; kept for scripts")->capture_default_str();
    compare->add_option("--practical", o.compare.practical_percent,
                        "differences below PCT percent are reported as within it")
        ->check(CLI::Range(0.0, 50.0))
        ->capture_default_str();
    compare->add_option("--markdown", o.markdown,
                        "write the verdicts as a Markdown table to FILE ('-': stdout)");
    compare->add_flag("--allow-busy", o.compare.allow_busy,
                      "judge runs measured on a busy machine all the same");
    compare->add_flag("--allow-mixed", o.compare.allow_mixed,
                      "pool runs of different window sizes, renderers or variants in a side");
    compare->fallthrough();
    return compare;
}

}  // namespace

int main(int argc, char** argv) {
    // The store's password, wherever it is given, is hidden from every text
    // the tool prints or writes, libpq's messages included.
    for (const char* name : {"SUITE_DB", "PGPASSWORD"})
        if (const char* value = std::getenv(name))
            common::remember_secrets_of(value, std::string(name) == "PGPASSWORD");
    for (int i = 1; i < argc; ++i) common::remember_secrets_of(argv[i]);
    Options o;
    CLI::App app{"Statistics, comparisons and plots from the benchmarks' results files.",
                 "suite-report"};
    CLI::App* compare = declare_options(app, o);
    const suite_report::Commands store_commands(app);  // import, history, check

    try {
        app.parse(argc, argv);
        if (store_commands.chosen()) return store_commands.run();
        suite_report::one_standard_output({o.json, o.csv, o.html, o.markdown});
        if (!*compare && o.paths.empty())
            throw CLI::ValidationError("PATH", "give at least one results file or folder");
        if (*compare && !o.paths.empty())
            throw CLI::ValidationError("PATH", "paths go after 'compare' and '--against'");
    } catch (const CLI::ParseError& e) {
        // A usage error may quote what was given: no secret, no control character.
        std::ostringstream out, err;
        const int code = app.exit(e, out, err);
        std::cout << common::mask_secrets(out.str());
        std::cerr << common::replace_controls(common::mask_secrets(err.str()), shown_control);
        return code == 0 ? 0 : 2;
    }
    return run(o, bool(*compare));
}
