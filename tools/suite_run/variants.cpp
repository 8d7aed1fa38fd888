#include "suite_run/variants.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "common/secrets.h"

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

std::optional<std::string> parse_setting(const std::string& item, variant& v) {
    const auto eq = item.find('=');
    if (eq == std::string::npos) return "setting '" + item + "' is not VAR=VALUE";
    const std::string var = item.substr(0, eq), value = item.substr(eq + 1);
    if (var == "bin") {
        if (value.empty()) return std::string("bin= needs a folder");
        if (!v.bin_dir.empty()) return std::string("bin= is given twice");
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

// The settings split at each ',' but an escaped one: "\," is a comma and
// "\\" a backslash within a value.
std::vector<std::string> split_settings(const std::string& text) {
    std::vector<std::string> items(1);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool escape = text[i] == '\\' && i + 1 < text.size() &&
                            (text[i + 1] == ',' || text[i + 1] == '\\');
        if (escape) items.back() += text[++i];
        else if (text[i] == ',') items.emplace_back();
        else items.back() += text[i];
    }
    return items;
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
    for (const auto& item : split_settings(text.substr(colon + 1)))
        if (auto why = parse_setting(item, v)) {
            error = *why;
            return std::nullopt;
        }
    return v;
}

std::vector<int> round_order(int variants, int round) {
    std::vector<int> order;
    for (int i = 0; i < variants; ++i) order.push_back(i);
    if (round % 2 == 0) std::reverse(order.begin(), order.end());
    return order;
}

record::VariantRecord variant_record(const variant& v) {
    record::VariantRecord r{v.name, v.index, {}};
    for (const auto& [var, value] : v.settings)
        r.settings[var] = common::masked_setting(var, value);
    if (!v.bin_dir.empty()) r.settings["bin"] = common::mask_secrets(v.bin_dir);
    return r;
}

std::vector<std::string> environment_of(const variant* v) {
    std::vector<std::string> env;
    if (v)
        for (const auto& [var, value] : v->settings) env.push_back(var + "=" + value);
    return env;
}

void remember_secrets(const variant& v) {
    for (const auto& [var, value] : v.settings)
        common::remember_secrets_of(value, common::names_a_secret(var));
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
