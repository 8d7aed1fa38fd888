#include "common/secrets.h"

#include "common/text.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <vector>

namespace common {

namespace {

constexpr auto npos = std::string::npos;
const char* const hidden = "***";
constexpr std::size_t shortest_remembered = 4;
const char* const spaces = " \t\r\n";

struct Span {
    std::size_t begin, end;  // [begin, end)
};

bool is_space(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }
bool is_digit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }
bool is_key_char(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '%' || c == '-';
}

std::string lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// %XX sequences decoded; nullopt when one is malformed, as libpq would refuse it.
std::optional<std::string> percent_decoded(const std::string& s) {
    std::string plain;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '%') {
            plain += s[i];
            continue;
        }
        if (i + 2 >= s.size() || hex_value(s[i + 1]) < 0 || hex_value(s[i + 2]) < 0)
            return std::nullopt;
        plain += static_cast<char>(hex_value(s[i + 1]) * 16 + hex_value(s[i + 2]));
        i += 2;
    }
    return plain;
}

// The password of the URI whose text after "://" starts at `rest`: after the
// user name's ':' up to the last '@' before the host, which ends at the next
// '/', '?', '#' or space. None without a ':' and an '@', when spaces lie
// between (the text goes on past an address), or when a port and a path do
// ("h:5432/db?host=/a@b").
std::optional<Span> uri_password(const std::string& s, std::size_t rest) {
    const auto colon = s.find_first_of(":/ \t\r\n", rest);
    if (colon == npos || s[colon] != ':') return std::nullopt;
    const auto first_at = s.find('@', colon);
    if (first_at == npos) return std::nullopt;
    const auto host_end = s.find_first_of("/?# \t\r\n", first_at);
    const Span p{colon + 1, s.rfind('@', host_end == npos ? npos : host_end - 1)};
    if (s.find_first_of(spaces, p.begin) < p.end) return std::nullopt;
    const auto slash = s.find('/', p.begin);
    if (slash < p.end && slash > p.begin &&
        std::all_of(s.begin() + static_cast<long>(p.begin), s.begin() + static_cast<long>(slash),
                    is_digit))
        return std::nullopt;
    return p;
}

// ",NAME=" at `at`: the next setting of a list, where a value ends.
bool next_setting_at(const std::string& s, std::size_t at) {
    if (at >= s.size() || s[at] != ',') return false;
    std::size_t e = at + 1;
    if (e >= s.size() || !(std::isalpha(static_cast<unsigned char>(s[e])) || s[e] == '_'))
        return false;
    while (e < s.size() && (std::isalnum(static_cast<unsigned char>(s[e])) || s[e] == '_')) ++e;
    return e < s.size() && s[e] == '=';
}

// Where the value starting at `v` ends: in a URI's query at '&' or a space;
// elsewhere at a space, at the next setting of a list or at the closing
// quote of a quoted value, a backslash escaping the next character.
Span value_at(const std::string& s, std::size_t v, bool in_query) {
    if (in_query) return {v, std::min(s.find_first_of("& \t\r\n", v), s.size())};
    const bool quoted = v < s.size() && s[v] == '\'';
    std::size_t e = quoted ? v + 1 : v;
    while (e < s.size() && (quoted ? s[e] != '\'' : !is_space(s[e]) && !next_setting_at(s, e)))
        e += s[e] == '\\' ? 2 : 1;
    return {quoted ? v + 1 : v, std::min(e, s.size())};
}

// The value of the NAME=value whose '=' is at `eq`, when NAME names a secret.
std::optional<Span> keyword_secret(const std::string& s, std::size_t eq) {
    auto key_end = eq;
    while (key_end > 0 && is_space(s[key_end - 1])) --key_end;
    auto key_begin = key_end;
    while (key_begin > 0 && is_key_char(s[key_begin - 1])) --key_begin;
    if (key_begin == key_end) return std::nullopt;
    const std::string key = s.substr(key_begin, key_end - key_begin);
    if (!names_a_secret(percent_decoded(key).value_or(key))) return std::nullopt;
    const bool in_query = key_begin > 0 && (s[key_begin - 1] == '?' || s[key_begin - 1] == '&');
    auto v = eq + 1;
    if (!in_query)
        while (v < s.size() && is_space(s[v])) ++v;
    const Span value = value_at(s, v, in_query);
    if (value.end == value.begin) return std::nullopt;
    return value;
}

