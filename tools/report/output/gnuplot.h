// The one way a text reaches a gnuplot script: as a string literal that
// gnuplot reads back as the same text and never as a command.
#pragma once

#include <string>
#include <string_view>

namespace report {

// A double-quoted gnuplot string: quotes and backslashes escaped, control
// characters replaced by '?', invalid UTF-8 by U+FFFD, and the characters
// gnuplot would substitute on the command line (` and @) written as octal
// escapes so no substitution sees them.
inline std::string gnuplot_string(std::string_view text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            if (c == '"' || c == '\\') out += '\\', out += static_cast<char>(c);
            else if (c == '`') out += "\\140";
            else if (c == '@') out += "\\100";
            else if (c == '$') out += "\\044";
            else if (c < 0x20 || c == 0x7f) out += '?';
            else out += static_cast<char>(c);
            ++i;
            continue;
        }
        const std::size_t len = (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        bool ok = len > 0 && i + len <= text.size() && c >= 0xc2 && c < 0xf5;
        for (std::size_t k = 1; ok && k < len; ++k)
            ok = (static_cast<unsigned char>(text[i + k]) & 0xc0) == 0x80;
        if (ok && len > 2) {
            const auto d = static_cast<unsigned char>(text[i + 1]);
            ok = !(c == 0xe0 && d < 0xa0) && !(c == 0xed && d >= 0xa0) &&
                 !(c == 0xf0 && d < 0x90) && !(c == 0xf4 && d >= 0x90);
        }
        if (ok) {
            out.append(text.substr(i, len));
            i += len;
        } else {
            out += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return out + "\"";
}

}  // namespace report
