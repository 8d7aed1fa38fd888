// Plots drawn with gnuplot from data, for the report and the store's trends:
// figures go through data files, texts only through gnuplot_string, and the
// script names nothing but files of its own folder.
#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "report/output/outputs.h"

namespace report {

struct Series {
    std::string title;
    std::vector<std::pair<double, double>> points;
};

// A vertical line across the plot at x, with a label beside it.
struct Mark {
    double x = 0;
    std::string label;
};

struct Plot {
    Plot(std::string file_, std::string title_, std::string xlabel_, std::string ylabel_)
        : file(std::move(file_)), title(std::move(title_)), xlabel(std::move(xlabel_)),
          ylabel(std::move(ylabel_)) {}
    std::string file;  // name in the target folder, without the format's extension
    std::string title, xlabel, ylabel;
    bool logx = false;
    bool logy_when_wide = false;  // times that span orders of magnitude
    bool time_x = false;          // x holds seconds since the epoch, shown as dates
    const char* style = "linespoints pointtype 7 pointsize 0.5";
    std::vector<Series> series;
    std::vector<Mark> marks;
};

// Draws `plots` in a folder of its own inside `folder` (which must exist),
// then moves each finished file into place as FILE.FORMAT. Returns the files
// made; on failure none, with the reason in `error`.
std::vector<PlotFile> draw_plots(const std::vector<Plot>& plots, const std::filesystem::path& folder,
                                 const std::string& format, std::string& error);

}  // namespace report
