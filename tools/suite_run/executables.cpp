#include "suite_run/executables.h"

#include <unistd.h>

#include <filesystem>

namespace fs = std::filesystem;

namespace suite_run {

namespace {

// The runner's own folder, where an install puts the programs beside it;
// empty when it cannot be read (never the working directory).
fs::path own_folder() {
    std::error_code e;
    const fs::path self = fs::read_symlink("/proc/self/exe", e);
    return e ? fs::path() : self.parent_path();
}

}  // namespace

// An installed runner must use the programs installed beside it, even when
// the folder it was built in still exists.
std::string installed_or_built(const std::string& name, const std::string& built) {
    const fs::path folder = own_folder();
    if (!folder.empty()) {
        const fs::path beside = folder / name;
        std::error_code e;
        if (fs::is_regular_file(beside, e) && access(beside.c_str(), X_OK) == 0)
            return beside.string();
    }
    return std::string(BUILD_DIR) + "/" + built;
}

std::string executable_for(const std::string& name, const std::string& bin_dir) {
    if (!bin_dir.empty()) return fs::absolute(fs::path(bin_dir) / name).string();
    return installed_or_built(name, name + "/" + name);
}

}  // namespace suite_run
