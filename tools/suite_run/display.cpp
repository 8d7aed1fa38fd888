#include "suite_run/display.h"

#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <stdexcept>

#include "process/stop.h"
#include "report/analysis/software_note.h"
#include "suite_run/gl_environment.h"
#include "suite_run/identity.h"
#include "suite_run/rounds.h"

namespace suite_run {

namespace {

// The sync switches the programs get: the runner's, unless a variant sets its own.
record::SyncRecord vsync_record(const options& o, const variant* v,
                                const nlohmann::json& swap_interval) {
    std::map<std::string, std::string> set;
    if (!o.vsync)
        for (const auto& [name, value] : texts::no_vsync) set[name] = value;
    if (v)
        for (const auto& [name, value] : v->settings)
            for (const auto& [switch_name, _] : texts::no_vsync)
                if (name == switch_name) set[name] = value;
    return {o.vsync, set, swap_interval};
}

// The display's GL as the programs of variant v will see it.
void probe_gl(session& s, const variant* v) {
    const variant_environment env(v);
    const record::GlEnvironment probed = probe_environment();
    // Mesa announces each switch taken from the environment; the runner's own
    // probe stays quiet (the programs' messages are kept in their stderr.txt).
    const bool quieted = !std::getenv("MESA_DEBUG");
    if (quieted) setenv("MESA_DEBUG", "silent", 1);
    nlohmann::json swap_interval;
    std::optional<bool> direct;
    s.gl.push_back(gl_identity(s.display, swap_interval, direct));
    if (!v || v->index == 0) s.display_record.direct = direct;  // the first variant's, as for gl
    s.gl.back().environment = probed;
    if (quieted) unsetenv("MESA_DEBUG");
    s.vsync.push_back(vsync_record(s.o, v, swap_interval));
}

// The display's facts, for every kind of server; on the user's display the
// screen saver's hold, and a size the screen can hold.
void describe_display(session& s) {
    const auto f = driver::describe_desktop(s.display);
    if (!f) throw std::runtime_error("cannot open display " + s.display);
    record::DisplayRecord& r = s.display_record;
    r.vendor = f->vendor;
    r.release = f->release;
    r.window_manager = f->window_manager;
    r.compositor = f->compositor;
    r.xwayland = f->xwayland;
    r.refresh_hz = f->refresh_hz;
    r.screen_size = std::to_string(f->width) + "x" + std::to_string(f->height);
    if (!s.o.drive.on_display) return;
    s.o.drive.screen_width = f->width;
    s.o.drive.screen_height = f->height;
    if (s.o.drive.width > f->width || s.o.drive.height > f->height)
        throw std::runtime_error("--size " + std::to_string(s.o.drive.width) + "x" +
                                 std::to_string(s.o.drive.height) + " is larger than the screen (" +
                                 *r.screen_size + ")");
    s.screen_saver = std::make_unique<driver::ScreenSaverHold>(s.display);
    r.screen_saver = s.screen_saver->what();
    std::cout << (f->xwayland ? "XWayland: " : "") << "screen saver: " << *r.screen_saver << "\n";
}

}  // namespace

// The run's private server, the first or one replacing a lost one.
void start_private_server(session& s) {
    s.server.reset();
    if (s.o.server == "xorg") {
        s.display_record.kind = record::private_xorg;
        if (!s.xorg) s.xorg = std::make_unique<driver::PrivateXorg>(s.out, s.o.xorg_config);
        s.server = s.xorg->start();
    } else {
        s.display_record.kind = record::private_xvfb;
        s.server = std::make_unique<driver::XServer>();
    }
    s.display = s.server->display();
}

// Unattended runs get a server of their own (no window manager to reparent
// the windows, nothing of the user's to type into) unless --on-display
// names the user's.
void start_display(session& s) {
    const char* env_display = std::getenv("DISPLAY");
    const bool have_display = env_display && *env_display;
    s.attended = !s.o.unattended && s.o.server.empty() && s.o.on_display.empty() &&
                 have_display && isatty(0);
    s.display = have_display ? env_display : "";
    s.display_record.kind = record::existing_display;
    if (!s.o.on_display.empty()) s.display = s.o.on_display;
    else if (!s.attended) start_private_server(s);
    describe_display(s);
}

// Each variant's GL; 64 probes take a while, so a stop ends them, and the run, at once.
void probe_variants(session& s) {
    for (const auto* v : variants_of(s.o)) {
        if (!process::stop_signal()) {
            probe_gl(s, v);
            continue;
        }
        record::GlRecord skipped;
        skipped.display = s.display;
        skipped.error = "not probed: stopped";
        s.gl.push_back(skipped);
        s.vsync.push_back(vsync_record(s.o, v, nullptr));
    }
}

// With --require-hardware: why a variant's GL is not the GPU's, or "".
std::string not_hardware(const session& s) {
    if (!s.o.require_hardware) return "";
    const auto all = variants_of(s.o);
    for (std::size_t i = 0; i < all.size() && i < s.gl.size(); ++i) {
        const auto software = record::rendered_in_software(s.gl[i]);
        if (software == false) continue;
        record::RunHeader h = s.run;
        h.gl = s.gl[i];
        const std::string why = software ? report::software_problem(h)
                                         : "no GL to check: " + s.gl[i].error.value_or("no renderer");
        return (all[i] ? "variant " + all[i]->name + ": " : "") + why + " (--require-hardware)";
    }
    return "";
}

}  // namespace suite_run
