// A private Xorg, for a machine with a GPU and no desktop: started on a free
// display number with its config and log in the run folder, on no console
// (-sharevts -novtswitch) and with no input device of the machine's, so a
// person at the machine neither sees it take a console nor types into it.
#pragma once

#include <memory>
#include <string>

#include "driver/driver.h"

namespace driver {

class PrivateXorg {
public:
    // Writes FOLDER/xorg.conf: a copy of config_file when one is given, else
    // one for the GPUs found under system_root(). Throws std::runtime_error
    // when the file cannot be read or written.
    PrivateXorg(const std::string& folder, const std::string& config_file);

    // A new server: its log is FOLDER/xorg.log, then xorg-2.log, ... Throws
    // std::runtime_error saying why it did not start, with the log's last
    // lines and what to install or which permission is missing.
    std::unique_ptr<XServer> start();

    const std::string& config_path() const { return config_; }

private:
    std::string folder_, config_, config_text_;
    int started_ = 0;
};

}  // namespace driver
