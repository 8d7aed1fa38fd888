#include "common/secrets.h"

#include "common/text.h"

#include <cctype>
#include <cstdlib>
#include <optional>

namespace report {

namespace {

constexpr auto npos = std::string::npos;
const char* const hidden = "***";

struct Span {
    std::size_t begin, end;  // [begin, end)
};

// The user information of the URI whose text after "://" starts at `rest`:
// up to the last '@' before the host, which ends at the next '/'. None when
// a '/' comes first (no user information: "postgresql:///db?host=/a@b").
std::optional<Span> userinfo_at(const std::string& s, std::size_t rest) {
    const auto first_at = s.find('@', rest);
    if (first_at == npos || s.find('/', rest) < first_at) return std::nullopt;
    const auto host_end = s.find('/', first_at);
    return Span{rest, s.rfind('@', host_end == npos ? npos : host_end - 1)};
}

std::string hide_userinfo_passwords(std::string s) {
    for (auto scheme = s.find("://"); scheme != npos; scheme = s.find("://", scheme + 3)) {
        const auto info = userinfo_at(s, scheme + 3);
        if (!info) continue;
        const auto colon = s.find(':', info->begin);
        if (colon >= info->end) continue;
        s.replace(colon + 1, info->end - colon - 1, hidden);
        scheme = colon;
    }
    return s;
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// A key as libpq reads it: percent-decoded (in a URI), any case.
bool names_a_password(const std::string& key) {
    std::string plain;
    for (std::size_t i = 0; i < key.size(); ++i) {
        if (key[i] == '%' && i + 2 < key.size() && hex_value(key[i + 1]) >= 0 &&
            hex_value(key[i + 2]) >= 0) {
            plain += static_cast<char>(hex_value(key[i + 1]) * 16 + hex_value(key[i + 2]));
            i += 2;
        } else {
            plain += key[i];
        }
    }
    for (auto& c : plain) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::string word = "password";
    return plain.size() >= word.size() && plain.compare(plain.size() - word.size(), npos, word) == 0;
}

bool is_space(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }
bool is_key_char(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '%' || c == '-';
}

// Where the value starting at `v` ends: in a URI's query at '&' or a space;
// in a key=value string at a space, or at the closing quote of a quoted
// value, a backslash escaping the next character in both.
Span value_at(const std::string& s, std::size_t v, bool in_query) {
    if (in_query) return {v, std::min(s.find_first_of("& \t\r\n", v), s.size())};
    const bool quoted = v < s.size() && s[v] == '\'';
    std::size_t e = quoted ? v + 1 : v;
    while (e < s.size() && (quoted ? s[e] != '\'' : !is_space(s[e]))) e += s[e] == '\\' ? 2 : 1;
    return {quoted ? v + 1 : v, std::min(e, s.size())};
}

std::string hide_keyword_passwords(std::string s) {
    for (auto eq = s.find('='); eq != npos; eq = s.find('=', eq + 1)) {
        auto key_end = eq;
        while (key_end > 0 && is_space(s[key_end - 1])) --key_end;
        auto key_begin = key_end;
        while (key_begin > 0 && is_key_char(s[key_begin - 1])) --key_begin;
        if (key_begin == key_end || !names_a_password(s.substr(key_begin, key_end - key_begin)))
            continue;
        const bool in_query = key_begin > 0 && (s[key_begin - 1] == '?' || s[key_begin - 1] == '&');
        auto v = eq + 1;
        if (!in_query)
            while (v < s.size() && is_space(s[v])) ++v;
        const Span value = value_at(s, v, in_query);
        if (value.end == value.begin) continue;
        s.replace(value.begin, value.end - value.begin, hidden);
        eq = value.begin;
    }
    return s;
}

}  // namespace

std::string mask_secrets(const std::string& text) {
    return hide_keyword_passwords(hide_userinfo_passwords(text));
}

void mask_secrets_in(nlohmann::json& j) {
    if (j.is_string()) {
        j = mask_secrets(j.get_ref<const std::string&>());
    } else if (j.is_array()) {
        for (auto& e : j) mask_secrets_in(e);
    } else if (j.is_object()) {
        auto masked = nlohmann::json::object();
        for (auto& [key, value] : j.items()) {
            mask_secrets_in(value);
            masked[mask_secrets(key)] = std::move(value);
        }
        j = std::move(masked);
    }
}

std::string escape_uri_password(const std::string& uri) {
    const auto scheme = uri.find("://");
    if (scheme == npos) return uri;
    const auto info = userinfo_at(uri, scheme + 3);
    // Only a raw '@' inside shows that the user information was not encoded.
    if (!info || uri.find('@', info->begin) >= info->end) return uri;
    const auto colon = std::min(uri.find(':', info->begin), info->end);
    std::string out = uri.substr(0, info->begin) +
                      percent_encoded(uri.substr(info->begin, colon - info->begin));
    if (colon < info->end)
        out += ":" + percent_encoded(uri.substr(colon + 1, info->end - colon - 1));
    return out + uri.substr(info->end);
}

}  // namespace report
