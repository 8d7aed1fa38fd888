#include "suite_report/site_folder.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace suite_report {

namespace {

// In every generation: what tells a site of ours from any other folder.
const char* const marker = ".suite-report-site";

fs::path absolute_out(const std::string& out) {
    fs::path p = fs::absolute(fs::path(out)).lexically_normal();
    return p.has_filename() ? p : p.parent_path();
}

// Generations of `out` are named ".NAME.site-XXXXXX" in its folder.
std::string generation_prefix(const fs::path& out) {
    return "." + out.filename().string() + ".site-";
}

bool is_generation_of(const fs::path& out, const fs::path& folder) {
    std::error_code ec;
    const std::string name = folder.filename().string();
    return name.rfind(generation_prefix(out), 0) == 0 && folder.parent_path() == out.parent_path() &&
           fs::is_directory(fs::symlink_status(folder, ec)) &&
           fs::is_regular_file(fs::symlink_status(folder / marker, ec));
}

}  // namespace

std::optional<std::string> site_refusal(const std::string& out) {
    const fs::path p = absolute_out(out);
    std::error_code ec;
    const auto st = fs::symlink_status(p, ec);
    if (!fs::exists(st)) return std::nullopt;  // a new path
    if (!fs::is_symlink(st))
        return out + " exists and is not a site written by suite-report site (a link to its "
                     "generation); refusing to replace it";
    const fs::path target = fs::read_symlink(p, ec);
    if (ec || target.has_parent_path() || !is_generation_of(p, p.parent_path() / target))
        return out + " is a link, but not to a site written by suite-report site; refusing to "
                     "replace it";
    return std::nullopt;
}

std::optional<std::string> new_generation(const std::string& out, std::string& error) {
    const fs::path p = absolute_out(out);
    std::error_code ec;
    fs::create_directories(p.parent_path(), ec);
    std::string name = (p.parent_path() / (generation_prefix(p) + "XXXXXX")).string();
    if (!mkdtemp(name.data())) {
        error = "cannot make a folder beside " + out + ": " + std::strerror(errno);
        return std::nullopt;
    }
    // mkdtemp makes it private; a site is for others to read, as umask allows.
    const mode_t mask = umask(0);
    umask(mask);
    chmod(name.c_str(), 0777 & ~mask);
    std::ofstream(fs::path(name) / marker) << "written by suite-report site\n";
    if (!fs::exists(fs::path(name) / marker)) {
        error = "cannot write in " + name;
        fs::remove_all(name, ec);
        return std::nullopt;
    }
    return name;
}

std::optional<std::string> publish_generation(const std::string& out,
                                              const std::string& generation) {
    const fs::path p = absolute_out(out);
    // The generation's files reach the disk before the link names them.
    const int fd = open(generation.c_str(), O_RDONLY | O_DIRECTORY);
    const bool synced = fd >= 0 && syncfs(fd) == 0;
    if (fd >= 0) close(fd);
    if (!synced) return "cannot sync the new site beside " + out + ": " + std::strerror(errno);
    const fs::path link = p.parent_path() / (generation_prefix(p) + "link-" + std::to_string(getpid()));
    std::error_code ec;
    fs::remove(link, ec);
    // Relative, so that the site and its generations can move together.
    if (symlink(fs::path(generation).filename().c_str(), link.c_str()) != 0)
        return "cannot make a link beside " + out + ": " + std::strerror(errno);
    if (rename(link.c_str(), p.c_str()) != 0) {
        const std::string why = std::strerror(errno);
        fs::remove(link, ec);
        return "cannot put the new site in place at " + out + ": " + why;
    }
    for (const auto& e : fs::directory_iterator(p.parent_path(), ec))
        if (e.path().filename() != fs::path(generation).filename() && is_generation_of(p, e.path()))
            fs::remove_all(e.path(), ec);
    return std::nullopt;
}

void discard_generation(const std::string& generation) {
    std::error_code ec;
    fs::remove_all(generation, ec);
}

}  // namespace suite_report
