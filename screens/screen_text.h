// The screens workload: one 16-digit address item, written to the console in
// a timed run and composed into a page that every frame draws.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

namespace screens {

inline constexpr int plain_item_count = 131072;
inline constexpr double plain_characters = 2097152;  // 131072 items of 16 digits
inline constexpr int page_lines = 50;
inline constexpr int items_per_line = 8;
inline constexpr std::size_t screen_text_capacity = 8192;

extern char* const screen_text;
extern const std::string address_item;
extern double plain_seconds;

// An address as exactly 16 upper-case hexadecimal digits.
std::string format_address_item(std::uint64_t address);
// Times 131072 items written to the console and reports the rate.
void plain_output_pass();
// The two report lines of the plain-output pass.
void write_plain_report(std::ostream& s);
// The "Graphical Output" heading that follows the pass.
void write_graphical_heading();
// Composes the 50-line page into screen_text.
void build_screen_text();

}  // namespace screens
