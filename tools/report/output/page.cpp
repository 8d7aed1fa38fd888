#include "report/output/page.h"

#include <filesystem>

#include "common/secrets.h"
#include "common/text.h"

namespace fs = std::filesystem;

namespace report {

namespace {

// Where Debian's libjs-dygraphs keeps its files.
const char* const chart_library_source = "/usr/share/javascript/dygraphs";
const char* const chart_script = "dygraph.min.js";
const char* const chart_style = "dygraph.min.css";

const char* const shared_style =
    "body{font-family:sans-serif}table{border-collapse:collapse}";

}  // namespace

std::string html_escape(const std::string& text) {
    std::string out;
    for (char c : common::valid_utf8(text)) {
        // HTML allows no control character but tab and line feed.
        if ((static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n') || c == 0x7f) {
            out += "\xEF\xBF\xBD";
            continue;
        }
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

std::string page_text(const std::string& text) { return html_escape(common::mask_secrets(text)); }

void write_page(std::ostream& out, const PageShell& shell,
                const std::function<void(std::ostream&)>& body) {
    out << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>"
        << page_text(shell.title) << "</title>";
    if (shell.chart_library)
        out << "<link rel=\"stylesheet\" href=\"" << page_text(*shell.chart_library + chart_style)
            << "\">";
    out << "<style>" << shared_style << shell.style << "</style></head><body>\n";
    body(out);
    if (shell.chart_library)
        out << "<script src=\"" << page_text(*shell.chart_library + chart_script)
            << "\"></script>\n";
    for (const auto& file : shell.script_files)
        out << "<script src=\"" << page_text(file) << "\"></script>\n";
    out << shell.script << "</body></html>\n";
}

std::optional<std::string> copy_chart_library(const std::string& folder) {
    for (const char* name : {chart_script, chart_style}) {
        std::error_code ec;
        fs::copy_file(fs::path(chart_library_source) / name, fs::path(folder) / name, ec);
        if (ec)
            return std::string("cannot copy the charting library (Debian: libjs-dygraphs): ") +
                   chart_library_source + "/" + name + ": " + ec.message();
    }
    return std::nullopt;
}

}  // namespace report
