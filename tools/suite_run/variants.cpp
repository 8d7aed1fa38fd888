#include "suite_run/variants.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace suite_run {

namespace {

// Names become folder names: a plain word, never a path or an option.
bool good_name(const std::string& s) {
    if (s.empty() || s.size() > 40 || !std::isalnum(static_cast<unsigned char>(s[0])))
        return false;
    return std::all_of(s.begin(), s.end(), [](unsigned char c) {
        return std::isalnum(c) || c == '.' || c == '_' || c == '-';
    });
}

bool good_variable(const std::string& s) {
    if (s.empty() || std::isdigit(static_cast<unsigned char>(s[0]))) return false;
    return std::all_of(s.begin(), s.end(),
                       [](unsigned char c) { return std::isalnum(c) || c == '_'; });
}

// The runner chooses the display, and the store's credentials never reach a program.
bool runner_owned(const std::string& var) {
    return var == "DISPLAY" || var == "SUITE_DB" || var == "PGPASSWORD";
}

bool secret_looking(std::string var) {
    std::transform(var.begin(), var.end(), var.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    for (const char* word : {"PASSWORD", "PASSWD", "SECRET", "TOKEN"})
        if (var.find(word) != std::string::npos) return true;
    return false;
}

std::optional<std::string> parse_setting(const std::string& item, variant& v) {
    const auto eq = item.find('=');
    if (eq == std::string::npos) return "setting '" + item + "' is not VAR=VALUE";
    const std::string var = item.substr(0, eq), value = item.substr(eq + 1);
    if (var == "bin") {
        if (value.empty()) return std::string("bin= needs a folder");
        v.bin_dir = value;
        return std::nullopt;
    }
    if (!good_variable(var)) return "'" + var + "' is not a variable name";
    if (runner_owned(var)) return var + " is set by the runner, not by a variant";
    for (const auto& [seen, _] : v.settings)
        if (seen == var) return var + " is set twice";
    v.settings.emplace_back(var, value);
    return std::nullopt;
}

}  // namespace

std::optional<variant> parse_variant(const std::string& text, std::string& error) {
    variant v;
    const auto colon = text.find(':');
    v.name = text.substr(0, colon);
    if (!good_name(v.name)) {
        error = "the name '" + v.name +
                "' must be 1 to 40 letters, digits, '.', '_' or '-', starting with a letter or digit";
        return std::nullopt;
    }
    if (colon == std::string::npos) return v;
    std::string rest = text.substr(colon + 1);
    std::size_t start = 0;
    while (start <= rest.size()) {
        const auto comma = rest.find(',', start);
        const std::string item = rest.substr(start, comma - start);
        if (auto why = parse_setting(item, v)) {
            error = *why;
            return std::nullopt;
        }
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return v;
}

std::vector<int> round_order(int variants, int round) {
    std::vector<int> order;
    for (int i = 0; i < variants; ++i) order.push_back(i);
    if (round % 2 == 0) std::reverse(order.begin(), order.end());
    return order;
}

report::VariantRecord variant_record(const variant& v) {
    report::VariantRecord r{v.name, v.index, {}};
    for (const auto& [var, value] : v.settings) r.settings[var] = secret_looking(var) ? "***" : value;
    if (!v.bin_dir.empty()) r.settings["bin"] = v.bin_dir;
    return r;
}

variant_environment::variant_environment(const variant* v) {
    if (!v) return;
    for (const auto& [var, value] : v->settings) {
        const char* old = std::getenv(var.c_str());
        before_.emplace_back(var, old ? std::optional<std::string>(old) : std::nullopt);
        setenv(var.c_str(), value.c_str(), 1);
    }
}

variant_environment::~variant_environment() {
    for (auto it = before_.rbegin(); it != before_.rend(); ++it) {
        if (it->second)
            setenv(it->first.c_str(), it->second->c_str(), 1);
        else
            unsetenv(it->first.c_str());
    }
}

}  // namespace suite_run
