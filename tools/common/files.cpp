#include "common/files.h"

#include <openssl/evp.h>

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace common {

std::optional<FileId> file_id(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return FileId{st.st_dev, st.st_ino};
}

Fd& Fd::operator=(Fd&& o) noexcept {
    if (this != &o) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = std::exchange(o.fd_, -1);
    }
    return *this;
}

Fd::~Fd() {
    if (fd_ >= 0) ::close(fd_);
}

Opened open_regular(const std::string& path, bool follow) {
    Opened o;
    const int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY | (follow ? 0 : O_NOFOLLOW);
    Fd fd(::open(path.c_str(), flags));
    if (!fd) {
        o.error = errno;
        o.problem = errno == ELOOP && !follow ? "is a symbolic link" : std::strerror(errno);
        return o;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        o.error = errno;
        o.problem = std::strerror(errno);
        return o;
    }
    if (!S_ISREG(st.st_mode)) {
        o.problem = S_ISDIR(st.st_mode) ? "is a folder" : "is not a regular file";
        return o;
    }
    o.id = FileId{st.st_dev, st.st_ino};
    o.fd = std::move(fd);
    return o;
}

std::optional<std::string> read_capped(const Fd& fd, std::size_t cap, bool& more,
                                       std::string& problem) {
    std::string text;
    char buffer[65536];
    more = false;
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            problem = std::strerror(errno);
            return std::nullopt;
        }
        if (n == 0) return text;
        const std::size_t got = static_cast<std::size_t>(n);
        if (text.size() + got > cap) {
            text.append(buffer, cap - text.size());
            more = true;
            return text;
        }
        text.append(buffer, got);
    }
}

namespace {
bool write_all(int fd, std::string_view content) {
    while (!content.empty()) {
        const ssize_t n = ::write(fd, content.data(), content.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = ENOSPC;
            return false;
        }
        content.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}
}  // namespace

int write_whole(const std::string& path, std::string_view content, bool replace, mode_t mode) {
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string temp = folder + "/." + name.substr(0, 200) + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return errno;
    bool ok = ::fchmod(fd, mode) == 0 && write_all(fd, content) && ::fsync(fd) == 0;
    int error = ok ? 0 : errno;
    if (::close(fd) != 0 && ok) ok = false, error = errno;
    if (ok) {
        // Without replace, the name is taken only if free: never over a file or link.
        int r = replace ? ::rename(temp.c_str(), path.c_str())
                        : ::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(),
                                      RENAME_NOREPLACE);
        // A file system without the flag: a hard link is taken only if free too.
        bool linked = false;
        if (r != 0 && !replace && errno == EINVAL)
            linked = (r = ::link(temp.c_str(), path.c_str())) == 0;
        if (r != 0) ok = false, error = errno;
        if (linked) ::unlink(temp.c_str());
    }
    if (!ok) ::unlink(temp.c_str());
    return error;
}

bool LineReader::fill() {
    if (fd_ < 0 || eof_) {
        eof_ = true;
        return false;
    }
    char chunk[65536];
    for (;;) {
        const ssize_t n = left_ ? ::read(fd_, chunk, std::min(sizeof chunk, left_)) : 0;
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n < 0) error_ = std::strerror(errno);
            eof_ = true;
            return false;
        }
        left_ -= static_cast<std::size_t>(n);
        buffer_.erase(0, at_);
        at_ = 0;
        buffer_.append(chunk, static_cast<std::size_t>(n));
        return true;
    }
}

bool LineReader::next(std::string& line, bool& terminated, bool& overlong) {
    line.clear();
    overlong = false;
    if (fd_ < 0 && buffer_.empty() && !eof_) {
        // A text is read in place.
        buffer_.assign(text_);
        text_ = {};
        eof_ = true;
    }
    bool any = false;
    for (;;) {
        const std::size_t end = buffer_.find('\n', at_);
        const std::size_t stop = end == std::string::npos ? buffer_.size() : end;
        if (stop > at_) any = true;
        const std::size_t room = max_line - std::min(max_line, line.size());
        const std::size_t take = std::min(room, stop - at_);
        line.append(buffer_, at_, take);
        if (stop - at_ > take) overlong = true;
        if (end != std::string::npos) {
            at_ = end + 1;
            terminated = true;
            break;
        }
        at_ = buffer_.size();
        if (!fill()) {
            if (!any) return false;
            terminated = false;
            break;
        }
    }
    // Files copied through Windows tools may carry CR LF endings.
    if (!line.empty() && line.back() == '\r' && !overlong) line.pop_back();
    return true;
}

std::string sha256_hex(std::string_view data) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (!EVP_Digest(data.data(), data.size(), digest, &size, EVP_sha256(), nullptr))
        throw std::runtime_error("cannot compute a SHA-256 hash");
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (unsigned int i = 0; i < size; ++i) {
        out += hex[digest[i] >> 4];
        out += hex[digest[i] & 15];
    }
    return out;
}

}  // namespace common
