// Writing the report's files so that neither a failure nor a careless
// option destroys anything: each output is checked against the inputs and
// replaces its target only once it is whole.
#pragma once

#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "report/reading/inputs.h"

namespace report {

// Writes `content` to `path`, or to standard output for "-". A regular file
// (or a new one) is written to a temporary file in the same folder and
// renamed into place; a device or FIFO is written to directly. Returns why
// it failed ("cannot write X: reason"), or nothing.
std::optional<std::string> write_output(const std::string& path, std::string_view content);

// Writes what `write` puts into a stream, as write_output does; on failure
// says why on standard error ("suite-report: ...") and returns false.
bool write_or_tell(const std::string& path, std::string_view content);
// Removes a temporary folder and what it holds, if there is one.
void remove_folder(const std::optional<std::string>& folder);

template <class Write>
bool write_to(const std::string& path, Write write) {
    std::ostringstream text;
    write(text);
    return write_or_tell(path, text.str());
}

// Moves a finished file into place, replacing what `target` names (through
// a link). Returns why it failed, or nothing.
std::optional<std::string> move_into_place(const std::string& from, const std::string& target);

// The input that writing `output` would replace: the same file (by device
// and inode, so also through symbolic or hard links), or for a path that does
// not exist yet, the same resolved name.
std::optional<std::string> input_at(const std::string& output,
                                    const std::vector<InputFile>& inputs);

// The first of `outputs` that would replace one of the inputs, as "OUTPUT is
// the input INPUT"; nothing when all are clear of them ("" outputs are none).
std::optional<std::string> output_over_input(const std::vector<std::string>& outputs,
                                             const std::vector<InputFile>& inputs);

// Whether more than one of `outputs` is standard output ("-"), which takes
// one: a usage error.
bool several_standard_outputs(const std::vector<std::string>& outputs);

// One output of a command: where it goes and what writes it there.
struct Export {
    std::string path;  // "" not asked for; "-" standard output
    // Writes to `path`; false when it failed, which it has said on standard error.
    std::function<bool(const std::string& path)> write;
    // A file; a folder it makes files in (never standard output, its files
    // named in ExportInputs::beside); or the terminal report, written to
    // standard output unless another export goes there.
    enum class Kind { file, folder, terminal } kind = Kind::file;
};

// An export of what `content` puts into a stream, written as write_to does.
Export stream_export(std::string path, std::function<void(std::ostream&)> content);
// The terminal report, as such an export.
Export terminal_export(std::function<void(std::ostream&)> content);

// Whether one of the files exported is standard output.
bool to_standard_output(const std::vector<Export>& exports);

// What no export may replace: `files`, named `whose` after a clash (" (the
// store)"), checked also against `beside`, the files an export makes in a
// folder of its own (the plots).
struct ExportInputs {
    std::vector<InputFile> files;
    std::string whose;
    std::vector<std::string> beside;
};

// What write_exports did.
struct Written {
    bool refused = false;  // nothing written: an output would replace an input
    int failed = 0;        // exports that were not written
};

// The one way a command writes its outputs: when any would replace an input,
// none is written ("suite-report: refusing to write over an input: OUTPUT is
// the input INPUT" on standard error); else each export asked for in order,
// the terminal report only while no other goes to standard output.
Written write_exports(const std::vector<Export>& exports, const ExportInputs& inputs);

// Makes a new folder "NAME-XXXXXX" for intermediate files in $TMPDIR, or in
// /tmp when TMPDIR is unset or not a folder (with that said in `warning`).
// Returns its path, or nothing with the reason in `error`.
std::optional<std::string> make_temp_folder(const std::string& name, std::string& warning,
                                            std::string& error);

// A page whose plots are drawn for it in a temporary folder of its own, gone
// afterwards: draw(folder, error) returns the plots, page(stream, plots,
// error) writes the page, which says when they could not be drawn. What went
// wrong on the way is added to `problems`; false when the page itself was not
// written (said on standard error).
template <class Draw, class Page>
bool write_page_with_plots(const std::string& path, const std::string& name, Draw draw,
                           Page page, std::vector<std::string>& problems) {
    std::string warning, error;
    const auto folder = make_temp_folder(name, warning, error);
    if (!warning.empty()) problems.push_back("warning: " + warning);
    decltype(draw(std::string(), error)) plots{};
    if (folder) plots = draw(*folder, error);
    if (!error.empty()) problems.push_back(error);
    const bool ok = write_to(path, [&](std::ostream& s) { page(s, plots, error); });
    remove_folder(folder);
    return ok;
}

}  // namespace report
