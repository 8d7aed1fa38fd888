#include "common/dates.h"

#include <cstdio>
#include <string>

namespace common {

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

std::string utc_text(std::time_t when) {
    std::tm u{};
    if (!gmtime_r(&when, &u)) return "";
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &u);
    return text;
}

std::optional<std::time_t> read_utc(std::string_view text) {
    auto t = read_date(text, "YYYY-MM-DD hh:mm:ss");
    if (!t) return std::nullopt;
    const std::time_t when = timegm(&*t);
    if (when == -1) return std::nullopt;
    return when;
}

std::optional<std::pair<std::time_t, long>> read_stamp(std::string_view stamp) {
    std::string_view zone;  // "+0100"
    auto t = read_date(stamp, "YYYY-MM-DDThh:mm:ss", &zone);
    if (!t || zone.empty() || (zone[0] != '+' && zone[0] != '-')) return std::nullopt;
    const auto z = read_date(zone.substr(1), "hhmm");
    if (!z) return std::nullopt;
    const long offset_h = z->tm_hour, offset_m = z->tm_min;
    const char sign = zone[0];
    const std::time_t when = timegm(&*t);
    if (when == -1) return std::nullopt;
    const long offset = (sign == '-' ? -1 : 1) * (offset_h * 3600L + offset_m * 60L);
    return std::make_pair(when - offset, offset);
}

std::optional<std::pair<std::string, std::tm>> read_name_date(std::string_view name) {
    const std::string_view lead = " local date ", middle = " time ";
    const auto at = name.find(lead);
    if (at == std::string::npos) return std::nullopt;
    std::string_view after;
    const auto day = read_date(name.substr(at + lead.size()), "YYYY.MM.DD", &after);
    if (!day || after.substr(0, middle.size()) != middle) return std::nullopt;
    const auto clock = read_date(after.substr(middle.size()), "hh.mm.ss", &after);
    if (!clock) return std::nullopt;
    std::tm t = *day;
    t.tm_hour = clock->tm_hour;
    t.tm_min = clock->tm_min;
    t.tm_sec = clock->tm_sec;
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.tm_year + 1900,
                  t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    t.tm_isdst = -1;  // the zone's own rule for that date
    return std::make_pair(std::string(text), t);
}

}  // namespace common
