// Paths of the sample results files and small helpers the report tests share.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace report_test {

inline std::string data(const std::string& relative) {
    return std::string(REPORT_DATA) + "/" + relative;
}

// Real cube runs.
inline const std::string cube_a =
    data("runs/run-20261207-084710/cube/results_cube_windows_mac_mx @ local date 2026.12.07 time 08.47.10.txt");
inline const std::string cube_b =
    data("runs/run-20261207-084827/cube/results_cube_windows_mac_mx @ local date 2026.12.07 time 08.48.27.txt");
inline const std::string cube_c =
    data("runs/run-20261207-084920/cube/results_cube_windows_mac_mx @ local date 2026.12.07 time 08.49.20.txt");
// A real repeated cube run, with the runner's metadata.json beside each file.
inline const std::string cube_rep1 =
    data("runs/run-20261207-091012/rep-1/cube/results_cube_windows_mac_mx @ local date 2026.12.07 time 09.10.12.txt");
// Real screens and triangles runs (the triangles run ended with Esc), and a
// triangles run killed by SIGTERM before its summary.
inline const std::string screens_real =
    data("runs/run-20261207-090214/screens/results_screens_windows_mac_mx @ local date 2026.12.07 time 09.02.14.txt");
inline const std::string triangles_real =
    data("runs/run-20261207-090214/triangles/results_triangles_windows_mac_mx @ local date 2026.12.07 time 09.02.16.txt");
inline const std::string triangles_killed =
    data("runs/run-20261207-090316/triangles/results_triangles_windows_mac_mx @ local date 2026.12.07 time 09.03.16.txt");
// Made by hand in the programs' layouts.
inline const std::string screens_file =
    data("synthetic/screens/results_screens_windows_mac_mx @ local date 2026.12.07 time 10.00.00.txt");
// A size sweep that stops at the size limit.
inline const std::string triangles_sweep =
    data("synthetic/triangles/results_triangles_windows_mac_mx @ local date 2026.12.07 time 10.05.00.txt");
// 0 and 1 ms frames, ended with Esc.
inline const std::string triangles_coarse =
    data("synthetic/triangles/results_triangles_windows_mac_mx @ local date 2026.12.07 time 10.06.00.txt");

inline std::string read_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void write_text(const std::string& path, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

inline std::size_t count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size()))
        ++n;
    return n;
}

// 1-based number of the first line that starts with `prefix`.
inline int line_of(const std::string& text, const std::string& prefix, int nth = 1) {
    std::istringstream in(text);
    std::string line;
    for (int n = 1; std::getline(in, line); ++n)
        if (line.rfind(prefix, 0) == 0 && --nth == 0) return n;
    return 0;
}

// Replaces the first occurrence of `from`.
inline std::string replaced(std::string text, const std::string& from, const std::string& to) {
    const auto at = text.find(from);
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

// A fresh folder under the system's temporary folder, removed at the end.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "report-test-XXXXXX").string();
        path_ = mkdtemp(pattern.data()) ? pattern : std::string();
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string path(const std::string& relative = "") const {
        return relative.empty() ? path_ : path_ + "/" + relative;
    }

private:
    std::string path_;
};

}  // namespace report_test
