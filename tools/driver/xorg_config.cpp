#include "driver/xorg_config.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <utility>

#include "common/files.h"
#include "common/text.h"
#include "driver/driver.h"

namespace driver {

namespace {

constexpr std::size_t most_cards = 64;
constexpr std::size_t most_entries = 4096;  // of sys/class/drm, read before giving up
constexpr std::size_t value_cap = 256;      // an id, a driver's name, a model

std::string trimmed(std::string_view text) {
    const auto space = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    while (!text.empty() && space(text.front())) text.remove_prefix(1);
    while (!text.empty() && space(text.back())) text.remove_suffix(1);
    return common::valid_utf8(text.substr(0, value_cap));
}

// A file's text, at most cap bytes; "" when it cannot be read as a file.
std::string read_small(const std::string& path, std::size_t cap = 4096) {
    const common::Opened opened = common::open_regular(path, true);
    if (!opened.fd) return "";
    bool more = false;
    std::string problem;
    return common::read_capped(opened.fd, cap, more, problem).value_or("");
}

// The last component of where a symbolic link points; "" for no link.
std::string link_name(const std::string& path) {
    char target[PATH_MAX];
    const ssize_t n = readlink(path.c_str(), target, sizeof target);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof target) return "";
    std::string_view t(target, static_cast<std::size_t>(n));
    while (!t.empty() && t.back() == '/') t.remove_suffix(1);
    const auto slash = t.rfind('/');
    if (slash != std::string_view::npos) t.remove_prefix(slash + 1);
    return t == "." || t == ".." ? "" : trimmed(t);
}

// A hexadecimal field of exactly `digits` digits (at least 4 for the domain).
bool hex_field(std::string_view text, std::size_t digits, unsigned& value) {
    if (text.empty() || (digits && text.size() != digits) || text.size() > 8) return false;
    const auto [end, e] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    return e == std::errc() && end == text.data() + text.size();
}

struct pci_parts {
    unsigned domain = 0, bus = 0, device = 0, function = 0;
};

// "DDDD:BB:DD.F" in hexadecimal, as the kernel names a PCI device.
std::optional<pci_parts> parse_pci(std::string_view a) {
    const auto c1 = a.find(':'), c2 = a.rfind(':'), dot = a.rfind('.');
    if (c1 == std::string_view::npos || c1 == c2 || dot == std::string_view::npos || dot < c2)
        return std::nullopt;
    pci_parts p;
    if (c1 < 4 || !hex_field(a.substr(0, c1), 0, p.domain) ||
        !hex_field(a.substr(c1 + 1, c2 - c1 - 1), 2, p.bus) ||
        !hex_field(a.substr(c2 + 1, dot - c2 - 1), 2, p.device) ||
        !hex_field(a.substr(dot + 1), 1, p.function) || p.device > 31 || p.function > 7)
        return std::nullopt;
    return p;
}

// The card numbers under sys/class/drm: "card" and digits only, so that
// connectors ("card0-HDMI-A-1") and render nodes are left out.
std::vector<unsigned> card_numbers(const std::string& folder) {
    std::vector<unsigned> cards;
    DIR* d = opendir(folder.c_str());
    if (!d) return cards;
    std::size_t seen = 0;
    while (const dirent* e = readdir(d)) {
        if (++seen > most_entries) break;
        const std::string_view name(e->d_name);
        if (name.size() < 5 || name.size() > 10 || name.substr(0, 4) != "card") continue;
        unsigned n = 0;
        const auto [end, err] = std::from_chars(name.data() + 4, name.data() + name.size(), n);
        if (err == std::errc() && end == name.data() + name.size() && name[4] != '+')
            cards.push_back(n);
    }
    closedir(d);
    std::sort(cards.begin(), cards.end());
    cards.erase(std::unique(cards.begin(), cards.end()), cards.end());
    if (cards.size() > most_cards) cards.resize(most_cards);
    return cards;
}

// The "Model:" line of NVIDIA's own description of the card at this address.
std::optional<std::string> nvidia_model(const std::string& root, const std::string& address) {
    const std::string text =
        read_small(root + "/proc/driver/nvidia/gpus/" + address + "/information", 16384);
    std::size_t at = 0;
    while (at < text.size()) {
        const auto end = std::min(text.find('\n', at), text.size());
        const std::string_view line(text.data() + at, end - at);
        if (line.substr(0, 6) == "Model:") return trimmed(line.substr(6));
        at = end + 1;
    }
    return std::nullopt;
}

gpu read_card(const std::string& root, unsigned number) {
    gpu g;
    g.card = "card" + std::to_string(number);
    const std::string device = root + "/sys/class/drm/" + g.card + "/device";
    g.vendor_id = trimmed(read_small(device + "/vendor"));
    g.device_id = trimmed(read_small(device + "/device"));
    g.kernel_driver = link_name(device + "/driver");
    const std::string address = link_name(device);
    if (parse_pci(address)) g.pci_address = address;
    if (g.kernel_driver == "nvidia" && !g.pci_address.empty())
        g.model = nvidia_model(root, g.pci_address);
    return g;
}

// Which card the server drives: NVIDIA's driver, then a PCI card, then any
// card with a driver bound (a platform one); none without.
int rank(const gpu& g) {
    if (g.kernel_driver.empty()) return 0;
    if (g.kernel_driver == "nvidia" && !g.pci_address.empty()) return 3;
    return g.pci_address.empty() ? 1 : 2;
}

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

// A name from the kernel as the config may show it: letters, digits, "._-".
std::string plain(const std::string& name) {
    std::string shown = name;
    for (char& c : shown)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '_' && c != '-') c = '?';
    return shown;
}

