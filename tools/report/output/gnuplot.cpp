#include "report/output/gnuplot.h"

#include "common/text.h"

namespace report {

std::string gnuplot_string(std::string_view text) {
    // No control character survives, so no line of the script can end early;
    // U+FFFD holds no quote, so doubling the quotes afterwards is safe.
    const std::string shown = common::replace_controls(text, [](unsigned) {
        return std::string("\xEF\xBF\xBD");
    });
    std::string q = "'";
    for (char c : shown) q += c == '\'' ? std::string("''") : std::string(1, c);
    return q + "'";
}

}  // namespace report
