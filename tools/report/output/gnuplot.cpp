#include "gnuplot.h"

#include "text.h"

namespace report {

std::string gnuplot_string(std::string_view text) {
    const std::string valid = valid_utf8(text);
    std::string q = "'";
    for (std::size_t i = 0; i < valid.size(); ++i) {
        const auto c = static_cast<unsigned char>(valid[i]);
        if (c == '\'') {
            q += "''";
        } else if (c < 0x20 || c == 0x7F) {
            q += "\xEF\xBF\xBD";
        } else if (c == 0xC2 && i + 1 < valid.size() &&
                   static_cast<unsigned char>(valid[i + 1]) < 0xA0) {
            q += "\xEF\xBF\xBD";  // a C1 control
            ++i;
        } else {
            q += valid[i];
        }
    }
    return q + "'";
}

}  // namespace report
