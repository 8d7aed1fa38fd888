// What an X server and the desktop on it are (its maker, window manager,
// compositor, refresh), and the screen saver and power saving held off on a
// user's display for as long as a run lasts.
#pragma once

#include <optional>
#include <string>

struct _XDisplay;

namespace driver {

struct desktop_facts {
    std::string vendor;     // ServerVendor
    long long release = 0;  // VendorRelease
    std::optional<std::string> window_manager;  // the name an EWMH window manager gives itself
    bool compositor = false;                    // a compositing manager holds its selection
    bool xwayland = false;                      // an X server inside a Wayland desktop
    std::optional<double> refresh_hz;           // the primary (else first lit) output's mode
    int width = 0, height = 0;                  // the default screen, in pixels
};

// Nullopt when the display cannot be opened.
std::optional<desktop_facts> describe_desktop(const std::string& display);

// Whether the server is an X server of a Wayland desktop.
bool is_xwayland(_XDisplay* d);

// Holds the screen saver off (on a connection kept open, so the server lifts
// it even if the runner is killed) and turns display power saving off, put
// back on when the object ends. On XWayland both belong to the Wayland
// compositor and nothing is done. Throws std::runtime_error when the display
// cannot be opened.
class ScreenSaverHold {
public:
    explicit ScreenSaverHold(const std::string& display);
    ~ScreenSaverHold();
    ScreenSaverHold(const ScreenSaverHold&) = delete;
    ScreenSaverHold& operator=(const ScreenSaverHold&) = delete;
    // What was done, in words, for the record.
    const std::string& what() const { return what_; }

private:
    _XDisplay* display_ = nullptr;
    bool suspended_ = false, power_saving_off_ = false;
    std::string what_;
};

}  // namespace driver
