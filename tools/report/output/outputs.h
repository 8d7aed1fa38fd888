// The forms a report takes: terminal text, JSON, per-frame CSV, plots, HTML.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "report/analysis/model.h"

namespace report {

void write_text(std::ostream& out, const Model& m);

// Infinite and NaN figures become null, as JSON has neither.
nlohmann::json to_json(const Model& m);

// One row per frame of every readable run.
void write_csv(std::ostream& out, const Model& m);

struct PlotFile {
    std::string title;
    std::string path;
    std::string format;  // "png" or "svg"
};

// A drawn plot as a figure of a page, the image inside it.
void html_figure(std::ostream& out, const PlotFile& plot);

// The names of the files render_plots makes in its folder.
std::vector<std::string> plot_files(const Model& m, const std::string& format);

// Draws the plots with gnuplot into `folder`. Returns the files made; on
// failure, none, with the reason in `error`.
std::vector<PlotFile> render_plots(const Model& m, const std::string& folder,
                                   const std::string& format, std::string& error);

// One self-contained page: every plot is embedded as a data: URI.
void write_html(std::ostream& out, const Model& m, const std::vector<PlotFile>& plots,
                const std::string& plot_error);

// The page written to `path` with its plots drawn as SVG in a temporary
// folder of its own, gone afterwards. What went wrong on the way (plots
// that could not be drawn: the page says so too) is added to `problems`;
// false when the page itself was not written (said on standard error).
bool write_page_with_plots(const std::string& path, const Model& m,
                           std::vector<std::string>& problems);

}  // namespace report
