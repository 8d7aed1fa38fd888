#include "screen_text.h"

#include <cinttypes>
#include <cstdio>
#include <sstream>

#include "report.h"
#include "startup.h"

namespace screens {

// The page's buffer comes first: its address is what every item shows.
char* const screen_text = new char[screen_text_capacity];
const std::string address_item =
    format_address_item(reinterpret_cast<std::uintptr_t>(screen_text));
double plain_seconds;

namespace {
std::ostringstream page_stream;
}

std::string format_address_item(std::uint64_t address) {
    char text[17];
    std::snprintf(text, sizeof text, "%016" PRIX64, address);
    return text;
}

void write_plain_report(std::ostream& s) {
    frame::figure_line(s, texts::system_spent, plain_seconds);
    frame::figure_line(s, texts::plain_rate, plain_characters / plain_seconds);
}

void plain_output_pass() {
    using frame::console;
    using frame::results;
    frame::line(console, texts::plain_output);
    frame::line(results, texts::plain_output);
    // Only the insertions are timed: one per item, through the ordinary
    // console stream, as any program's output would go.
    const char* const item = address_item.c_str();
    const double start = frame::elapsed_ms();
    for (int i = 0; i < plain_item_count; ++i) console << item;
    const double end = frame::elapsed_ms();
    plain_seconds = (end - start) / 1000.0;

    frame::end_line(console);
    frame::blank(console);
    write_plain_report(console);
    frame::blank(console);
    frame::blank(results);
    write_plain_report(results);
    frame::blank(results);
    frame::blank(console);
    frame::blank(results);
}

void write_graphical_heading() {
    for (std::ostream* s : {&frame::console, &frame::results}) {
        frame::line(*s, texts::graphical_output);
        frame::blank(*s);
    }
}

void build_screen_text() {
    for (int l = 0; l < page_lines; ++l) {
        for (int i = 0; i < items_per_line; ++i) page_stream << address_item;
        page_stream << '\n';
    }
    std::snprintf(screen_text, screen_text_capacity, "%s", page_stream.str().c_str());
}

}  // namespace screens
