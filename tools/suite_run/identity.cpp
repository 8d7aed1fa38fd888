#include "suite_run/identity.h"

#include <sys/utsname.h>
#include <unistd.h>

#include <ctime>
#include <fstream>

#include "common/secrets.h"
#include "common/text.h"
#include "driver/gl_probe.h"
#include "driver/xorg_config.h"

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

std::vector<record::GpuRecord> gpu_list(const std::string& root) {
    std::vector<record::GpuRecord> gpus;
    for (const driver::gpu& g : driver::find_gpus(root))
        gpus.push_back({g.card, g.vendor_id, g.device_id, g.kernel_driver, g.model});
    return gpus;
}

std::string local_time_stamp() {
    char when[64] = "";
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&now, &local)) std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%S%z", &local);
    return when;
}

record::MachineRecord machine_identity() {
    utsname u{};
    uname(&u);
    const std::string when = local_time_stamp();
    char host[256] = "";
    // a fleet tells its machines apart by it
    if (gethostname(host, sizeof host - 1) != 0) host[0] = '\0';
    record::MachineRecord m;
    m.suite_version = SUITE_VERSION;
    m.host = host;
    m.date = when;
    m.cpu = first_value("/proc/cpuinfo", "model name");
    m.cores = sysconf(_SC_NPROCESSORS_ONLN);
    m.memory = first_value("/proc/meminfo", "MemTotal");
    m.kernel = std::string(u.sysname) + " " + u.release + " " + u.version + " " + u.machine;
    m.gpus = gpu_list(driver::system_root());
    return m;
}

record::GlRecord gl_identity(const std::string& display, nlohmann::json& swap_interval,
                          std::optional<bool>& direct) {
    const auto gl = driver::probe_gl(display);
    record::GlRecord g;
    g.display = display;
    if (!gl) {
        swap_interval = nullptr;
        g.error = "no GL context could be made";
        return g;
    }
    swap_interval = gl->swap_interval ? nlohmann::json(*gl->swap_interval) : nlohmann::json();
    g.vendor = gl->vendor;
    g.renderer = gl->renderer;
    g.version = gl->version;
    g.bits = record::GlBits{gl->red_bits,   gl->green_bits, gl->blue_bits,
                            gl->alpha_bits, gl->depth_bits, gl->stencil_bits};
    // The driver's own answer where it gives one: a renderer's name may not say.
    g.software = gl->accelerated ? !*gl->accelerated : record::software_renderer_name(g.renderer);
    g.software_from = gl->accelerated ? "accelerated flag" : "renderer name";
    direct = gl->direct;
    return g;
}

std::string command_line(int argc, char** argv) {
    std::string line;
    for (int i = 0; i < argc; ++i) {
        if (i) line += ' ';
        line += common::shell_quoted(common::mask_secrets(argv[i]));
    }
    return line;
}

}  // namespace suite_run
