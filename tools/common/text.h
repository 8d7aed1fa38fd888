// Text that leaves the tools: always valid UTF-8, and on a terminal free of
// control characters that could move the cursor or retitle the window.
#pragma once

#include <string>
#include <string_view>

namespace common {

// Every byte that does not belong to a well-formed UTF-8 sequence (overlong
// forms, surrogates and code points past U+10FFFF included) becomes U+FFFD.
std::string valid_utf8(std::string_view text);

// valid_utf8, then every C0 and C1 control character and DEL replaced by
// what `shown` gives for its code point.
std::string replace_controls(std::string_view text, std::string (*shown)(unsigned code));

// valid_utf8, then every C0 and C1 control character and DEL shown as an
// escape ("\x1b", "\u009b"), so that nothing in the text acts on a terminal.
std::string terminal_safe(std::string_view text);

// The text as one word for a POSIX shell: as it is when it holds only
// characters no shell treats specially, else in single quotes.
std::string shell_quoted(std::string_view text);

// The text as one word that a person can paste into bash or zsh: as
// shell_quoted gives it when every byte is printable ASCII, else in $'...'
// with each other byte as \xHH, so that a control character in a folder's
// name is neither acted on by the terminal nor lost from the command.
std::string shell_pasteable(std::string_view text);

// Every byte but letters, digits, "-._~" and those in `plain` as %XX.
std::string percent_encoded(std::string_view text, std::string_view plain = "");

}  // namespace common
