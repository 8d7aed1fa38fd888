// Report sink shared by the benchmarks: every figure goes to the console and
// to a results file in the working directory, one flushed line at a time.
#pragma once

#include <ctime>
#include <iostream>
#include <string>
#include <string_view>

#include "texts/texts.h"

namespace frame {

inline std::ostream& console = std::cout;
// Stays in a failed state (and discards every write) until open_results()
// succeeds; a later write error leaves it bad, which the closing report tells.
extern std::ostream results;

extern char results_file_name[1024];
extern const char* working_directory;

// Says once on standard error that a write to the opened results file
// failed (a full disk, a file-size limit), with the system's reason.
void warn_results_write_failed();

// A line: its pieces inserted one after the other, then a newline and a
// flush, so the file holds every figure even if the process is killed.
inline void end_line(std::ostream& s) {
    s << '\n';
    s.flush();
    if (&s == &results && !s.good()) warn_results_write_failed();
}
template <class... Pieces>
void line(std::ostream& s, const Pieces&... pieces) {
    (s << ... << pieces);
    end_line(s);
}
inline void blank(std::ostream& s) { end_line(s); }
// A line of the table of texts, its one figure where "{}" stands.
template <class Figure>
void figure_line(std::ostream& s, std::string_view text, const Figure& figure) {
    line(s, texts::before(text), figure, texts::after(text));
}

// The results file name for a local time, from a strftime pattern.
std::string format_results_name(const char* pattern, const std::tm& local);
// The n-th candidate for a taken name: "x.txt", "x (2).txt", "x (3).txt", ...
std::string numbered_name(const std::string& name, int n);
std::string join_path(const std::string& directory, const std::string& name);

// Names the results file from the given time and creates it without ever
// truncating or following what already stands under that name. On failure
// it warns on standard error and the stream stays failed.
void open_results(const char* pattern, std::time_t start);
// Every line so far reached the file, and the file is still the one under
// its name in the working directory.
bool results_saved();
// Working directory and file name.
std::string results_path();

}  // namespace frame
