// Writing the report's files so that neither a failure nor a careless
// option destroys anything: each output is checked against the inputs and
// replaces its target only once it is whole.
#pragma once

#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "report/core/inputs.h"

namespace report {

// Writes `content` to `path`, or to standard output for "-". A regular file
// (or a new one) is written to a temporary file in the same folder and
// renamed into place; a device or FIFO is written to directly. Returns why
// it failed ("cannot write X: reason"), or nothing.
std::optional<std::string> write_output(const std::string& path, std::string_view content);

// Writes what `write` puts into a stream, as write_output does; on failure
// says why on standard error ("suite-report: ...") and returns false.
bool write_or_tell(const std::string& path, std::string_view content);
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

// Makes a new folder "NAME-XXXXXX" for intermediate files in $TMPDIR, or in
// /tmp when TMPDIR is unset or not a folder (with that said in `warning`).
// Returns its path, or nothing with the reason in `error`.
std::optional<std::string> make_temp_folder(const std::string& name, std::string& warning,
                                            std::string& error);

}  // namespace report
