#include "record/run_record.h"

namespace record {

namespace {

SUITE_RECORD_FIELDS(GlRecord, display, vendor, renderer, version, bits, error, environment,
                    software, software_from)
SUITE_RECORD_FIELDS(ProgramRecord, program, problem, date, executable, window_size, results_file,
                    console, stderr_first_line, frames_file, variant, exit_status, repeat, round,
                    frames_measured, stderr_bytes_not_kept, console_bytes_not_kept,
                    stderr_first_line_cut, interrupted, strays_ended, seconds, load,
                    gl_environment, gl_verified, gl_not_verified, window_granted, window_hidden)
SUITE_RECORD_FIELDS(RunHeader, format, command_line, tag, machine, gl, vsync, display,
                    private_x_server, interrupted, repeat, rounds_auto)
SUITE_RECORD_FIELDS(RunRecord, variant, run)
SUITE_RECORD_FIELDS(RunSetRecord, programs, variants, rounds, until_stable, rounds_stopped,
                    problem, written)

// metadata.json and run.json: the shared header's fields, then the file's own.
template <typename File>
void put_file(nlohmann::json& j, const File& f) {
    j = nlohmann::json::object();
    put_fields(j, static_cast<const RunHeader&>(f));
    put_fields(j, f);
}

template <typename File>
bool take_file(const nlohmann::json& j, File& f) {
    if (!j.is_object()) return false;
    take_fields(j, static_cast<RunHeader&>(f));
    take_fields(j, f);
    return true;
}

}  // namespace

// Without a context only the display and the error are known.
void to_json(nlohmann::json& j, const GlRecord& g) {
    if (g.error) {
        j = {{"display", g.display}, {"error", *g.error}};
        fields::put(j, "environment", g.environment);
        return;
    }
    j = nlohmann::json::object();
    put_fields(j, g);
}

bool take_value(const nlohmann::json& j, GlRecord& g) {
    if (j.is_object()) take_fields(j, g);
    return j.is_object();
}

void to_json(nlohmann::json& j, const VariantSetup& v) {
    j = static_cast<const VariantRecord&>(v);
    j["gl"] = v.gl;
}

bool take_value(const nlohmann::json& j, VariantSetup& v) {
    if (!take_value(j, static_cast<VariantRecord&>(v))) return false;
    fields::take(j, "gl", v.gl);
    return true;
}

void to_json(nlohmann::json& j, const ProgramRecord& p) {
    j = nlohmann::json::object();
    put_fields(j, p);
    fields::put(j, "stderr", p.stderr_file);
}

bool take_value(const nlohmann::json& j, ProgramRecord& p) {
    if (!j.is_object()) return false;
    take_fields(j, p);
    fields::take(j, "stderr", p.stderr_file);
    p.present = true;
    return true;
}

void to_json(nlohmann::json& j, const RunRecord& r) { put_file(j, r); }
void to_json(nlohmann::json& j, const RunSetRecord& r) { put_file(j, r); }
bool take_value(const nlohmann::json& j, RunSetRecord& r) { return take_file(j, r); }

RunRecord read_run_record(const nlohmann::json& m) {
    RunRecord r;
    take_file(m, r);
    if (r.variant && (r.variant->index < 0 || r.variant->index > 999)) r.variant->index = -1;
    return r;
}

std::string display_kind(const RunHeader& r) {
    if (r.display && !r.display->kind.empty()) return r.display->kind;
    return r.private_x_server ? private_xvfb : existing_display;
}

bool software_renderer_name(const std::string& renderer) {
    for (const char* name : {"llvmpipe", "softpipe", "swrast", "Software Rasterizer"})
        if (renderer.find(name) != std::string::npos) return true;
    return false;
}

std::optional<bool> rendered_in_software(const GlRecord& g) {
    if (g.software) return g.software;
    if (g.error || g.renderer.empty()) return std::nullopt;
    return software_renderer_name(g.renderer);
}

}  // namespace record
