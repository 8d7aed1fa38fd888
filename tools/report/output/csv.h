// The one cell writer behind every CSV file the tools write.
#pragma once

#include <string>
#include <string_view>

namespace report {

// A text cell: valid UTF-8 (bad bytes become U+FFFD); a leading '=', '+',
// '-', '@', tab or carriage return gets a "'" before it so that a spreadsheet
// shows the text instead of evaluating it; quoted as RFC 4180 asks when it
// holds a comma, a quote or a line end. Numbers are written as they are.
std::string csv_text(std::string_view text);

}  // namespace report
