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

inline Result run(const std::vector<std::string>& argv, const TempDir& scratch) {
    std::string command;
    for (const auto& a : argv) command += shell_quote(a) + " ";
    const std::string out = scratch.path(".stdout"), err = scratch.path(".stderr");
    command += "</dev/null >" + shell_quote(out) + " 2>" + shell_quote(err);
    const int raw = std::system(command.c_str());
    Result r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = read_text(out);
    r.err = read_text(err);
    return r;
}

}  // namespace report_test
