#include "report.h"

#include <ext/stdio_filebuf.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <optional>

namespace frame {

std::ostream results(nullptr);
char results_file_name[1024];

namespace {
// Captured before main so that the closing report names the directory the
// file was created in, whatever happens to the process later.
const char* capture_working_directory() {
    const char* dir = getcwd(nullptr, 0);
    return dir ? dir : ".";
}
std::optional<__gnu_cxx::stdio_filebuf<char>> results_buffer;
bool results_opened = false;
bool write_failure_told = false;

// A standard stream closed by whoever started the program would hand its
// descriptor to the results file, and the console would be written into
// it: each closed one is opened on /dev/null first.
void keep_standard_descriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        const int null = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (null >= 0 && null != fd) {
            dup2(null, fd);
            ::close(null);
        }
    }
}

// Writes to a removed file (gone with its directory, say) still succeed, so
// the file must also be the one its name still leads to. The name is looked
// up relative to the working directory, which the program never leaves and
// whose full path may be longer than one call takes.
bool file_still_named() {
    struct stat open_file {}, named {};
    if (fstat(results_buffer->fd(), &open_file) != 0 || open_file.st_nlink == 0) return false;
    if (lstat(results_file_name, &named) != 0) return false;
    return named.st_dev == open_file.st_dev && named.st_ino == open_file.st_ino;
}
}  // namespace

const char* working_directory = capture_working_directory();

std::string format_results_name(const char* pattern, const std::tm& local) {
    char name[sizeof results_file_name];
    std::size_t n = std::strftime(name, sizeof name, pattern, &local);
    return std::string(name, n);
}

std::string numbered_name(const std::string& name, int n) {
    if (n <= 1) return name;
    const std::string suffix = " (" + std::to_string(n) + ")";
    const std::string ext = ".txt";
    if (name.size() >= ext.size() &&
        name.compare(name.size() - ext.size(), ext.size(), ext) == 0)
        return name.substr(0, name.size() - ext.size()) + suffix + ext;
    return name + suffix;
}

std::string join_path(const std::string& directory, const std::string& name) {
    return directory + '/' + name;
}

void open_results(const char* pattern, std::time_t start) {
    // A full disk or a file-size limit must end in an honest report, not in
    // a signal that kills the run.
    std::signal(SIGXFSZ, SIG_IGN);
    keep_standard_descriptors();

    // A time beyond what the calendar holds leaves the fields at zero rather
    // than ending the run.
    std::tm local{};
    if (!localtime_r(&start, &local)) local = std::tm{};
    const std::string base = format_results_name(pattern, local);
    int fd = -1;
    int error = 0;
    std::string name;
    // O_EXCL refuses anything standing under the name, a symbolic link
    // included, so an earlier file is never destroyed nor a link followed.
    for (int n = 1; n <= 1000 && fd < 0; ++n) {
        name = numbered_name(base, n);
        fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    0666);
        error = fd < 0 ? errno : 0;
        if (fd < 0 && error != EEXIST) break;
    }
    std::snprintf(results_file_name, sizeof results_file_name, "%s", name.c_str());
    if (fd < 0) {
        std::cerr << "Warning: cannot create the results file \"" << name
                  << "\": " << std::strerror(error) << "; results go to the console only."
                  << std::endl;
        return;
    }
    results_buffer.emplace(fd, std::ios::out);
    results.rdbuf(&*results_buffer);  // also clears the stream's error state
    results_opened = true;
}

void warn_results_write_failed() {
    const int error = errno;  // of the write that failed, before anything else
    if (!results_opened || write_failure_told) return;
    write_failure_told = true;
    std::cerr << "Warning: cannot write to the results file \"" << results_file_name
              << "\": " << std::strerror(error) << "; results go to the console only."
              << std::endl;
}

bool results_saved() {
    if (!results_opened) return false;
    results.flush();
    if (!results.good()) return false;
    if (file_still_named()) return true;
    std::cerr << "Warning: the results file \"" << results_file_name
              << "\" is no longer in the working directory (removed or replaced during the run)."
              << std::endl;
    return false;
}

std::string results_path() { return join_path(working_directory, results_file_name); }

}  // namespace frame
