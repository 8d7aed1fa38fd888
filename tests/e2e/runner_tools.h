// What the runner's tests share: a command's status and output, a JSON file,
// a stand-in script.
#pragma once

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "session.h"

namespace e2e {

struct command_result {
    int status;
    std::string output;
};

inline command_result run(const std::string& command) {
    std::string output;
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    char buffer[4096];
    while (p && fgets(buffer, sizeof buffer, p)) output += buffer;
    const int raw = p ? pclose(p) : -1;
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, output};
}

inline nlohmann::json read_json(const std::string& path) {
    std::ifstream in(path);
    return nlohmann::json::parse(in, nullptr, false);
}

inline void write_script(const std::string& path, const std::string& body) {
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    chmod(path.c_str(), 0755);
}

// A session whose program is suite-run, headless, its input at its end.
class RunnerSession : public Session {
protected:
    std::string runner(const std::string& args) const {
        return "DISPLAY= '" SUITE_RUN_EXE "' --unattended " + args + " </dev/null";
    }
    // A folder for stand-in programs (--bin-dir).
    std::string stand_ins() {
        const std::string bin = directory + "/bin";
        mkdir(bin.c_str(), 0755);
        return bin;
    }
};

}  // namespace e2e
