// The desktop's facts, read from the root window's properties and the
// server's extensions; the screen saver's and power saving's hold.
#include "driver/desktop.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>
#include <X11/extensions/dpms.h>
#include <X11/extensions/scrnsaver.h>

#include <stdexcept>

#include "driver/driver.h"

namespace driver {

namespace {
// A window manager's name is short; a longer one is cut, not trusted whole.
constexpr long name_cap_longs = 256;

// The window a WINDOW-typed property of w names, or 0.
::Window window_property(Display* d, ::Window w, const char* name) {
    Atom type = None;
    int format = 0;
    unsigned long n = 0, after = 0;
    unsigned char* data = nullptr;
    ::Window found = 0;
    if (XGetWindowProperty(d, w, XInternAtom(d, name, False), 0, 1, False, XA_WINDOW, &type,
                           &format, &n, &after, &data) == Success &&
        type == XA_WINDOW && format == 32 && n == 1)
        found = *reinterpret_cast<::Window*>(data);
    if (data) XFree(data);
    return found;
}

// The EWMH window manager's name: its check window must name itself, or
// the property is a dead manager's leftover.
std::optional<std::string> window_manager(Display* d) {
    const ::Window root = DefaultRootWindow(d);
    const ::Window check = window_property(d, root, "_NET_SUPPORTING_WM_CHECK");
    if (!check || window_property(d, check, "_NET_SUPPORTING_WM_CHECK") != check) {
        forgive_x("the window manager's check window");
        return std::nullopt;
    }
    Atom type = None;
    int format = 0;
    unsigned long n = 0, after = 0;
    unsigned char* data = nullptr;
    std::optional<std::string> name;
    const Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
    if (XGetWindowProperty(d, check, XInternAtom(d, "_NET_WM_NAME", False), 0, name_cap_longs,
                           False, utf8, &type, &format, &n, &after, &data) == Success &&
        type == utf8 && format == 8)
        name = std::string(reinterpret_cast<char*>(data), n);
    if (data) XFree(data);
    forgive_x("the window manager's name");
    return name;
}

bool compositor_present(Display* d) {
    const std::string selection = "_NET_WM_CM_S" + std::to_string(DefaultScreen(d));
    return XGetSelectionOwner(d, XInternAtom(d, selection.c_str(), False)) != None;
}

double mode_rate(const XRRModeInfo& m) {
    double lines = m.vTotal;
    if (m.modeFlags & RR_DoubleScan) lines *= 2;
    if (m.modeFlags & RR_Interlace) lines /= 2;
    return m.hTotal && lines > 0 ? static_cast<double>(m.dotClock) / (m.hTotal * lines) : 0;
}

// The current mode's rate on the primary output, else the first lit one.
std::optional<double> refresh_rate(Display* d) {
    int event = 0, error = 0;
    if (!XRRQueryExtension(d, &event, &error)) return std::nullopt;
    const ::Window root = DefaultRootWindow(d);
    XRRScreenResources* res = XRRGetScreenResourcesCurrent(d, root);
    if (!res) return std::nullopt;
    const RROutput primary = XRRGetOutputPrimary(d, root);
    std::optional<double> rate;
    for (int pass = 0; pass < 2 && !rate; ++pass)
        for (int i = 0; i < res->noutput && !rate; ++i) {
            if (pass == 0 && res->outputs[i] != primary) continue;
            XRROutputInfo* out = XRRGetOutputInfo(d, res, res->outputs[i]);
            XRRCrtcInfo* crtc = out && out->crtc ? XRRGetCrtcInfo(d, res, out->crtc) : nullptr;
            for (int m = 0; crtc && m < res->nmode; ++m)
                if (res->modes[m].id == crtc->mode && mode_rate(res->modes[m]) > 0)
                    rate = mode_rate(res->modes[m]);
            if (crtc) XRRFreeCrtcInfo(crtc);
            if (out) XRRFreeOutputInfo(out);
        }
    XRRFreeScreenResources(res);
    forgive_x("the display's refresh");
    return rate;
}
}  // namespace

bool is_xwayland(Display* d) {
    int opcode = 0, event = 0, error = 0;
    return XQueryExtension(d, "XWAYLAND", &opcode, &event, &error);
}

std::optional<desktop_facts> describe_desktop(const std::string& display) {
    Display* d = open_display(display);
    if (!d) return std::nullopt;
    desktop_facts f;
    try {
        f.vendor = ServerVendor(d) ? ServerVendor(d) : "";
        f.release = VendorRelease(d);
        f.width = DisplayWidth(d, DefaultScreen(d));
        f.height = DisplayHeight(d, DefaultScreen(d));
        f.window_manager = window_manager(d);
        f.compositor = compositor_present(d);
        f.xwayland = is_xwayland(d);
        f.refresh_hz = refresh_rate(d);
    } catch (...) {
        XCloseDisplay(d);
        throw;
    }
    XCloseDisplay(d);
    return f;
}

ScreenSaverHold::ScreenSaverHold(const std::string& display) : display_(open_display(display)) {
    if (!display_) throw std::runtime_error("cannot open display " + display);
    if (is_xwayland(display_)) {
        what_ = "the screen saver and power saving belong to the Wayland compositor: not held off";
        return;
    }
    int event = 0, error = 0;
    suspended_ = XScreenSaverQueryExtension(display_, &event, &error);
    if (suspended_) XScreenSaverSuspend(display_, True);
    what_ = suspended_ ? "suspended" : "not suspended: the server has no screen saver extension";
    CARD16 level = 0;
    BOOL enabled = False;
    if (!DPMSQueryExtension(display_, &event, &error) || !DPMSCapable(display_))
        what_ += "; the server has no display power saving";
    else if (!DPMSInfo(display_, &level, &enabled) || !enabled)
        what_ += "; power saving was off";
    else if ((power_saving_off_ = DPMSDisable(display_)))
        what_ += "; power saving off for the run and put back";
    else
        what_ += "; power saving could not be turned off";
    XSync(display_, False);
    forgive_x("holding off the screen saver");
}

ScreenSaverHold::~ScreenSaverHold() {
    if (!display_) return;
    if (power_saving_off_) DPMSEnable(display_);
    if (suspended_) XScreenSaverSuspend(display_, False);
    XSync(display_, False);
    XCloseDisplay(display_);
}

}  // namespace driver
