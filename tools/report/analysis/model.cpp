#include "report/analysis/model.h"

#include "common/number.h"
#include "report/analysis/rounds.h"
#include "report/analysis/software_note.h"

#include <algorithm>
#include <functional>
#include <map>

namespace report {

namespace {

void add_inputs(Model& m, Inputs in, const std::string& side) {
    for (auto& d : in.problems) m.problems.push_back(std::move(d));
    m.inputs.insert(m.inputs.end(), in.files.begin(), in.files.end());
    for (auto& r : in.runs) {
        if (!side.empty()) r.label = side + ": " + r.label;
        m.runs.push_back(std::move(r));
    }
}

void analyse_all(Model& m, const std::vector<std::string>& sides) {
    for (std::size_t i = 0; i < m.runs.size(); ++i) {
        if (m.runs[i].failed()) continue;
        const auto& frames = m.runs[i].frames_csv;
        m.analyses.push_back(analyse(m.runs[i], frames ? &*frames : nullptr));
        m.analyses.back().side = sides.empty() ? "" : sides[i];
    }
    m.groups = repeat_groups(m.analyses);
}

// A side pooling unlike runs is refused (an error), sides of different
// window sizes are said (a warning), program by program.
void compare_into(Model& m) {
    m.comparisons = compare_sides(m.analyses, m.options);
    for (const auto& pc : m.comparisons) {
        const std::string program = program_name(pc.program);
        if (!pc.mixed.empty() && !m.options.allow_mixed)
            m.problems.push_back({Diagnostic::Level::error, "compare", 0,
                                  program + ": not judged: " + pc.mixed +
                                      " (give --allow-mixed to pool them)"});
        if (!pc.sizes_differ.empty())
            m.problems.push_back({Diagnostic::Level::warning, "compare", 0,
                                  program + ": the sides differ in window size (" +
                                      pc.sizes_differ + "): the figures depend on it"});
    }
}

}  // namespace

std::vector<Diagnostic> Model::diagnostics_of(const Run& run) const {
    std::vector<Diagnostic> ds = run.diagnostics;
    if (const Analysis* a = analysis_of(run))
        ds.insert(ds.end(), a->checks.begin(), a->checks.end());
    return ds;
}

std::vector<Diagnostic> Model::all_diagnostics() const {
    std::vector<Diagnostic> all = problems;
    for (const auto& r : runs) {
        const auto ds = diagnostics_of(r);
        all.insert(all.end(), ds.begin(), ds.end());
    }
    return all;
}

std::vector<std::string> Model::software_notes() const {
    std::vector<std::string> notes;
    for (const auto& run : runs) add_software_note(notes, run.record);
    return notes;
}

const Analysis* Model::analysis_of(const Run& run) const {
    // Analyses keep the order of the runs they belong to.
    const auto it = std::lower_bound(
        analyses.begin(), analyses.end(), &run,
        [](const Analysis& a, const Run* r) { return std::less<const Run*>()(a.run, r); });
    return it != analyses.end() && it->run == &run ? &*it : nullptr;
}

bool Model::has_errors() const {
    for (const auto& d : all_diagnostics())
        if (d.level == Diagnostic::Level::error) return true;
    return false;
}

Model build_model(const std::vector<std::string>& paths) {
    Model m;
    add_inputs(m, load_inputs(paths), "");
    analyse_all(m, {});
    return m;
}

Model build_comparison(const std::vector<std::string>& a, const std::vector<std::string>& b,
                       const CompareOptions& options) {
    Model m;
    m.comparing = true;
    m.options = options;
    add_inputs(m, load_inputs(a), "A");
    const std::size_t a_count = m.runs.size();
    add_inputs(m, load_inputs(b), "B");
    std::vector<std::string> sides(m.runs.size(), "B");
    std::fill(sides.begin(), sides.begin() + static_cast<std::ptrdiff_t>(a_count), "A");
    analyse_all(m, sides);
    compare_into(m);
    return m;
}

namespace {

struct VariantRuns {
    std::string name;
    nlohmann::json record;  // as metadata.json names it
    Inputs inputs;
};

// The variant a run's metadata names: its index, or -1 for none.
int variant_index(const Run& r) { return r.record.variant ? r.record.variant->index : -1; }

std::string variant_title(const VariantRuns& v) {
    std::string settings;
    const auto s = v.record.find("settings");  // as the runner wrote it
    if (s != v.record.end() && s->is_object())
        for (const auto& [var, value] : s->items())
            settings += (settings.empty() ? "" : ",") + var + "=" +
                        (value.is_string() ? value.get<std::string>() : value.dump());
    return v.name + (settings.empty() ? "" : " (" + settings + ")");
}

}  // namespace

std::optional<Model> build_variant_comparison(const std::string& run_folder,
                                              const std::string& judged,
                                              const CompareOptions& options, std::string& error) {
    Inputs all = load_inputs({run_folder});
    std::map<int, VariantRuns> variants;
    for (auto& r : all.runs) {
        const int i = variant_index(r);
        if (i < 0) continue;  // not a run of the interleaved set
        VariantRuns& v = variants[i];
        if (v.name.empty()) {
            const auto& named = *r.record.variant;
            v.record = {{"name", named.name}, {"index", named.index}, {"settings", named.settings}};
            v.name = r.record.variant->name.empty() ? "variant " + std::to_string(i)
                                                    : r.record.variant->name;
        }
        v.inputs.runs.push_back(std::move(r));
    }
    if (variants.size() < 2 || variants.begin()->first != 0) {
        error = run_folder + " is not an interleaved run of two or more variants: give --against";
        return std::nullopt;
    }
    auto a = std::next(variants.begin());
    if (!judged.empty())
        while (a != variants.end() && a->second.name != judged) ++a;
    if (a == variants.end() || a == variants.begin()) {
        error = "no variant other than the first is named " + judged + " in " + run_folder;
        return std::nullopt;
    }
    VariantRuns& b = variants.begin()->second;
    Model m;
    m.comparing = true;
    m.options = options;
    m.sides_title = "A: " + variant_title(a->second) + " against B: " + variant_title(b) +
                    ", the first variant";
    // Rounds that ran until the answer was clear looked after every round:
    // judged at any other level, the verdict would not be the rule's.
    if (const auto& rule = b.inputs.runs.front().record.rounds_auto) {
        m.options.confidence = look_confidence(*rule);
        m.options.alpha = 1 - m.options.confidence;
        m.options.practical_percent = rule->practical_percent;
        m.sides_title += "; rounds ran until the answer was clear, so intervals are at " +
                         common::format_sig(100 * m.options.confidence, 4) + "%, the level each round's look used";
    }
    m.sides = {{"A", a->second.record}, {"B", b.record}};
    a->second.inputs.problems = std::move(all.problems);
    a->second.inputs.files = std::move(all.files);
    add_inputs(m, std::move(a->second.inputs), "A " + a->second.name);
    const std::size_t a_count = m.runs.size();
    add_inputs(m, std::move(b.inputs), "B " + b.name);
    std::vector<std::string> sides(m.runs.size(), "B");
    std::fill(sides.begin(), sides.begin() + static_cast<std::ptrdiff_t>(a_count), "A");
    analyse_all(m, sides);
    compare_into(m);
    return m;
}

}  // namespace report
