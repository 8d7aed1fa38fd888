#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "outputs.h"

extern char** environ;

namespace fs = std::filesystem;

namespace report {

namespace {

// gnuplot's single-quoted strings take everything literally but the quote.
std::string quoted(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("''") : std::string(1, c);
    return q + "'";
}

struct Series {
    std::string title;
    std::vector<std::pair<double, double>> points;
};

struct Plot {
    Plot(std::string file_, std::string title_, std::string xlabel_, std::string ylabel_)
        : file(std::move(file_)), title(std::move(title_)), xlabel(std::move(xlabel_)),
          ylabel(std::move(ylabel_)) {}
    std::string file, title, xlabel, ylabel;
    bool logx = false;
    bool logy_when_wide = false;  // times that span orders of magnitude
    const char* style = "linespoints pointtype 7 pointsize 0.5";
    std::vector<Series> series;
};

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

std::string script_for(const Plot& p, const std::string& folder, const std::string& format,
                       std::size_t index) {
    std::ostringstream s;
    s.precision(10);
    if (format == "svg")
        s << "set terminal svg size 900,460 font 'sans,11' background '#ffffff'\n";
    else
        s << "set terminal pngcairo size 900,460 font 'sans,10' background '#ffffff'\n";
    s << "set output " << quoted(folder + "/" + p.file) << "\n"
      << "set title " << quoted(p.title) << " noenhanced\n"
      << "set xlabel " << quoted(p.xlabel) << " noenhanced\n"
      << "set ylabel " << quoted(p.ylabel) << " noenhanced\n"
      << "set grid\nset key below noenhanced\nset autoscale\n"
      << (p.logx ? "set logscale x\n" : "unset logscale x\n")
      << (p.logy_when_wide && spans_decades(p) ? "set logscale y\n" : "unset logscale y\n");
    std::string plot;
    for (std::size_t i = 0; i < p.series.size(); ++i) {
        const std::string block = "$d" + std::to_string(index) + "_" + std::to_string(i);
        s << block << " << EOD\n";
        for (const auto& [x, y] : p.series[i].points) s << x << ' ' << y << "\n";
        s << "EOD\n";
        plot += (i ? ", " : "plot ") + block + " using 1:2 with " + p.style + " title " +
                quoted(p.series[i].title);
    }
    s << plot << "\nset output\n";
    return s.str();
}

std::vector<Plot> plots_for(const Model& m) {
    std::vector<Plot> plots;
    for (Program program : {Program::cube, Program::screens, Program::triangles}) {
        Plot over{std::string(program_name(program)) + "-frame-time",
                  std::string(program_name(program)) + ": frame time over the run",
                  "frame", "frame time (ms)"};
        over.logy_when_wide = true;
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
            over.series.push_back(std::move(o));
            spread.series.push_back(std::move(d));
            if (!t.points.empty()) sizes.series.push_back(std::move(t));
        }
        if (over.series.empty()) continue;
        plots.push_back(std::move(over));
        plots.push_back(std::move(spread));
        if (!sizes.series.empty()) plots.push_back(std::move(sizes));
    }
    return plots;
}

}  // namespace

std::string run_gnuplot(const std::string& script, const std::string& log) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    char program[] = "gnuplot";
    std::string script_arg = script;
    char* argv[] = {program, script_arg.data(), nullptr};
    pid_t pid = 0;
    const int failed = posix_spawnp(&pid, "gnuplot", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed)
        return std::string("cannot run gnuplot (") + std::strerror(failed) +
               "); on Debian it comes with gnuplot-nox";
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return {};
    std::ifstream in(log);
    std::string first, line;
    while (std::getline(in, line))
        if (!line.empty()) first = line;
    return "gnuplot failed: " + (first.empty() ? std::string("no message") : first);
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
    const std::string absolute = fs::absolute(folder).string();
    std::string script;
    std::vector<PlotFile> files;
    for (std::size_t i = 0; i < plots.size(); ++i) {
        Plot p = plots[i];
        p.file += "." + format;
        script += script_for(p, absolute, format, i);
        files.push_back({p.title, absolute + "/" + p.file, format});
    }
    const std::string script_path = absolute + "/.plots.gp";
    const std::string log_path = absolute + "/.plots.log";
    {
        std::ofstream out(script_path);
        out << script;
        if (!out) {
            error = "cannot write " + script_path;
            return {};
        }
    }
    error = run_gnuplot(script_path, log_path);
    fs::remove(script_path, ec);
    fs::remove(log_path, ec);
    if (!error.empty()) return {};
    return files;
}

}  // namespace report
