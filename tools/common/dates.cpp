#include "common/dates.h"

#include <string>

namespace report {

namespace {
// Where each field letter goes, and its highest value.
int* field(std::tm& t, char letter) {
    switch (letter) {
        case 'Y': return &t.tm_year;
        case 'M': return &t.tm_mon;
        case 'D': return &t.tm_mday;
        case 'h': return &t.tm_hour;
        case 'm': return &t.tm_min;
        case 's': return &t.tm_sec;
        default: return nullptr;
    }
}

bool in_range(const std::tm& t) {
    return t.tm_mon >= 1 && t.tm_mon <= 12 && t.tm_mday >= 1 && t.tm_mday <= 31 &&
           t.tm_hour <= 23 && t.tm_min <= 59 && t.tm_sec <= 60;
}
}  // namespace

std::optional<std::tm> read_date(std::string_view text, std::string_view layout,
                                 std::string_view* rest) {
    std::tm t{};
    t.tm_mon = t.tm_mday = 1;  // a layout without them reads the year's first day
    const std::string letters = "YMDhms";
    std::string seen;
    if (text.size() < layout.size()) return std::nullopt;
    for (std::size_t i = 0; i < layout.size(); ++i) {
        const char c = text[i], l = layout[i];
        if (int* f = field(t, l)) {
            if (c < '0' || c > '9') return std::nullopt;
            if (seen.find(l) == std::string::npos) *f = 0, seen += l;
            *f = *f * 10 + (c - '0');
        } else if (c != l) {
            return std::nullopt;
        }
    }
    if (rest) *rest = text.substr(layout.size());
    else if (text.size() != layout.size()) return std::nullopt;
    if (!in_range(t)) return std::nullopt;
    t.tm_year -= 1900;
    t.tm_mon -= 1;
    return t;
}

std::string utc_now(const char* layout) {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[64];
    return std::strftime(text, sizeof text, layout, &tm) ? text : "";
}

}  // namespace report
