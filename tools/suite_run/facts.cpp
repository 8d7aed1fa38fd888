#include "suite_run/facts.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <ctime>
#include <fstream>

#include "common/secrets.h"
#include "common/text.h"
#include "driver/gl_probe.h"

namespace suite_run {

namespace {
std::string first_value(const std::string& file, const std::string& key) {
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(key, 0) != 0) continue;
        const auto colon = line.find(':');
        if (colon == std::string::npos) continue;
        const auto start = line.find_first_not_of(" \t", colon + 1);
        return start == std::string::npos ? "" : line.substr(start);
    }
    return "";
}
}  // namespace

std::string local_time_stamp() {
    char when[64] = "";
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&now, &local)) std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%S%z", &local);
    return when;
}

nlohmann::json machine_facts() {
    utsname u{};
    uname(&u);
    const std::string when = local_time_stamp();
    char host[256] = "";
    // a fleet tells its machines apart by it
    if (gethostname(host, sizeof host - 1) != 0) host[0] = '\0';
    return {
        {"suite_version", SUITE_VERSION},
        {"host", host},
        {"date", when},
        {"cpu", first_value("/proc/cpuinfo", "model name")},
        {"cores", sysconf(_SC_NPROCESSORS_ONLN)},
        {"memory", first_value("/proc/meminfo", "MemTotal")},
        {"kernel", std::string(u.sysname) + " " + u.release + " " + u.version + " " + u.machine},
    };
}

nlohmann::json gl_facts(const std::string& display, nlohmann::json& swap_interval) {
    const auto gl = driver::probe_gl(display);
    if (!gl) {
        swap_interval = nullptr;
        return {{"display", display}, {"error", "no GL context could be made"}};
    }
    swap_interval = gl->swap_interval ? nlohmann::json(*gl->swap_interval) : nlohmann::json();
    return {
        {"display", display},
        {"vendor", gl->vendor},
        {"renderer", gl->renderer},
        {"version", gl->version},
        {"bits", {{"red", gl->red_bits}, {"green", gl->green_bits}, {"blue", gl->blue_bits},
                  {"alpha", gl->alpha_bits}, {"depth", gl->depth_bits},
                  {"stencil", gl->stencil_bits}}},
    };
}

std::string command_line(int argc, char** argv) {
    std::string line;
    for (int i = 0; i < argc; ++i) {
        if (i) line += ' ';
        line += report::shell_quoted(report::mask_secrets(argv[i]));
    }
    return line;
}

}  // namespace suite_run
