// The one way the tools start a process: an argument vector (never a shell),
// a working directory, extra environment, the standard descriptors, and the
// ties that keep a child from outliving the tool that started it.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace process {

// Exit statuses of a child whose set-up failed before its program began.
// Kept clear of timeout(1)'s 124-126 and of the statuses the benchmarks
// use, so a caller can tell a failed start from the program's own ending.
enum setup_failure : int {
    lost_parent = 110,      // the starting process was gone before the start
    no_directory = 111,     // the working directory could not be entered
    no_limit = 112,         // a resource limit could not be set
    no_unprivileged = 113,  // root could not be dropped
    no_descriptors = 114,   // the standard descriptors could not be set up
    not_started = 127,      // exec failed (not found, not executable), as in a shell
};

// What an exit status means when it is one of the above; "" otherwise.
const char* setup_failure_text(int status);

struct child_setup {
    std::vector<std::string> argv;       // argv[0] is the file run
    bool search_path = false;            // look argv[0] up in $PATH
    std::string directory;               // "" : the caller's own
    std::vector<std::string> env;        // NAME=value, replacing inherited ones
                                         // (SUITE_DB and PGPASSWORD are never inherited)
    int in = -1, out = -1, err = -1;     // descriptors made 0, 1, 2; -1 inherit
    bool close_in = false, close_out = false;  // 0 or 1 closed in the child
    std::vector<int> keep;               // descriptors kept open across exec
    // A process group of its own: the terminal's Ctrl-C reaches the tool,
    // which ends its children itself; killing the group ends grandchildren.
    bool own_group = true;
    long long file_size_limit = -1;      // bytes (RLIMIT_FSIZE); -1 inherit
    bool unprivileged = false;           // as root: run as nobody
};

// Starts the process; throws std::system_error when it cannot fork. Only
// async-signal-safe calls run in the child.
pid_t spawn(const child_setup& s);

// Waits for pid, retrying on EINTR; the raw wait status, or -1.
int wait_raw(pid_t pid);

// A signal named with its number: "signal 11 (SIGSEGV)".
std::string signal_name(int signal);
// How a program ended by this signal is named: "crashed: signal 11 (SIGSEGV)".
std::string signal_text(int signal);

}  // namespace process
