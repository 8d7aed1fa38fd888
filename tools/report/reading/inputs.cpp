#include "report/reading/inputs.h"

#include "report/reading/machine_load.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>

#include "common/secrets.h"
#include "common/text.h"
#include "process/spawn.h"
#include "report/reading/parser.h"
#include "report/reading/runner_clock.h"
#include "texts/texts.h"

namespace fs = std::filesystem;

namespace report {

namespace {

bool is_results_name(const fs::path& p) {
    const std::string name = p.filename().string();
    return name.rfind(texts::results_prefix, 0) == 0 && p.extension() == texts::results_extension;
}

void note(Run& run, Diagnostic::Level level, std::string message) {
    run.diagnostics.push_back(Diagnostic{level, run.path, 0, std::move(message)});
}

// A side file opened for reading: only a regular file (not a link, a FIFO or
// a device a hostile folder may hold there); none if it is not there.
common::Fd open_side(Run& run, const fs::path& path, std::vector<InputFile>* files) {
    common::Opened o = common::open_regular(path.string(), false);
    if (!o.fd) {
        if (o.error != ENOENT)
            note(run, Diagnostic::Level::warning,
                 path.filename().string() + " beside it is not read: " + o.problem);
        return common::Fd();
    }
    if (files) files->push_back({path.string(), o.id});
    return std::move(o.fd);
}

// A side file's text, up to `cap` bytes.
std::optional<std::string> read_side(Run& run, const fs::path& path, std::size_t cap,
                                     bool& more, std::vector<InputFile>* files) {
    const common::Fd fd = open_side(run, path, files);
    if (!fd) return std::nullopt;
    std::string problem;
    auto text = common::read_capped(fd, cap, more, problem);
    if (!text)
        note(run, Diagnostic::Level::warning,
             path.filename().string() + " beside it cannot be read: " + problem);
    return text;
}

// The machine's load over the run's frames: read a line at a time and only
// as far as those frames need, so a file of any size costs no more than a
// long run's.
void read_load_csv(Run& run, const fs::path& path, std::vector<InputFile>* files) {
    const common::Fd fd = open_side(run, path, files);
    if (!fd) return;
    common::LineReader lines(fd.get(), frames_csv_cap);
    run.other_load = other_load_by_frame(lines, run.frames.size());
    if (!lines.error().empty())
        note(run, Diagnostic::Level::warning,
             "load.csv beside it cannot be read: " + lines.error());
}

// The deepest nesting of arrays and objects in a JSON text; the parser's
// results are walked recursively later, so a deep one is refused first.
int json_depth(std::string_view text) {
    int depth = 0, deepest = 0;
    bool in_string = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (in_string) {
            if (c == '\\') ++i;
            else if (c == '"') in_string = false;
        } else if (c == '"') {
            in_string = true;
        } else if (c == '[' || c == '{') {
            deepest = std::max(deepest, ++depth);
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return deepest;
}

void take_metadata(Run& run, const std::optional<std::string>& text, bool more) {
    if (!text) return;
    if (more) {
        note(run, Diagnostic::Level::warning,
             "metadata.json beside it is larger than " + std::to_string(metadata_cap >> 10) +
                 " KiB, more than the runner writes; not read");
        return;
    }
    if (json_depth(*text) > metadata_depth_cap) {
        note(run, Diagnostic::Level::warning,
             "metadata.json beside it nests deeper than " + std::to_string(metadata_depth_cap) +
                 " levels, deeper than the runner writes; not read");
        return;
    }
    run.metadata = nlohmann::json::parse(common::valid_utf8(*text), nullptr, false);
    if (run.metadata.is_discarded()) {
        run.metadata = nullptr;
        note(run, Diagnostic::Level::warning, "metadata.json beside it is not valid JSON");
        return;
    }
    // A folder written before secrets were hidden may still hold one.
    common::mask_secrets_in(run.metadata);
    run.record = record::read_run_record(run.metadata);
    // How the runner saw the program end ("crashed: signal 11 (SIGSEGV)", a hang).
    if (!run.record.run.problem.empty())
        note(run, Diagnostic::Level::warning, "the runner reports: " + run.record.run.problem);
    if (run.record.run.gl_verified == false)
        note(run, Diagnostic::Level::warning,
             "its GL was not verified: " + run.record.run.gl_not_verified.value_or("") +
                 "; the renderer recorded is the one probed, which the program may not have had");
    // On a user's desktop the window manager has the last word on the window.
    const record::ProgramRecord& p = run.record.run;
    if (p.window_granted)
        note(run, Diagnostic::Level::warning,
             "the window manager granted " + *p.window_granted +
                 ", not the size the runner asked for");
    if (p.window_hidden)
        note(run, Diagnostic::Level::warning,
             "its window was " + *p.window_hidden +
                 " while frames were measured; a compositor may have slowed it");
}

void take_exit_status(Run& run, const std::string& text) {
    try {
        run.exit_status = std::stoi(text);
    } catch (const std::exception&) {
        note(run, Diagnostic::Level::warning, "exit-status.txt holds no number");
    }
    // The runner writes -N for a program ended by signal N.
    if (run.exit_status && *run.exit_status < 0)
        note(run, Diagnostic::Level::note,
             "the program was ended by " + process::signal_name(-*run.exit_status));
    else if (run.exit_status && *run.exit_status != 0)
        note(run, Diagnostic::Level::note,
             "the program's exit status was " + std::to_string(*run.exit_status));
}

void take_stderr(Run& run, const std::string& text) {
    // Mesa announces the sync switch the runner itself set; the line worth
    // showing is the first other one.
    std::string_view rest = text;
    while (rest.substr(0, rest.find('\n')) == texts::mesa_vblank_notice)
        rest = rest.find('\n') == std::string_view::npos ? std::string_view()
                                                         : rest.substr(rest.find('\n') + 1);
    std::string first = common::mask_secrets(std::string(rest.substr(0, rest.find('\n'))));
    if (first.size() > 200) first = first.substr(0, 200) + "...";
    run.stderr_text = first;
    if (!first.empty()) note(run, Diagnostic::Level::note, "it wrote to standard error: " + first);
}

// What the runner leaves beside the results file, whether read from its
// folder or handed over by the runner.
void take_sides(Run& run, const fs::path& folder, const SideTexts& sides) {
    take_metadata(run, sides.metadata, sides.metadata_more);
    if (const auto load = machine_load(run); load && load->busy)
        note(run, Diagnostic::Level::warning,
             "the machine was busy while its frames were measured: " + load->what +
                 "; its figures say as much about the other processes as about the program");
    if (sides.exit_status) take_exit_status(run, *sides.exit_status);
    if (sides.frames_csv) {
        run.frames_csv = parse_frames_csv(*sides.frames_csv, (folder / "frames.csv").string());
        if (sides.frames_csv_more)
            note(run, Diagnostic::Level::warning,
                 "frames.csv beside it is larger than " + std::to_string(frames_csv_cap >> 20) +
                     " MiB; only its start is read");
    }
    if (sides.load_csv) {
        common::LineReader lines(*sides.load_csv);
        run.other_load = other_load_by_frame(lines, run.frames.size());
    }
    if (sides.stderr_text && !sides.stderr_text->empty()) take_stderr(run, *sides.stderr_text);
}

SideTexts read_sides(Run& run, const fs::path& folder, std::vector<InputFile>* files) {
    SideTexts s;
    bool more = false;
    s.metadata = read_side(run, folder / "metadata.json", metadata_cap, s.metadata_more, files);
    s.exit_status = read_side(run, folder / "exit-status.txt", 64, more, files);
    s.frames_csv = read_side(run, folder / "frames.csv", frames_csv_cap, s.frames_csv_more, files);
    s.stderr_text = read_side(run, folder / "stderr.txt", stderr_cap, more, files);
    return s;
}

// run.json's list of the files the runner wrote, for the run folder that
// holds `folder` (a program's folder: one or three levels below it). Read
// once per run.json: a report reads many programs of one run.
struct Written {
    fs::path root;
    std::vector<record::WrittenFile> files;
};
std::optional<Written> written_files(const fs::path& folder) {
    static std::mutex mutex;
    static std::map<std::string, std::optional<Written>> read;
    const std::lock_guard<std::mutex> lock(mutex);
    fs::path root = folder;
    for (int up = 1; up <= 3 && root.has_relative_path(); ++up) {
        root = root.parent_path();
        const std::string path = (root / "run.json").string();
        if (const auto known = read.find(path); known != read.end()) return known->second;
        if (!common::open_regular(path, false).fd) continue;
        const auto set = read_run_set(root.string());
        auto& entry = read[path];
        if (set && set->written) entry = Written{root, *set->written};
        return entry;
    }
    return std::nullopt;
}

bool as_written(const fs::path& path, const record::WrittenFile& w) {
    const common::Opened o = common::open_regular(path.string(), false);
    struct stat st {};
    if (!o.fd || fstat(o.fd.get(), &st) != 0 || st.st_size != w.bytes) return false;
    bool more = false;
    std::string problem;
    const auto text = common::read_capped(o.fd, static_cast<std::size_t>(w.bytes), more, problem);
    return text && !more && common::sha256_hex(*text) == w.sha256;
}

// A program can write into its folder whatever it likes, under any name;
// the report says where the files are no longer what the runner wrote.
void note_changed_files(Run& run, const fs::path& folder) {
    const auto written = written_files(folder);
    if (!written) return;
    const fs::path here = folder.lexically_relative(written->root);
    std::string changed;
    for (const auto& w : written->files) {
        const fs::path p(w.path);
        if (p.parent_path() != here || as_written(written->root / p, w)) continue;
        changed += (changed.empty() ? "" : ", ") + p.filename().string();
    }
    if (!changed.empty())
        note(run, Diagnostic::Level::warning,
             "its folder was changed after the run: " + changed +
                 " not as the runner wrote; what the folder says of this run is not the "
                 "runner's record (the store keeps that)");
}

// Results files under `folder`, recursively. Links are not followed: a
// folder sent by someone else could lead anywhere (a loop, a device, another
// user's file). A folder that cannot be read is a problem with the system's
// reason.
void find_results(const fs::path& folder, std::vector<std::string>& found,
                  std::vector<Diagnostic>& problems) {
    std::error_code ec;
    fs::directory_iterator it(folder, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        std::error_code e;
        const auto type = it->symlink_status(e).type();
        if (type == fs::file_type::directory)
            find_results(it->path(), found, problems);
        else if (type == fs::file_type::regular && is_results_name(it->path()))
            found.push_back(it->path().string());
    }
    if (ec)
        problems.push_back({Diagnostic::Level::error, folder.string(), 0,
                            "cannot read the folder: " + ec.message()});
}

}  // namespace

Run load_run(const std::string& path, std::vector<InputFile>* files) {
    common::Opened o = common::open_regular(path, true);
    if (!o.fd) {
        // Named as an input all the same: no output may be written into it.
        if (const auto id = common::file_id(path); id && files) files->push_back({path, *id});
        Run run;
        run.path = path;
        note(run, Diagnostic::Level::error, "cannot be read: " + o.problem);
        return run;
    }
    if (files) files->push_back({path, o.id});
    common::LineReader lines(o.fd.get());
    Run run = parse_results(lines, path);
    const fs::path folder = fs::path(path).parent_path();
    take_sides(run, folder, read_sides(run, folder, files));
    // Read in place, a line at a time: a folder's load.csv may be of any size.
    read_load_csv(run, folder / "load.csv", files);
    std::error_code e;
    const fs::path real = fs::canonical(folder.empty() ? fs::path(".") : folder, e);
    if (!e) note_changed_files(run, real);
    return run;
}

Run load_run(const std::string& path, const SideTexts& sides) {
    common::Opened o = common::open_regular(path, true);
    Run run;
    run.path = path;
    if (!o.fd) {
        note(run, Diagnostic::Level::error, "cannot be read: " + o.problem);
        return run;
    }
    common::LineReader lines(o.fd.get());
    run = parse_results(lines, path);
    take_sides(run, fs::path(path).parent_path(), sides);
    return run;
}

Inputs load_inputs(const std::vector<std::string>& paths) {
    Inputs in;
    std::vector<std::string> files;
    for (const auto& p : paths) {
        std::error_code ec;
        const auto status = fs::status(p, ec);
        if (ec && ec != std::errc::no_such_file_or_directory) {
            in.problems.push_back({Diagnostic::Level::error, p, 0, "cannot be read: " + ec.message()});
            continue;
        }
        if (!fs::exists(status)) {
            in.problems.push_back({Diagnostic::Level::error, p, 0, "no such file or folder"});
            continue;
        }
        if (!fs::is_directory(status)) {
            files.push_back(p);
            continue;
        }
        std::vector<std::string> found;
        const std::size_t problems_before = in.problems.size();
        find_results(p, found, in.problems);
        if (found.empty() && in.problems.size() == problems_before)
            in.problems.push_back({Diagnostic::Level::error, p, 0, "holds no results_*.txt file"});
        std::sort(found.begin(), found.end());
        files.insert(files.end(), found.begin(), found.end());
    }
    // The same file named twice (a folder and a file in it, a link) is read once.
    std::set<common::FileId> seen;
    for (const auto& f : files) {
        const auto id = common::file_id(f);
        if (id && !seen.insert(*id).second) continue;
        in.runs.push_back(load_run(f, &in.files));
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
    const std::size_t skip = texts::results_prefix.size();
    std::string program = name.rfind(texts::results_prefix, 0) == 0
                              ? name.substr(skip, name.find('_', skip) - skip)
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

std::optional<record::RunSetRecord> read_run_set(const std::string& run_folder) {
    // A record of every program run: some KiB each, even for long runs.
    constexpr std::size_t run_json_cap = 16u << 20;
    const common::Opened opened = common::open_regular((fs::path(run_folder) / "run.json").string(), false);
    if (!opened.fd) return std::nullopt;
    bool more = false;
    std::string problem;
    const auto text = common::read_capped(opened.fd, run_json_cap, more, problem);
    if (!text || more || json_depth(*text) > metadata_depth_cap) return std::nullopt;
    const auto j = nlohmann::json::parse(common::valid_utf8(*text), nullptr, false);
    if (j.is_discarded()) return std::nullopt;
    record::RunSetRecord record;
    take_value(j, record);
    return record;
}

}  // namespace report
