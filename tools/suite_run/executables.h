// Where the programs and the report tool are: an install puts them beside the
// runner, a build each in a folder of its own. Paths are absolute, since each
// program starts in its own folder.
#pragma once

#include <string>

namespace suite_run {

// The tool so named installed beside the runner, or else `built` in the build.
std::string installed_or_built(const std::string& name, const std::string& built);
// The program so named: in bin_dir (a variant's or --bin-dir) when given,
// else installed or built.
std::string executable_for(const std::string& name, const std::string& bin_dir);

}  // namespace suite_run