std::string option(const std::string& name, const std::string& value) {
    return "    Option " + quoted(name) + " " + quoted(value) + "\n";
}

// Nothing hot-plugged and nothing of the consoles: no switching to another
// one, no key that ends the server, no blanking (a blanked screen may
// change how a GPU paces frames).
std::string server_flags() {
    std::string s = "Section \"ServerFlags\"\n";
    for (const char* name : {"AutoAddDevices", "AutoEnableDevices", "AutoAddGPU"})
        s += option(name, "false");
    for (const char* name : {"DontVTSwitch", "DontZap", "DontZoom"}) s += option(name, "true");
    for (const char* name : {"BlankTime", "StandbyTime", "SuspendTime", "OffTime"})
        s += option(name, "0");
    return s + "EndSection\n\n";
}

std::string device_section(const gpu* g) {
    std::string s = "Section \"Device\"\n    Identifier \"gpu\"\n";
    if (!g) return s + "    Driver \"dummy\"\n    VideoRam 65536\nEndSection\n\n";
    const std::string bus = xorg_bus_id(g->pci_address);
    if (g->kernel_driver == "nvidia") {
        s += "    Driver \"nvidia\"\n" + option("AllowEmptyInitialConfiguration", "true");
    } else {
        s += "    Driver \"modesetting\"\n" + option("kmsdev", "/dev/dri/" + g->card);
    }
    if (!bus.empty()) s += "    BusID " + quoted(bus) + "\n";
    return s + "EndSection\n\n";
}

std::string screen_sections(bool dummy) {
    const std::string w = std::to_string(screen_width), h = std::to_string(screen_height);
    std::string s;
    // The dummy driver shows only modes its monitor allows: one of ordinary
    // blanking at 60 Hz, in ranges wide enough for it.
    if (dummy)
        s += "Section \"Monitor\"\n    Identifier \"monitor\"\n    HorizSync 5.0-1000.0\n"
             "    VertRefresh 5.0-200.0\n    Modeline " + quoted(w + "x" + h) +
             " 216.50 1600 1720 1888 2176 1600 1603 1613 1658 -hsync +vsync\nEndSection\n\n";
    s += "Section \"Screen\"\n    Identifier \"screen\"\n    Device \"gpu\"\n";
    if (dummy) s += "    Monitor \"monitor\"\n";
    s += "    DefaultDepth 24\n    SubSection \"Display\"\n        Depth 24\n";
    if (dummy) s += "        Modes " + quoted(w + "x" + h) + "\n";
    return s + "        Virtual " + w + " " + h + "\n    EndSubSection\nEndSection\n\n";
}

// Without these the server would open a keyboard and mouse of its own
// (the console's); "void" reads nothing, and where no such driver is
// installed the device is left out.
std::string input_and_layout() {
    std::string s;
    for (const char* name : {"no keyboard", "no pointer"})
        s += "Section \"InputDevice\"\n    Identifier " + quoted(name) +
             "\n    Driver \"void\"\nEndSection\n\n";
    return s + "Section \"ServerLayout\"\n    Identifier \"private\"\n    Screen \"screen\"\n"
               "    InputDevice \"no keyboard\" \"CoreKeyboard\"\n"
               "    InputDevice \"no pointer\" \"CorePointer\"\nEndSection\n";
}

}  // namespace

std::string system_root() {
    const char* root = std::getenv("SUITE_SYSFS_ROOT");
    std::string r = root && *root ? root : "/";
    while (r.size() > 1 && r.back() == '/') r.pop_back();
    return r == "/" ? "" : r;
}

std::vector<gpu> find_gpus(const std::string& root) {
    std::vector<gpu> found;
    for (const unsigned n : card_numbers(root + "/sys/class/drm")) found.push_back(read_card(root, n));
    return found;
}

std::string xorg_bus_id(const std::string& pci_address) {
    const auto p = parse_pci(pci_address);
    if (!p) return "";
    std::string bus = "PCI:" + std::to_string(p->bus);
    if (p->domain) bus += "@" + std::to_string(p->domain);
    return bus + ":" + std::to_string(p->device) + ":" + std::to_string(p->function);
}

std::string xorg_config_text(const std::vector<gpu>& gpus) {
    const gpu* chosen = nullptr;
    for (const gpu& g : gpus)
        if (rank(g) > 0 && (!chosen || rank(g) > rank(*chosen))) chosen = &g;
    std::string text = "# A private server for suite-run: ";
    text += chosen ? chosen->card + " (" + plain(chosen->kernel_driver) + ")" : "no GPU, software only";
    text += "\n\n" + server_flags() + device_section(chosen) + screen_sections(!chosen);
    return text + input_and_layout();
}

}  // namespace driver
