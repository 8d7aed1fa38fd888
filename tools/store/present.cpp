#include "present.h"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "gnuplot.h"
#include "plotting.h"

namespace fs = std::filesystem;

namespace store {

std::string printable(const std::string& s) {
    std::string out;
    for (char c : s) out += static_cast<unsigned char>(c) < 0x20 || c == 0x7f ? '?' : c;
    return out;
}

void write_table(std::ostream& out, const TextTable& t) {
    std::vector<std::size_t> width(t.columns.size());
    auto fit = [&](const std::vector<std::string>& row) {
        for (std::size_t c = 0; c < row.size() && c < width.size(); ++c)
            width[c] = std::max(width[c], printable(row[c]).size());
    };
    fit(t.columns);
    for (const auto& r : t.rows) fit(r);
    auto line = [&](const std::vector<std::string>& row) {
        std::string text = "  ";
        for (std::size_t c = 0; c < row.size() && c < width.size(); ++c) {
            const std::string cell = printable(row[c]);
            const std::string pad(width[c] - cell.size(), ' ');
            text += " " + (c < t.left ? cell + pad : pad + cell);
        }
        while (!text.empty() && text.back() == ' ') text.pop_back();
        out << text << "\n";
    };
    if (!t.title.empty()) out << "== " << printable(t.title) << "\n";
    line(t.columns);
    for (const auto& r : t.rows) line(r);
}

std::string html_escape(const std::string& s) {
    std::string out;
    for (char c : s) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

void write_html_table(std::ostream& out, const TextTable& t) {
    out << "<h2>" << html_escape(t.title) << "</h2>\n<table><tr>";
    for (const auto& c : t.columns) out << "<th>" << html_escape(c) << "</th>";
    out << "</tr>\n";
    for (const auto& r : t.rows) {
        out << "<tr>";
        for (std::size_t c = 0; c < r.size(); ++c)
            out << (c < t.left ? "<td>" : "<td class=\"n\">") << html_escape(r[c]) << "</td>";
        out << "</tr>\n";
    }
    out << "</table>\n";
}

std::string base64(const std::string& data) {
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (std::size_t i = 0; i < data.size(); i += 3) {
        unsigned v = static_cast<unsigned char>(data[i]) << 16;
        if (i + 1 < data.size()) v |= static_cast<unsigned char>(data[i + 1]) << 8;
        if (i + 2 < data.size()) v |= static_cast<unsigned char>(data[i + 2]);
        out += digits[v >> 18 & 63];
        out += digits[v >> 12 & 63];
        out += i + 1 < data.size() ? digits[v >> 6 & 63] : '=';
        out += i + 2 < data.size() ? digits[v & 63] : '=';
    }
    return out;
}

std::string Group::title() const {
    return program + " on " + (host.empty() ? "an unnamed machine" : host) + ", " +
           (renderer.empty() ? "unknown renderer" : renderer) +
           (window_size.empty() ? "" : ", " + window_size);
}

std::vector<Group> group_runs(std::vector<RunRow> runs) {
    std::map<std::vector<std::string>, Group> groups;
    for (auto& r : runs) {
        auto& g = groups[{r.program, r.host, r.renderer, r.window_size}];
        g.program = r.program;
        g.host = r.host;
        g.renderer = r.renderer;
        g.window_size = r.window_size;
        g.runs.push_back(std::move(r));
    }
    std::vector<Group> out;
    for (auto& [key, g] : groups) out.push_back(std::move(g));
    return out;
}

namespace {
// "2026-12-07 09:10:12" (UTC) as seconds since the epoch, for gnuplot's time axis.
long long epoch(const std::string& date) {
    std::tm t{};
    if (std::sscanf(date.c_str(), "%4d-%2d-%2d %2d:%2d:%2d", &t.tm_year, &t.tm_mon, &t.tm_mday,
                    &t.tm_hour, &t.tm_min, &t.tm_sec) != 6)
        return -1;
    t.tm_year -= 1900;
    t.tm_mon -= 1;
    return static_cast<long long>(timegm(&t));
}
}  // namespace

std::vector<Trend> draw_trends(const std::vector<Group>& groups, const std::string& folder,
                               const std::string& format, std::string& error) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) {
        error = "cannot create " + folder + ": " + ec.message();
        return {};
    }
    std::map<std::string, std::vector<std::size_t>> by_program;
    for (std::size_t i = 0; i < groups.size(); ++i) by_program[groups[i].program].push_back(i);
    std::vector<report::Plot> plots;
    for (const auto& [program, members] : by_program) {
        // Only the suite's own program names become file names.
        if (!report::program_from_name(program)) continue;
        report::Plot plot{program + "-trend", program + ": median frame time over time", "date",
                          "median frame time (ms)"};
        plot.time_x = true;
        plot.style = "linespoints pointtype 7 pointsize 0.6";
        for (std::size_t k : members) {
            report::Series series{groups[k].title(), {}};
            for (const auto& r : groups[k].runs)
                if (r.median_ms && epoch(r.date) >= 0)
                    series.points.emplace_back(static_cast<double>(epoch(r.date)), *r.median_ms);
            if (!series.points.empty()) plot.series.push_back(std::move(series));
        }
        if (!plot.series.empty()) plots.push_back(std::move(plot));
    }
    if (plots.empty()) return {};
    std::vector<Trend> trends;
    for (const auto& f : report::draw_plots(plots, fs::absolute(folder), format, error))
        trends.push_back({f.title, f.path});
    return trends;
}

}  // namespace store
