#include "report/reading/results.h"

namespace report {

static_assert(texts::programs[0].name == "cube" && texts::programs[1].name == "screens" &&
                  texts::programs[2].name == "triangles",
              "Program follows the order of texts::programs");

const char* program_name(Program p) {
    // The names are string literals, so their views end in a NUL.
    return texts::programs.at(static_cast<std::size_t>(p)).name.data();
}

std::optional<Program> program_from_name(const std::string& name) {
    for (Program p : all_programs)
        if (name == program_name(p)) return p;
    return std::nullopt;
}

const char* level_name(Diagnostic::Level level) {
    switch (level) {
        case Diagnostic::Level::note: return "note";
        case Diagnostic::Level::warning: return "warning";
        case Diagnostic::Level::error: return "error";
    }
    return "?";
}

std::string to_string(const Diagnostic& d) {
    std::string text = d.file;
    if (d.line > 0) text += ":" + std::to_string(d.line);
    return text + ": " + level_name(d.level) + ": " + d.message;
}

bool Run::failed() const {
    for (const auto& d : diagnostics)
        if (d.level == Diagnostic::Level::error) return true;
    return false;
}

}  // namespace report