// Every secret the rule finds in s, in order, none overlapping.
std::vector<Span> secrets_in(const std::string& s) {
    std::vector<Span> found;
    for (auto scheme = s.find("://"); scheme != npos; scheme = s.find("://", scheme + 3))
        if (const auto p = uri_password(s, scheme + 3)) found.push_back(*p);
    for (auto eq = s.find('='); eq != npos; eq = s.find('=', eq + 1)) {
        const auto v = keyword_secret(s, eq);
        if (!v) continue;
        const bool inside = std::any_of(found.begin(), found.end(), [&](const Span& f) {
            return v->begin < f.end && f.begin < v->end;
        });
        if (!inside) found.push_back(*v);
        eq = std::max(eq, v->end - 1);
    }
    std::sort(found.begin(), found.end(),
              [](const Span& a, const Span& b) { return a.begin < b.begin; });
    return found;
}

std::mutex remembered_mutex;
std::vector<std::string> remembered;  // longest first

void remember(const std::string& secret) {
    if (secret.size() < shortest_remembered || secret == hidden) return;
    const std::lock_guard<std::mutex> lock(remembered_mutex);
    if (std::find(remembered.begin(), remembered.end(), secret) != remembered.end()) return;
    remembered.push_back(secret);
    std::stable_sort(remembered.begin(), remembered.end(),
                     [](const std::string& a, const std::string& b) {
                         return a.size() > b.size();
                     });
}

std::string without_remembered(std::string s) {
    const std::lock_guard<std::mutex> lock(remembered_mutex);
    for (const auto& secret : remembered)
        for (auto at = s.find(secret); at != npos; at = s.find(secret, at + 3))
            s.replace(at, secret.size(), hidden);
    return s;
}

// A quoted keyword value as libpq reads it: "\'" and "\\" unescaped.
std::string unescaped(const std::string& s) {
    std::string plain;
    for (std::size_t i = 0; i < s.size(); ++i)
        plain += s[i] == '\\' && i + 1 < s.size() ? s[++i] : s[i];
    return plain;
}

}  // namespace

bool names_a_secret(const std::string& name) {
    const std::string n = lower(name);
    for (const char* word : {"password", "passwd", "passphrase", "token", "secret", "credential"})
        if (n.find(word) != npos) return true;
    return n.size() > 4 && n.compare(n.size() - 4, npos, "_key") == 0;
}

std::string mask_secrets(const std::string& text) {
    std::string s = without_remembered(text);
    const auto found = secrets_in(s);
    for (auto it = found.rbegin(); it != found.rend(); ++it)
        s.replace(it->begin, it->end - it->begin, hidden);
    return s;
}

std::string masked_setting(const std::string& name, const std::string& value) {
    return names_a_secret(name) ? hidden : mask_secrets(value);
}

void mask_secrets_in(nlohmann::json& j) {
    if (j.is_string()) {
        j = mask_secrets(j.get_ref<const std::string&>());
    } else if (j.is_array()) {
        for (auto& e : j) mask_secrets_in(e);
    } else if (j.is_object()) {
        auto masked = nlohmann::json::object();
        for (auto& [key, value] : j.items()) {
            if (value.is_string() && names_a_secret(key)) value = hidden;
            mask_secrets_in(value);
            masked[mask_secrets(key)] = std::move(value);
        }
        j = std::move(masked);
    }
}

void remember_secrets_of(const std::string& text, bool whole) {
    std::vector<std::string> raw;
    for (const auto& span : secrets_in(text))
        raw.push_back(text.substr(span.begin, span.end - span.begin));
    if (whole) raw.push_back(text);
    for (const auto& secret : raw)
        for (const auto& form : {secret, unescaped(secret)}) {
            remember(form);
            if (const auto plain = percent_decoded(form)) remember(*plain);
        }
}

std::string escape_uri_password(const std::string& uri) {
    const auto scheme = uri.find("://");
    if (scheme == npos) return uri;
    const auto p = uri_password(uri, scheme + 3);
    if (!p) return uri;
    const std::size_t user = scheme + 3, colon = p->begin - 1;
    const std::string name = uri.substr(user, colon - user);
    const std::string password = uri.substr(p->begin, p->end - p->begin);
    // Only a raw '@' or '/' shows that the user information was not encoded.
    if (name.find('@') == npos && password.find_first_of("@/") == npos) return uri;
    return uri.substr(0, user) + percent_encoded(name) + ":" + percent_encoded(password) +
           uri.substr(p->end);
}

}  // namespace common
