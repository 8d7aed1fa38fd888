// Reading files that others may have prepared: only regular files, never
// blocking on a FIFO, never more than asked for, and with the system's
// reason when something fails.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace common {

// A file's identity, whatever name leads to it.
struct FileId {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator<(const FileId& o) const {
        return device != o.device ? device < o.device : inode < o.inode;
    }
    bool operator==(const FileId& o) const { return device == o.device && inode == o.inode; }
};

// The identity of what `path` names (following links), if it exists.
std::optional<FileId> file_id(const std::string& path);

// An open file descriptor, closed on destruction.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(Fd&& o) noexcept : fd_(std::exchange(o.fd_, -1)) {}
    Fd& operator=(Fd&& o) noexcept;
    ~Fd();
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

struct Opened {
    Fd fd;
    FileId id;
    int error = 0;        // errno of a failed open, 0 if it opened or is not regular
    std::string problem;  // why it was not opened: the system's reason, or "not a regular file"
};

// Opens a regular file for reading. With `follow` false a symbolic link is
// refused; a FIFO or device is never waited on.
Opened open_regular(const std::string& path, bool follow);

// Up to `cap` bytes of an open file; `more` tells whether it held more.
// Nothing, with the reason in `problem`, when a read fails.
std::optional<std::string> read_capped(const Fd& fd, std::size_t cap, bool& more,
                                       std::string& problem);

// Writes content as a whole file at path, or leaves nothing there: a
// temporary file in the same folder is written, flushed to the disk and then
// renamed into place, so a full disk or a crash never leaves a short or empty
// file. With `replace` false an existing path (file or link) is kept and the
// write fails with EEXIST. Returns 0, or the errno of what failed.
int write_whole(const std::string& path, std::string_view content, bool replace, mode_t mode);

// The SHA-256 hash of data, in lower-case hex. Throws std::runtime_error
// if it cannot be computed.
std::string sha256_hex(std::string_view data);

// Lines one at a time from a file or a text, so that memory holds one line
// and not the file. A line longer than `max_line` keeps its start and is
// marked overlong.
class LineReader {
public:
    static constexpr std::size_t max_line = 4096;
    explicit LineReader(std::string_view text) : text_(text), fd_(-1) {}
    explicit LineReader(int fd) : fd_(fd) {}
    // At most `cap` bytes of the file are read; the input ends there.
    LineReader(int fd, std::size_t cap) : fd_(fd), left_(cap) {}

    // The next line without its line end; false at the end of the input.
    bool next(std::string& line, bool& terminated, bool& overlong);
    // The system's reason if a read failed (the input then ends there).
    const std::string& error() const { return error_; }

private:
    bool fill();

    std::string_view text_;
    int fd_;
    std::string buffer_;
    std::size_t at_ = 0;
    std::size_t left_ = SIZE_MAX;
    bool eof_ = false;
    std::string error_;
};

}  // namespace common
