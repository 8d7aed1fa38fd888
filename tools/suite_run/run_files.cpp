#include "suite_run/run_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "common/files.h"
#include "common/number.h"
#include "common/secrets.h"
#include "report/reading/parser.h"
#include "texts/texts.h"

namespace fs = std::filesystem;

namespace suite_run {

namespace {
mode_t current_umask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}
}  // namespace

std::optional<std::string> make_new_folder(const std::string& asked, bool numbered,
                                           std::string& error) {
    // "run-a/" names the folder run-a, not an empty name inside it.
    std::string path = asked;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    std::error_code e;
    const fs::path parent = fs::path(path).parent_path();
    if (!parent.empty()) fs::create_directories(parent, e);
    if (e) {
        error = "cannot create " + parent.string() + ": " + e.message();
        return std::nullopt;
    }
    for (int n = 1; n <= 1000; ++n) {
        const std::string candidate = n == 1 ? path : path + "-" + std::to_string(n);
        if (mkdir(candidate.c_str(), 0777) == 0) return candidate;
        if (errno != EEXIST) {
            error = "cannot create " + candidate + ": " + std::strerror(errno);
            return std::nullopt;
        }
        if (!numbered) {
            error = candidate + " exists already: a run never writes into an existing folder";
            return std::nullopt;
        }
    }
    error = "cannot create " + path + ": it and its numbered siblings up to -1000 exist";
    return std::nullopt;
}

bool write_new_file(const std::string& path, const std::string& text, std::string& error) {
    const int failed = common::write_whole(path, text, false, 0666 & ~current_umask());
    if (failed) error = "cannot write " + path + ": " + std::strerror(failed);
    return failed == 0;
}

bool replace_own_file(const std::string& path, const std::string& text, std::string& error) {
    const int failed = common::write_whole(path, text, true, 0666 & ~current_umask());
    if (failed) error = "cannot write " + path + ": " + std::strerror(failed);
    return failed == 0;
}

std::string json_text(const nlohmann::json& j) {
    nlohmann::json masked = j;
    common::mask_secrets_in(masked);
    return masked.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

namespace {
void cut_strings(nlohmann::json& j, std::size_t limit) {
    if (j.is_string()) {
        auto& s = j.get_ref<std::string&>();
        if (s.size() > limit)
            s = s.substr(0, limit) + " [" + std::to_string(s.size() - limit) + " bytes not kept]";
    }
    if (j.is_structured())
        for (auto& item : j) cut_strings(item, limit);
}
}  // namespace

std::string bounded_json_text(const nlohmann::json& j, std::size_t max_bytes) {
    std::string text = json_text(j);
    for (std::size_t limit = 4096; text.size() > max_bytes && limit >= 16; limit /= 4) {
        nlohmann::json cut = j;
        cut_strings(cut, limit);
        text = json_text(cut);
    }
    return text;
}

std::string new_results_file(const std::string& dir, const std::string& program) {
    const std::string prefix = std::string(texts::results_prefix) + program + "_";
    std::string found;
    timespec newest{};
    DIR* d = opendir(dir.c_str());
    for (dirent* e = d ? readdir(d) : nullptr; e; e = readdir(d)) {
        const std::string name = e->d_name;
        struct stat st {};
        if (name.rfind(prefix, 0) != 0 || lstat((dir + "/" + name).c_str(), &st) != 0 ||
            !S_ISREG(st.st_mode))
            continue;
        const bool newer = st.st_mtim.tv_sec > newest.tv_sec ||
                           (st.st_mtim.tv_sec == newest.tv_sec && st.st_mtim.tv_nsec > newest.tv_nsec);
        if (found.empty() || newer) {
            found = name;
            newest = st.st_mtim;
        }
    }
    if (d) closedir(d);
    return found;
}

std::string seconds_text_as_ms(const std::string& s) {
    if (s.empty() || s.find_first_not_of("0123456789.") != std::string::npos ||
        s.find('.') != s.rfind('.')) {
        char text[32];
        std::snprintf(text, sizeof text, "%.9g", std::strtod(s.c_str(), nullptr) * 1000);
        return text;
    }
    const auto dot = s.find('.');
    std::string whole = s.substr(0, dot);
    std::string fraction = dot == std::string::npos ? "" : s.substr(dot + 1);
    fraction.resize(std::max<std::size_t>(fraction.size(), 3), '0');
    whole += fraction.substr(0, 3);
    std::string rest = fraction.substr(3);
    while (!rest.empty() && rest.back() == '0') rest.pop_back();
    const auto first = whole.find_first_not_of('0');
    whole = first == std::string::npos ? "0" : whole.substr(first);
    return rest.empty() ? whole : whole + "." + rest;
}

std::string frames_csv(const std::string& results_path, const std::vector<std::string>& lines,
                       const std::vector<std::int64_t>& stamps, const std::string& marker) {
    const common::Opened file = common::open_regular(results_path, false);
    if (!file.fd) return "";
    common::LineReader reader(file.fd.get());
    const report::Run run = report::parse_results(reader, results_path);
    if (run.frames.empty()) return "";
    std::vector<std::int64_t> arrivals;
    for (std::size_t i = 0; i < lines.size() && i < stamps.size(); ++i)
        if (lines[i].rfind(marker, 0) == 0) arrivals.push_back(stamps[i]);

    std::string csv = "frame,printed_ms,runner_interval_us\n";
    for (std::size_t i = 0; i < run.frames.size(); ++i) {
        // The programs print times as the report's number format does.
        csv += std::to_string(i + 1) + "," +
               seconds_text_as_ms(common::format_printed(run.frames[i].seconds)) + ",";
        if (i > 0 && i < arrivals.size()) csv += std::to_string(arrivals[i] - arrivals[i - 1]);
        csv += "\n";
    }
    return csv;
}

}  // namespace suite_run
