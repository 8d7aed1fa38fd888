#include "suite_report/change_ids.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <regex>

namespace suite_report {

std::string series_id(const Group& g) {
    std::uint64_t h = 1469598103934665603ull;  // 64-bit FNV-1a
    // A setup as every earlier run had adds no part: their identifiers stay.
    const std::string setup = g.setup();
    for (const auto* part : {&g.program, &g.host, &g.renderer, &g.window_size, &g.variant, &setup}) {
        if (part == &setup && setup.empty()) break;
        for (unsigned char c : *part) h = (h ^ c) * 1099511628211ull;
        h = (h ^ 0x1f) * 1099511628211ull;  // parts kept apart
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(h));
    return text;
}

std::string change_id(const Group& g, const GroupStep& st) {
    std::string figure;
    for (char c : st.figure) figure += std::isalnum(static_cast<unsigned char>(c)) ? c : '-';
    return series_id(g) + "/" + figure + "/" + g.runs[st.after].hash.substr(0, 16);
}

std::set<std::string> current_changes(const std::vector<Group>& groups) {
    std::set<std::string> ids;
    for (const auto& g : groups)
        for (const auto& st : g.steps) ids.insert(change_id(g, st));
    return ids;
}

std::map<std::string, store::Triage> triages_by_change(store::Db& db) {
    std::map<std::string, store::Triage> out;
    for (auto& t : store::triages(db)) out[t.change] = t;
    return out;
}

std::vector<store::Triage> triages_not_found(const std::map<std::string, store::Triage>& triaged,
                                      const std::vector<Group>& groups, bool selection) {
    const auto now = current_changes(groups);
    std::set<std::string> series;
    for (const auto& g : groups) series.insert(series_id(g));
    std::vector<store::Triage> out;
    for (const auto& [id, t] : triaged)
        if (!now.count(id) && (!selection || series.count(id.substr(0, 16)))) out.push_back(t);
    return out;
}

std::string state_of(const std::map<std::string, store::Triage>& triaged, const Group& g,
                     const GroupStep& st) {
    const auto t = triaged.find(change_id(g, st));
    return t == triaged.end() ? "" : t->second.state;
}

bool is_change_id(const std::string& text) {
    static const std::regex form("[0-9a-f]{16}/[A-Za-z0-9-]{1,64}/[0-9a-f]{1,16}");
    return std::regex_match(text, form);
}

}  // namespace suite_report
