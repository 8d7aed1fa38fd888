// A results file's lines against the patterns its program writes them in.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/files.h"
#include "report/reading/results.h"

namespace report {

// Thrown where the file departs from the layout. `cut`: it merely ends too
// early, as a killed run leaves it.
struct Stop {
    bool cut;
    int line;
    std::string message;
};

// A line as a diagnostic quotes it: control bytes escaped, long lines cut.
std::string describe_found(std::string_view line);

// A time: no program prints a negative or unbounded one.
double time_value(double v, int line);

// The next line of a results file, and what it must be. A pattern is the
// line's literal text with "{}" for each number.
class Cursor {
public:
    explicit Cursor(common::LineReader& lines) : lines_(lines) { advance(); }

    int line_no() const { return line_no_; }
    bool at_end() const { return !has_; }
    std::string_view peek() const { return line_; }
    bool next_is_cut() const { return has_ && !terminated_; }
    void skip() { advance(); }

    // Consumes the next line, which must match one of the patterns; returns
    // which, and its numbers.
    std::pair<std::size_t, std::vector<double>> expect_one_of(
        std::initializer_list<std::string_view> patterns);
    std::vector<double> expect(std::string_view pattern) {
        return expect_one_of({pattern}).second;
    }
    Figure expect_figure(std::string_view pattern) {
        const int line = line_no();
        return Figure{expect(pattern).at(0), line};
    }
    double expect_time(std::string_view pattern) { return expect_time_figure(pattern).value; }
    Figure expect_time_figure(std::string_view pattern) {
        const Figure f = expect_figure(pattern);
        return Figure{time_value(f.value, f.line), f.line};
    }
    void expect_blanks(int n) {
        for (int i = 0; i < n; ++i) expect("");
    }
    void expect_end();

private:
    void advance() {
        ++line_no_;
        has_ = lines_.next(line_, terminated_, overlong_);
    }

    common::LineReader& lines_;
    std::string line_;
    bool has_ = false, terminated_ = true, overlong_ = false;
    int line_no_ = 0;
};

}  // namespace report
