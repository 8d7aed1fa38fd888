#include "report/reading/cursor.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "common/number.h"

namespace report {

namespace {

// "{}" in a pattern stands for a number; the rest is literal text.
constexpr std::string_view number_mark = "{}";

std::optional<std::vector<double>> match(std::string_view line, std::string_view pattern) {
    std::vector<double> numbers;
    std::size_t pos = 0;
    for (;;) {
        const auto mark = pattern.find(number_mark);
        const std::string_view literal = pattern.substr(0, mark);
        if (line.substr(pos, literal.size()) != literal) return std::nullopt;
        pos += literal.size();
        if (mark == std::string_view::npos) break;
        pattern.remove_prefix(mark + number_mark.size());
        // Numbers never hold blanks, and every pattern follows one with a blank or
        // the line's end.
        const auto end = std::min(line.find(' ', pos), line.size());
        auto value = common::parse_number(line.substr(pos, end - pos));
        if (!value) return std::nullopt;
        numbers.push_back(*value);
        pos = end;
    }
    if (pos != line.size()) return std::nullopt;
    return numbers;
}

std::string describe(std::string_view pattern) {
    if (pattern.empty()) return "a blank line";
    std::string text;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern.substr(i, number_mark.size()) == number_mark) {
            text += "<number>";
            ++i;
        } else {
            text += pattern[i];
        }
    }
    text = "\"" + text + "\"";
    if (pattern.back() == ' ') text += " (ending in a blank)";
    return text;
}

// Whether a cut-off line is the start of a line of this pattern.
bool could_begin(std::string_view cut, std::string_view pattern) {
    const std::string_view literal = pattern.substr(0, pattern.find(number_mark));
    if (cut.size() <= literal.size()) return literal.substr(0, cut.size()) == cut;
    return cut.substr(0, literal.size()) == literal;
}

}  // namespace

std::string describe_found(std::string_view line) {
    if (line.empty()) return "a blank line";
    std::string text = "\"";
    const std::size_t shown = std::min<std::size_t>(line.size(), 70);
    for (std::size_t i = 0; i < shown; ++i) {
        const auto c = static_cast<unsigned char>(line[i]);
        if (c < 0x20 || c == 0x7f) {
            static const char hex[] = "0123456789abcdef";
            text += "\\x";
            text += hex[c >> 4];
            text += hex[c & 15];
        } else {
            text += static_cast<char>(c);
        }
    }
    text += shown < line.size() ? "...\"" : "\"";
    return text;
}

double time_value(double v, int line) {
    if (!(v >= 0) || std::isinf(v))
        throw Stop{false, line, "a time of " + common::format_printed(v) + " s, which no program writes"};
    return v;
}

std::pair<std::size_t, std::vector<double>> Cursor::expect_one_of(
    std::initializer_list<std::string_view> patterns) {
    // Told only on failure: every line of every file passes through here.
    const auto wanted = [&] {
        std::string w;
        for (auto p : patterns) w += (w.empty() ? "" : " or ") + describe(p);
        return w;
    };
    if (at_end()) throw Stop{true, line_no(), "the file ends here; expected " + wanted()};
    const std::string_view line = peek();
    if (next_is_cut()) {
        for (auto p : patterns)
            if (could_begin(line, p))
                throw Stop{true, line_no(), "the line is cut off mid-way; expected " + wanted()};
        throw Stop{false, line_no(), "expected " + wanted() + ", found " + describe_found(line)};
    }
    std::size_t which = 0;
    for (auto p : patterns) {
        // An overlong line was kept only in part: it is no program's line.
        auto numbers = overlong_ ? std::nullopt : match(line, p);
        if (numbers) {
            advance();
            return {which, std::move(*numbers)};
        }
        ++which;
    }
    throw Stop{false, line_no(), "expected " + wanted() + ", found " + describe_found(line)};
}

void Cursor::expect_end() {
    if (!at_end())
        throw Stop{false, line_no(),
                   "expected the end of the file after the summary, found " +
                       describe_found(peek())};
}

}  // namespace report
