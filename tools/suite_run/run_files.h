// The runner's files: folders made new, every write checked, the results
// file this run's program made, and the runner's own clock beside the
// program's printed frame times.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace suite_run {

// Makes path's parents, then path itself, which must not exist: with
// numbered, a taken path gives path-2, path-3, ... Returns the folder made;
// nullopt with the reason in error.
std::optional<std::string> make_new_folder(const std::string& path, bool numbered,
                                           std::string& error);

// Writes a new file whole or not at all (never through a link or over an
// existing file); false with the reason in error.
bool write_new_file(const std::string& path, const std::string& text, std::string& error);

// Writes a file whole or not at all in place of the runner's own earlier
// one (a record that changed after it was written); false with the reason.
bool replace_own_file(const std::string& path, const std::string& text, std::string& error);

// JSON as UTF-8, invalid bytes replaced by U+FFFD, secrets hidden (mask_secrets_in).
std::string json_text(const nlohmann::json& j);

// json_text kept within max_bytes where cutting long strings can do it: the
// longest are cut first, each noting how many bytes it lost.
std::string bounded_json_text(const nlohmann::json& j, std::size_t max_bytes);

// The results file of program in dir, a folder made for this run (the
// newest if there are several); "" if none.
std::string new_results_file(const std::string& dir, const std::string& program);

// frames.csv: each frame of the results file with its printed time in ms and
// the runner's interval between the arrival of its marker line and the
// previous frame's. Empty when the file cannot be read or holds no frame.
std::string frames_csv(const std::string& results_path, const std::vector<std::string>& lines,
                       const std::vector<std::int64_t>& stamps, const std::string& marker);

// A printed number of seconds as milliseconds, its digits kept: "0.061" -> "61".
std::string seconds_text_as_ms(const std::string& seconds);

}  // namespace suite_run
