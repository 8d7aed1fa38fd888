// The GPUs the kernel lists, and the config a private Xorg gets for them:
// the vendor's driver for an NVIDIA card, modesetting for another DRM card,
// the dummy driver (software, as Xvfb) without one. Every file read here is
// the kernel's, or a test's stand-in for it: read bounded, never trusted.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace driver {

// A GPU as /sys/class/drm/cardN/device describes it.
struct gpu {
    std::string card;                 // "card0"
    std::string vendor_id, device_id;  // as the kernel writes them: "0x10de"
    std::string kernel_driver;        // "nvidia", "amdgpu"; "" when none is bound
    std::string pci_address;          // "0000:01:00.0"; "" when not on PCI
    std::optional<std::string> model;  // where the vendor's driver tells it
};

// What /sys and /proc are read under: $SUITE_SYSFS_ROOT without its
// trailing slashes; "" for "/" or when unset.
std::string system_root();

// Every GPU under root's sys/class/drm, by card number; at most 64.
std::vector<gpu> find_gpus(const std::string& root);

// Xorg's BusID for a PCI address ("0000:01:00.0" is "PCI:1:0:0", decimal);
// "" when the text is not one.
std::string xorg_bus_id(const std::string& pci_address);

// The whole config: one screen of screen_width by screen_height on the GPU
// chosen (NVIDIA's driver first, then a PCI card, then any bound card; the
// dummy driver without one), no input device, nothing done to consoles.
std::string xorg_config_text(const std::vector<gpu>& gpus);

}  // namespace driver
