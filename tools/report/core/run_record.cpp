#include "report/core/run_record.h"

namespace report {

namespace {

const nlohmann::json& section(const nlohmann::json& j, const char* key) {
    static const nlohmann::json none = nlohmann::json::object();
    const auto it = j.is_object() ? j.find(key) : j.end();
    return j.is_object() && it != j.end() && it->is_object() ? *it : none;
}

std::string text(const nlohmann::json& s, const char* key) {
    const auto it = s.find(key);
    if (it == s.end() || it->is_null()) return "";
    return it->is_string() ? it->get<std::string>() : it->dump();
}

std::optional<std::string> only_text(const nlohmann::json& j, const char* key) {
    const auto it = j.is_object() ? j.find(key) : j.end();
    if (!j.is_object() || it == j.end() || !it->is_string()) return std::nullopt;
    return it->get<std::string>();
}

std::optional<SyncRecord> sync_of(const nlohmann::json& j) {
    const auto it = j.is_object() ? j.find("vsync") : j.end();
    if (!j.is_object() || it == j.end() || !it->is_object()) return std::nullopt;
    SyncRecord s;
    if (const auto k = it->find("kept"); k != it->end() && k->is_boolean()) s.kept = k->get<bool>();
    if (const auto set = it->find("set"); set != it->end() && set->is_object())
        s.set = set->get<std::map<std::string, nlohmann::json>>();
    if (const auto i = it->find("swap_interval"); i != it->end()) s.swap_interval = *i;
    return s;
}

std::optional<VariantRecord> variant_of(const nlohmann::json& j) {
    const auto it = j.is_object() ? j.find("variant") : j.end();
    if (!j.is_object() || it == j.end() || !it->is_object()) return std::nullopt;
    VariantRecord v;
    v.name = text(*it, "name");
    const auto i = it->find("index");
    if (i != it->end() && i->is_number_integer() && i->get<long long>() >= 0 &&
        i->get<long long>() < 1000)
        v.index = i->get<int>();
    if (const auto s = it->find("settings"); s != it->end()) v.settings = *s;
    return v;
}

}  // namespace

RunRecord read_run_record(const nlohmann::json& m) {
    RunRecord r;
    if (const auto f = m.is_object() ? m.find("format") : m.end();
        m.is_object() && f != m.end() && f->is_number_integer())
        r.format = f->get<int>();
    r.command_line = only_text(m, "command_line");
    r.tag = only_text(m, "tag");
    const auto& machine = section(m, "machine");
    r.machine = {text(machine, "host"), text(machine, "cpu"), text(machine, "kernel"),
                 text(machine, "memory"), text(machine, "date"), text(machine, "suite_version")};
    const auto& gl = section(m, "gl");
    r.gl = {text(gl, "vendor"), text(gl, "renderer"), text(gl, "version"), text(gl, "bits")};
    r.vsync = sync_of(m);
    r.variant = variant_of(m);
    const auto& run = section(m, "run");
    r.run = {text(run, "program"), text(run, "date"), text(run, "window_size"),
             text(run, "results_file"), text(run, "problem"),
             m.is_object() && m.contains("run") && m["run"].is_object(),
             run.contains("load") ? run["load"] : nlohmann::json()};
    return r;
}

}  // namespace report
