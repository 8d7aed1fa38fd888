#include "results.h"

namespace report {

const char* program_name(Program p) {
    switch (p) {
        case Program::cube: return "cube";
        case Program::screens: return "screens";
        case Program::triangles: return "triangles";
    }
    return "?";
}

std::optional<Program> program_from_name(const std::string& name) {
    for (Program p : {Program::cube, Program::screens, Program::triangles})
        if (name == program_name(p)) return p;
    return std::nullopt;
}

std::string to_string(const Diagnostic& d) {
    std::string text = d.file;
    if (d.line > 0) text += ":" + std::to_string(d.line);
    switch (d.level) {
        case Diagnostic::Level::note: text += ": note: "; break;
        case Diagnostic::Level::warning: text += ": warning: "; break;
        case Diagnostic::Level::error: text += ": error: "; break;
    }
    return text + d.message;
}

bool Run::failed() const {
    for (const auto& d : diagnostics)
        if (d.level == Diagnostic::Level::error) return true;
    return false;
}

}  // namespace report
