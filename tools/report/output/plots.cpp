#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "process/spawn.h"
#include "report/output/gnuplot.h"
#include "report/output/outputs.h"
#include "report/output/plotting.h"
#include "report/output/writer.h"

namespace fs = std::filesystem;

namespace report {

namespace {

std::string output_name(std::size_t index, const std::string& format) {
    return "plot" + std::to_string(index) + "." + format;
}

// Whether the y values are all above 0 and more than a hundredfold apart.
bool spans_decades(const Plot& p) {
    double low = HUGE_VAL, high = 0;
    for (const auto& s : p.series)
        for (const auto& pt : s.points) {
            if (!(pt.second > 0)) return false;
            low = std::min(low, pt.second);
            high = std::max(high, pt.second);
        }
    return high > 100 * low;
}

// Lines and labels of the plot's marks: each line is numbered at its top,
// and the numbered labels are listed at the plot's top left, where long
// ones still fit. Positions are figures of our own printed as integers; the
// labels go through gnuplot_string. Each plot clears the marks of the one before.
std::string marks_for(const Plot& p) {
    // Room above the data for the list.
    char room[64];
    std::snprintf(room, sizeof room, "set offsets 0, 0, graph %.2f, 0\n",
                  0.06 * static_cast<double>(std::min<std::size_t>(p.marks.size(), 12)));
    std::string s = std::string("unset arrow\nunset label\n") + room;
    for (std::size_t i = 0; i < p.marks.size(); ++i) {
        const Mark& m = p.marks[i];
        if (!std::isfinite(m.x) || std::fabs(m.x) > 1e15) continue;
        const std::string n = std::to_string(i + 1);
        const std::string x = std::to_string(std::llround(m.x));
        const std::string at = p.time_x ? gnuplot_string(x) : x;
        char y[32];
        std::snprintf(y, sizeof y, "%.2f", 0.95 - 0.05 * static_cast<double>(i % 12));
        const std::string style = " font ',8' textcolor rgb '#b00000' front noenhanced\n";
        s += "set arrow " + n + " from first " + at + ", graph 0 to first " + at +
             ", graph 1 nohead dashtype 2 linecolor rgb '#b00000' front\n";
        s += "set label " + std::to_string(2 * i + 1) + " " + gnuplot_string(n) + " at first " +
             at + ", graph 1 center offset character 0,0.6" + style;
        s += "set label " + std::to_string(2 * i + 2) + " " +
             gnuplot_string(n + ": " + m.label.substr(0, 130)) + " at graph 0.01, graph " + y +
             " left" + style;
    }
    return s;
}

// Each series goes to a data file of its own; the script holds only fixed
// names of our choosing and labels made literal by gnuplot_string.
std::string script_for(const Plot& p, const fs::path& work, const std::string& format,
                       std::size_t index, std::string& error) {
    std::ostringstream s;
    if (format == "svg")
        s << "set terminal svg size 900,460 font 'sans,11' background '#ffffff'\n";
    else
        s << "set terminal pngcairo size 900,460 font 'sans,10' background '#ffffff'\n";
    s << "set output " << gnuplot_string(output_name(index, format)) << "\n"
      << "set title " << gnuplot_string(p.title) << " noenhanced\n"
      << "set xlabel " << gnuplot_string(p.xlabel) << " noenhanced\n"
      << "set ylabel " << gnuplot_string(p.ylabel) << " noenhanced\n"
      << (p.time_x ? "set xdata time\nset timefmt '%s'\nset format x '%Y-%m-%d'\n"
                     "set xtics rotate by -30\n"
                   : "set xdata\nset format x '% h'\nset xtics norotate\n")
      << "set grid\nset key below noenhanced\nset autoscale\n"
      << (p.logx ? "set logscale x\n" : "unset logscale x\n")
      << (p.logy_when_wide && spans_decades(p) ? "set logscale y\n" : "unset logscale y\n")
      << marks_for(p);
    std::string plot;
    for (std::size_t i = 0; i < p.series.size(); ++i) {
        const std::string data = "d" + std::to_string(index) + "_" + std::to_string(i) + ".dat";
        std::ostringstream points;
        points.precision(10);
        for (const auto& [x, y] : p.series[i].points) points << x << ' ' << y << "\n";
        if (auto failed = write_output((work / data).string(), points.str())) error = *failed;
        plot += (i ? ", " : "plot ") + gnuplot_string(data) + " using 1:2 with " + p.style +
                " title " + gnuplot_string(p.series[i].title);
    }
    s << plot << "\nset output\n";
    return s.str();
}

std::vector<Plot> plots_for(const Model& m) {
    std::vector<Plot> plots;
    for (Program program : all_programs) {
        Plot over{std::string(program_name(program)) + "-frame-time",
                  std::string(program_name(program)) + ": frame time over the run",
                  "frame", "frame time (ms)"};
        over.logy_when_wide = true;
        Plot others{std::string(program_name(program)) + "-other-load",
                    std::string(program_name(program)) +
                        ": other processes' CPU over the frames",
                    "frame", "cores"};
        Plot spread{std::string(program_name(program)) + "-distribution",
                    std::string(program_name(program)) + ": frame-time distribution (cumulative)",
                    "frame time (ms)", "share of frames at or below"};
        spread.style = "steps";
        Plot sizes{"triangles-throughput", "triangles: throughput against triangles per frame",
                   "triangles per frame", "Triangles/sec"};
        sizes.logx = true;
        sizes.logy_when_wide = true;
        sizes.style = "points pointtype 7 pointsize 0.6";
        for (const auto& a : m.analyses) {
            if (a.run->program != program || a.seconds.empty()) continue;
            Series o{a.run->label, {}}, d{a.run->label, {}}, t{a.run->label, {}};
            for (std::size_t i = 0; i < a.seconds.size(); ++i)
                o.points.emplace_back(static_cast<double>(i + 1), 1000 * a.seconds[i]);
            auto sorted = a.seconds;
            std::sort(sorted.begin(), sorted.end());
            const double n = static_cast<double>(sorted.size());
            d.points.emplace_back(1000 * sorted.front(), 0);
            for (std::size_t i = 0; i < sorted.size(); ++i)
                d.points.emplace_back(1000 * sorted[i], static_cast<double>(i + 1) / n);
            for (std::size_t i = 0; i < a.seconds.size(); ++i) {
                const double k = a.run->frames[i].triangles, s = a.seconds[i];
                if (program == Program::triangles && k > 0 && s > 0)
                    t.points.emplace_back(k, k / s);
            }
            if (!a.run->other_load.empty())
                others.series.push_back({a.run->label, a.run->other_load});
            over.series.push_back(std::move(o));
            spread.series.push_back(std::move(d));
            if (!t.points.empty()) sizes.series.push_back(std::move(t));
        }
        if (over.series.empty()) continue;
        plots.push_back(std::move(over));
        if (!others.series.empty()) plots.push_back(std::move(others));
        plots.push_back(std::move(spread));
        if (!sizes.series.empty()) plots.push_back(std::move(sizes));
    }
    return plots;
}

// Runs gnuplot on the script in `work`, in that folder, so that no path of
// the user's reaches the script; returns what went wrong, or nothing.
std::string run_gnuplot(const fs::path& work) {
    const std::string log = (work / "gnuplot.log").string();
    const int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    int status = -1;
    std::string started;
    if (in < 0 || out < 0) {
        started = std::string("cannot set up gnuplot's files: ") + std::strerror(errno);
    } else {
        process::child_setup s;
        s.argv = {"gnuplot", "plots.gp"};
        s.search_path = true;
        s.directory = work.string();
        s.in = in;
        s.out = s.err = out;
        s.own_group = false;  // a Ctrl-C at the terminal ends it with the report
        try {
            status = process::wait_raw(process::spawn(s));
        } catch (const std::exception& e) {
            started = std::string("cannot run gnuplot: ") + e.what();
        }
    }
    if (in >= 0) close(in);
    if (out >= 0) close(out);
    if (!started.empty()) return started;
    if (WIFEXITED(status) && WEXITSTATUS(status) == process::not_started)
        return "cannot run gnuplot (not found); on Debian it comes with gnuplot-nox";
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return {};
    std::ifstream in_log(log);
    std::string first, line;
    while (std::getline(in_log, line))
        if (!line.empty()) first = line;
    return "gnuplot failed: " + (first.empty() ? std::string("no message") : first);
}

}  // namespace

std::vector<PlotFile> draw_plots(const std::vector<Plot>& plots, const fs::path& folder,
                                 const std::string& format, std::string& error) {
    std::string work = (folder / ".suite-report-XXXXXX").string();
    if (!mkdtemp(work.data())) {
        error = "cannot make a folder in " + folder.string() + ": " + std::strerror(errno);
        return {};
    }
    std::string script;
    for (std::size_t i = 0; i < plots.size() && error.empty(); ++i)
        script += script_for(plots[i], work, format, i, error);
    if (error.empty())
        if (auto failed = write_output((fs::path(work) / "plots.gp").string(), script))
            error = *failed;
    if (error.empty()) error = run_gnuplot(work);
    std::vector<PlotFile> files;
    for (std::size_t i = 0; i < plots.size() && error.empty(); ++i) {
        const std::string target = (folder / (plots[i].file + "." + format)).string();
        if (auto failed =
                move_into_place((fs::path(work) / output_name(i, format)).string(), target))
            error = *failed;
        files.push_back({plots[i].title, target, format});
    }
    std::error_code ec;
    fs::remove_all(work, ec);
    if (!error.empty()) return {};
    return files;
}

std::vector<std::string> plot_files(const Model& m, const std::string& format) {
    std::vector<std::string> names;
    for (const auto& p : plots_for(m)) names.push_back(p.file + "." + format);
    return names;
}

std::vector<PlotFile> render_plots(const Model& m, const std::string& folder,
                                   const std::string& format, std::string& error) {
    error.clear();
    const auto plots = plots_for(m);
    if (plots.empty()) return {};
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) {
        error = "cannot create " + folder + ": " + ec.message();
        return {};
    }
    return draw_plots(plots, fs::absolute(folder), format, error);
}

bool write_page_with_plots(const std::string& path, const Model& m,
                           std::vector<std::string>& problems) {
    return write_page_with_plots(
        path, "suite-report",
        [&](const std::string& folder, std::string& error) {
            return render_plots(m, folder, "svg", error);
        },
        [&](std::ostream& s, const std::vector<PlotFile>& plots, const std::string& error) {
            write_html(s, m, plots, error);
        },
        problems);
}

}  // namespace report
