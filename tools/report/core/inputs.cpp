#include "inputs.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "parser.h"

namespace fs = std::filesystem;

namespace report {

namespace {

std::optional<std::string> read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) return std::nullopt;
    return text.str();
}

bool is_results_name(const fs::path& p) {
    const std::string name = p.filename().string();
    return name.rfind("results_", 0) == 0 && p.extension() == ".txt";
}

void note(Run& run, Diagnostic::Level level, std::string message) {
    run.diagnostics.push_back(Diagnostic{level, run.path, 0, std::move(message)});
}

// What the runner leaves beside the results file.
void read_run_folder(Run& run, const fs::path& folder) {
    if (auto text = read_file(folder / "metadata.json")) {
        run.metadata = nlohmann::json::parse(*text, nullptr, false);
        if (run.metadata.is_discarded()) {
            run.metadata = nullptr;
            note(run, Diagnostic::Level::warning, "metadata.json beside it is not valid JSON");
        }
    }
    if (auto text = read_file(folder / "exit-status.txt")) {
        try {
            run.exit_status = std::stoi(*text);
        } catch (const std::exception&) {
            note(run, Diagnostic::Level::warning, "exit-status.txt holds no number");
        }
        // The runner writes -N for a program ended by signal N.
        if (run.exit_status && *run.exit_status < 0)
            note(run, Diagnostic::Level::note,
                 "the program was ended by signal " + std::to_string(-*run.exit_status));
        else if (run.exit_status && *run.exit_status != 0)
            note(run, Diagnostic::Level::note,
                 "the program's exit status was " + std::to_string(*run.exit_status));
    }
    if (auto text = read_file(folder / "stderr.txt"); text && !text->empty()) {
        run.stderr_text = *text;
        note(run, Diagnostic::Level::note,
             "it wrote to standard error: " + text->substr(0, text->find('\n')));
    }
}

}  // namespace

Run load_run(const std::string& path) {
    auto text = read_file(path);
    if (!text) {
        Run run;
        run.path = path;
        note(run, Diagnostic::Level::error, "cannot be read");
        return run;
    }
    Run run = parse_results(*text, path);
    read_run_folder(run, fs::path(path).parent_path());
    return run;
}

Inputs load_inputs(const std::vector<std::string>& paths) {
    Inputs in;
    std::vector<std::string> files;
    for (const auto& p : paths) {
        std::error_code ec;
        const auto status = fs::status(p, ec);
        if (ec || !fs::exists(status)) {
            in.problems.push_back({Diagnostic::Level::error, p, 0, "no such file or folder"});
            continue;
        }
        if (!fs::is_directory(status)) {
            files.push_back(p);
            continue;
        }
        std::vector<std::string> found;
        for (fs::recursive_directory_iterator it(p, fs::directory_options::skip_permission_denied, ec), end;
             !ec && it != end; it.increment(ec))
            if (it->is_regular_file(ec) && is_results_name(it->path()))
                found.push_back(it->path().string());
        if (found.empty())
            in.problems.push_back({Diagnostic::Level::error, p, 0, "holds no results_*.txt file"});
        std::sort(found.begin(), found.end());
        files.insert(files.end(), found.begin(), found.end());
    }
    // The same file named twice (a folder and a file in it) is read once:
    // known by device and inode, one stat a file, however many files.
    std::set<std::pair<dev_t, ino_t>> seen;
    for (const auto& f : files) {
        struct stat st {};
        if (stat(f.c_str(), &st) == 0 && !seen.insert({st.st_dev, st.st_ino}).second) continue;
        in.runs.push_back(load_run(f));
    }
    label_runs(in.runs);
    return in;
}

std::string run_label(const std::string& path) {
    const fs::path p(path);
    std::vector<std::string> parts;
    for (const auto& part : p.parent_path()) parts.push_back(part.string());
    for (std::size_t i = parts.size(); i-- > 0;) {
        if (parts[i].rfind("run-", 0) == 0) {
            std::string label;
            for (std::size_t j = i; j < parts.size(); ++j) label += (j > i ? "/" : "") + parts[j];
            return label;
        }
    }
    // "results_cube_windows_mac_mx @ local date 2026.12.07 time 08.47.10 (2).txt"
    std::string name = p.stem().string();
    const auto date = name.find(" date ");
    std::string program = name.rfind("results_", 0) == 0
                              ? name.substr(8, name.find('_', 8) - 8)
                              : std::string();
    if (date == std::string::npos) return name;
    std::string when = name.substr(date + 6);
    if (auto t = when.find(" time "); t != std::string::npos) when.replace(t, 6, " ");
    return program.empty() ? when : program + " " + when;
}

void label_runs(std::vector<Run>& runs) {
    std::map<std::string, int> seen;
    for (auto& r : runs) {
        const std::string base = run_label(r.path);
        const int n = ++seen[base];
        r.label = n == 1 ? base : base + " #" + std::to_string(n);
    }
}

}  // namespace report
