#include "report/output/writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>

#include "common/text.h"

namespace fs = std::filesystem;

namespace report {

namespace {

bool write_all(int fd, std::string_view content) {
    while (!content.empty()) {
        const ssize_t n = ::write(fd, content.data(), content.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        content.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

std::string failure(const std::string& path, int error) {
    return "cannot write " + path + ": " + std::strerror(error);
}

// What a write into `path` lands on: the file a symbolic link leads to.
fs::path resolved(const std::string& path) {
    std::error_code ec;
    if (fs::is_symlink(fs::symlink_status(path, ec))) {
        const auto target = fs::canonical(path, ec);
        if (!ec) return target;
    }
    return path;
}

mode_t new_file_mode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

}  // namespace

std::optional<std::string> write_output(const std::string& path, std::string_view content) {
    if (path == "-") {
        std::cout.flush();  // what went out through the stream first
        if (!write_all(STDOUT_FILENO, content)) return failure("standard output", errno);
        return std::nullopt;
    }
    const fs::path target = resolved(path);
    struct stat st {};
    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) return "cannot write " + path + ": it is a folder";
    if (exists && !S_ISREG(st.st_mode)) {
        // /dev/null, a FIFO, a terminal: nothing to replace, so write as is.
        const int fd = ::open(target.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) return failure(path, errno);
        const bool ok = write_all(fd, content);
        const int error = errno;
        if (::close(fd) != 0 && ok) return failure(path, errno);
        if (!ok) return failure(path, error);
        return std::nullopt;
    }
    const int error = common::write_whole(target.string(), content, true,
                                  exists ? st.st_mode & 0777 : new_file_mode());
    if (error) return failure(path, error);
    return std::nullopt;
}

std::optional<std::string> move_into_place(const std::string& from, const std::string& target) {
    if (::rename(from.c_str(), resolved(target).c_str()) != 0) return failure(target, errno);
    return std::nullopt;
}

std::optional<std::string> input_at(const std::string& output,
                                    const std::vector<InputFile>& inputs) {
    if (output == "-") return std::nullopt;
    if (const auto id = common::file_id(output)) {
        for (const auto& in : inputs)
            if (in.id == *id) return in.path;
        return std::nullopt;
    }
    std::error_code ec;
    const fs::path name = fs::weakly_canonical(output, ec);
    if (ec) return std::nullopt;
    for (const auto& in : inputs) {
        std::error_code e;
        if (fs::weakly_canonical(in.path, e) == name && !e) return in.path;
    }
    return std::nullopt;
}

bool write_or_tell(const std::string& path, std::string_view content) {
    const auto failed = write_output(path, content);
    if (failed) std::cerr << "suite-report: " << common::terminal_safe(*failed) << "\n";
    return !failed;
}

std::optional<std::string> make_temp_folder(const std::string& name, std::string& warning,
                                            std::string& error) {
    // The system's own lookup throws on a TMPDIR that is not a folder.
    std::string base = "/tmp";
    const char* tmpdir = std::getenv("TMPDIR");
    if (tmpdir && *tmpdir) {
        std::error_code ec;
        if (fs::is_directory(tmpdir, ec)) base = tmpdir;
        else warning = "TMPDIR " + std::string(tmpdir) + " is not a folder; using /tmp";
    }
    std::string pattern = (fs::path(base) / (name + "-XXXXXX")).string();
    if (mkdtemp(pattern.data())) return pattern;
    error = "cannot make a temporary folder in " + base + ": " + std::strerror(errno);
    return std::nullopt;
}

std::optional<std::string> output_over_input(const std::vector<std::string>& outputs,
                                             const std::vector<InputFile>& inputs) {
    for (const auto& out : outputs)
        if (!out.empty())
            if (auto input = input_at(out, inputs)) return out + " is the input " + *input;
    return std::nullopt;
}

bool several_standard_outputs(const std::vector<std::string>& outputs) {
    return std::count(outputs.begin(), outputs.end(), "-") > 1;
}

Export stream_export(std::string path, std::function<void(std::ostream&)> content) {
    return {std::move(path), [content = std::move(content)](const std::string& to) {
                return write_to(to, content);
            }};
}

Export terminal_export(std::function<void(std::ostream&)> content) {
    Export e = stream_export("-", std::move(content));
    e.kind = Export::Kind::terminal;
    return e;
}

bool to_standard_output(const std::vector<Export>& exports) {
    return std::any_of(exports.begin(), exports.end(),
                       [](const Export& e) { return e.kind == Export::Kind::file && e.path == "-"; });
}

Written write_exports(const std::vector<Export>& exports, const ExportInputs& inputs) {
    std::vector<std::string> outputs;
    for (const auto& e : exports)
        if (e.kind == Export::Kind::file) outputs.push_back(e.path);
    outputs.insert(outputs.end(), inputs.beside.begin(), inputs.beside.end());
    if (const auto clash = output_over_input(outputs, inputs.files)) {
        std::cerr << "suite-report: refusing to write over an input: " << common::terminal_safe(*clash)
                  << inputs.whose << "\n";
        return {true, 0};
    }
    const bool to_stdout = to_standard_output(exports);
    Written w;
    for (const auto& e : exports)
        if (!e.path.empty() && !(e.kind == Export::Kind::terminal && to_stdout)) w.failed += !e.write(e.path);
    return w;
}

void remove_folder(const std::optional<std::string>& folder) {
    std::error_code ec;
    if (folder) std::filesystem::remove_all(*folder, ec);
}

}  // namespace report
