// Where the site goes: OUT is a symbolic link to a generation folder beside
// it. A generation is written whole, then the link is replaced in one
// rename(2), then the older generations go: a reader never sees half a site.
#pragma once

#include <optional>
#include <string>

namespace suite_report {

// Why `out` may not be written: it exists and is not a site written this way.
std::optional<std::string> site_refusal(const std::string& out);

// A new, empty generation folder beside `out`; nothing, with why in `error`.
std::optional<std::string> new_generation(const std::string& out, std::string& error);

// Points `out` at `generation` and removes the generations before it.
// Returns why the link could not be replaced, or nothing.
std::optional<std::string> publish_generation(const std::string& out,
                                              const std::string& generation);

// Removes a generation that was not published.
void discard_generation(const std::string& generation);

}  // namespace suite_report
