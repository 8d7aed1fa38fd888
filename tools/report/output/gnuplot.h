// Texts handed to gnuplot. Only labels ever reach its scripts; figures go
// through data files.
#pragma once

#include <string>
#include <string_view>

namespace report {

// `text` as one gnuplot string literal that stays a literal: single-quoted
// (no backslash escapes, no command substitution), quotes doubled, every
// control character (a newline would end the command) replaced by U+FFFD,
// invalid UTF-8 replaced likewise.
std::string gnuplot_string(std::string_view text);

}  // namespace report
