#include "report/analysis/software_note.h"

#include <algorithm>

namespace report {

namespace {

// Each GPU by its model, else by its ids, with its kernel driver.
std::string gpus_text(const std::vector<record::GpuRecord>& gpus) {
    std::string text;
    for (const auto& g : gpus) {
        std::string name = g.model && !g.model->empty() ? *g.model
                           : g.vendor_id.empty() && g.device_id.empty()
                               ? g.card
                               : g.vendor_id + ":" + g.device_id;
        if (!g.driver.empty()) name += " (driver " + g.driver + ")";
        text += (text.empty() ? "" : ", ") + name;
    }
    return text;
}

// Variables that steer Mesa or the GL dispatch to software, as the probe had them.
std::string forcing_variables(const record::GlRecord& gl) {
    std::string named;
    if (!gl.environment) return named;
    for (const char* name : {"LIBGL_ALWAYS_SOFTWARE", "GALLIUM_DRIVER", "MESA_LOADER_DRIVER_OVERRIDE",
                             "__GLX_VENDOR_LIBRARY_NAME"})
        if (const auto v = gl.environment->find(name); v != gl.environment->end())
            named += (named.empty() ? "" : ", ") + v->first + "=" + v->second;
    return named;
}

// What reaches the GPU from where the run was.
std::string advice(const record::RunHeader& r) {
    const std::string kind = record::display_kind(r);
    const std::string set = forcing_variables(r.gl);
    const std::string variables =
        set.empty() ? "LIBGL_ALWAYS_SOFTWARE and GALLIUM_DRIVER in gl.environment"
                    : "gl.environment sets " + set;
    if (kind == record::private_xvfb)
        return "Xvfb has no GPU: use --on-display or --server xorg to reach it";
    if (kind == record::private_xorg)
        return "the private Xorg's GL is software: check the GPU's driver, the permissions on "
               "/dev/dri and " + variables + ", or use --on-display";
    return "the GL on that display is software: check the GPU's driver, the permissions on "
           "/dev/dri and " + variables;
}

}  // namespace

std::string software_problem(const record::RunHeader& r) {
    const std::string gpus = r.machine.gpus ? gpus_text(*r.machine.gpus) : "";
    std::string text = "rendered in software (" + (r.gl.renderer.empty() ? "unknown renderer"
                                                                        : r.gl.renderer) + ")";
    if (gpus.empty()) return text + "; no GPU was found on this machine";
    return text + " on a machine with a GPU (" + gpus + "); " + advice(r);
}

std::string software_note(const record::RunHeader& r) {
    if (record::rendered_in_software(r.gl) != true || !r.machine.gpus || r.machine.gpus->empty()) return "";
    return software_problem(r);
}

void add_software_note(std::vector<std::string>& notes, const record::RunHeader& r) {
    const std::string note = software_note(r);
    if (!note.empty() && std::find(notes.begin(), notes.end(), note) == notes.end())
        notes.push_back(note);
}

}  // namespace report
