// Runs a command line through the shell and collects what it printed.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "test_data.h"

namespace report_test {

struct Result {
    int status = -1;
    std::string out, err;
};

inline std::string shell_quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// A shell command line, for what argv alone cannot say (limits, another user).
inline Result sh(const std::string& command, const TempDir& scratch) {
    const std::string out = scratch.path(".stdout"), err = scratch.path(".stderr");
    const int raw = std::system(("(" + command + ") </dev/null >" + shell_quote(out) + " 2>" +
                                 shell_quote(err))
                                    .c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, read_text(out), read_text(err)};
}

inline Result run(const std::vector<std::string>& argv, const TempDir& scratch) {
    std::string command;
    for (const auto& a : argv) command += shell_quote(a) + " ";
    return sh(command, scratch);
}

#ifdef SUITE_REPORT
// The suite-report under test.
inline const std::string exe = SUITE_REPORT;
#endif

}  // namespace report_test
