// Dates as the suite writes them, read strictly: every field its exact
// number of digits and within its range, so that a damaged stamp is no date.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace common {

// Reads `text` by `layout`, in which Y, M, D, h, m and s stand for one digit
// of year, month, day, hour, minute and second, and any other character for
// itself: "YYYY-MM-DD hh:mm:ss" (so a layout holds no words: their letters
// would be read as fields). The fields as std::tm has them (years since
// 1900, months from 0); with `rest`, the text after the layout is left there,
// else there must be none.
std::optional<std::tm> read_date(std::string_view text, std::string_view layout,
                                 std::string_view* rest = nullptr);

// This moment in UTC as strftime's `layout` gives it ("%Y-%m-%d %H:%M:%S").
std::string utc_now(const char* layout);

// A moment in UTC as "YYYY-MM-DD hh:mm:ss"; "" where there is none.
std::string utc_text(std::time_t when);

// The store's dates, "YYYY-MM-DD hh:mm:ss" in UTC, as seconds since the epoch.
std::optional<std::time_t> read_utc(std::string_view text);

// The runner's stamps, "2026-12-07T09:10:12+0100": that moment, and its
// offset from UTC in seconds.
std::optional<std::pair<std::time_t, long>> read_stamp(std::string_view stamp);

// A results file's name, "... local date 2026.12.07 time 08.47.10.txt": the
// program's local clock as "2026-12-07 08:47:10", and its fields (tm_isdst
// -1, for mktime to take the zone's own rule).
std::optional<std::pair<std::string, std::tm>> read_name_date(std::string_view name);

}  // namespace common
