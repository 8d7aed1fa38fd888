// Numbers as the benchmarks print them: C++ ostream defaults, six significant
// digits, and inf, -inf, nan or -nan where the arithmetic produced them.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace common {

// The whole token must be one such number: no blanks, no hexadecimal, no
// leading '+'.
std::optional<double> parse_number(std::string_view token);

// Half a unit in the sixth significant digit of a printed value: how far the
// exact figure may lie from what the file shows.
double rounding_bound(double printed);

// Whether a figure recomputed from other printed figures matches a printed
// one, given the recomputation's own relative uncertainty.
bool agrees(double recomputed, double printed, double relative_uncertainty);

// Six significant digits, the way the benchmarks print.
std::string format_printed(double v);
// For tables: `digits` significant digits, "inf"/"nan" kept, "-" for a gap.
std::string format_sig(double v, int digits);
// Fixed decimals, for milliseconds and percentages.
std::string format_fixed(double v, int decimals);

}  // namespace common
