// The one HTML page shell every page of the tools shares: the head, the
// styles all pages start from, the escaping of what goes in, and the
// charting library the pages draw with, copied beside them so that they open
// from disk with no network. Each page hands in its own body.
#pragma once

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace report {

// Valid UTF-8 (the page says so) without control characters, escaped for an
// element or an attribute.
std::string html_escape(const std::string& text);

// Text from the store or the user: secrets masked, then escaped.
std::string page_text(const std::string& text);

struct PageShell {
    std::string title;       // page_text'ed here
    std::string style;       // the page's own rules, after the shared ones
    // Where the charting library lies, relative to the page ("../"); unset
    // when the page draws no chart.
    std::optional<std::string> chart_library;
    std::vector<std::string> script_files;  // after the library, relative to the page
    std::string script;      // the page's own <script> element, last
};

void write_page(std::ostream& out, const PageShell& shell,
                const std::function<void(std::ostream&)>& body);

// Copies the charting library (Debian's libjs-dygraphs) into `folder`, once
// for all its pages. Returns why it could not, or nothing.
std::optional<std::string> copy_chart_library(const std::string& folder);

}  // namespace report
