// Dates as the suite writes them, read strictly: every field its exact
// number of digits and within its range, so that a damaged stamp is no date.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace report {

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

}  // namespace report
