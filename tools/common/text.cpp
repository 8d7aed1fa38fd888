#include "common/text.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace common {

namespace {

constexpr std::string_view replacement = "\xEF\xBF\xBD";

bool continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// The length of the well-formed sequence at `i`, or 0.
std::size_t sequence_length(std::string_view s, std::size_t i) {
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[i + k]); };
    const unsigned char c = b(0);
    if (c < 0x80) return 1;
    std::size_t n = 0;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (c >= 0xC2 && c <= 0xDF) n = 2;
    else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        if (c == 0xE0) low = 0xA0;         // overlong
        if (c == 0xED) high = 0x9F;        // surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        if (c == 0xF0) low = 0x90;         // overlong
        if (c == 0xF4) high = 0x8F;        // past U+10FFFF
    } else {
        return 0;
    }
    if (i + n > s.size() || b(1) < low || b(1) > high) return 0;
    for (std::size_t k = 2; k < n; ++k)
        if (!continuation(b(k))) return 0;
    return n;
}

}  // namespace

std::string valid_utf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t n = sequence_length(text, i);
        if (n == 0) {
            out += replacement;
            ++i;
        } else {
            out.append(text.substr(i, n));
            i += n;
        }
    }
    return out;
}

std::string replace_controls(std::string_view text, std::string (*shown)(unsigned code)) {
    const std::string valid = valid_utf8(text);
    std::string out;
    out.reserve(valid.size());
    for (std::size_t i = 0; i < valid.size(); ++i) {
        const auto c = static_cast<unsigned char>(valid[i]);
        if (c < 0x20 || c == 0x7F) {
            out += shown(c);
        } else if (c == 0xC2 && i + 1 < valid.size() &&
                   static_cast<unsigned char>(valid[i + 1]) < 0xA0) {
            // U+0080 to U+009F, the C1 controls (CSI among them).
            out += shown(static_cast<unsigned char>(valid[++i]));
        } else {
            out += valid[i];
        }
    }
    return out;
}

std::string terminal_safe(std::string_view text) {
    return replace_controls(text, [](unsigned code) {
        char escape[8];
        std::snprintf(escape, sizeof escape, code < 0x80 ? "\\x%02x" : "\\u%04x", code);
        return std::string(escape);
    });
}

std::string percent_encoded(std::string_view text, std::string_view plain) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || std::string_view("-._~").find(c) != std::string_view::npos ||
            plain.find(static_cast<char>(c)) != std::string_view::npos) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string shell_quoted(std::string_view text) {
    const auto plain = [](unsigned char c) {
        return std::isalnum(c) || std::strchr("_./:=@%+,-", c) != nullptr;
    };
    if (!text.empty() && std::all_of(text.begin(), text.end(), plain)) return std::string(text);
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string shell_pasteable(std::string_view text) {
    const auto printable = [](unsigned char c) { return c >= 0x20 && c < 0x7f; };
    if (std::all_of(text.begin(), text.end(), printable)) return shell_quoted(text);
    std::string out = "$'";
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\\' || c == '\'') {
            out += '\\';
            out += ch;
        } else if (printable(c)) {
            out += ch;
        } else {
            static const char digits[] = "0123456789abcdef";
            out += "\\x";
            out += digits[c >> 4];
            out += digits[c & 15];
        }
    }
    return out + "'";
}

}  // namespace common
