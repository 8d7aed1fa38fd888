// The private Xorg's config and the GPUs it is written for, read from fake
// /sys and /proc trees laid out as the kernel lays them out.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "driver/xorg_config.h"

namespace fs = std::filesystem;

namespace {

class XorgConfig : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/xorg-config-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        root = name;
    }
    void TearDown() override { fs::remove_all(root); }
    // cardN whose device is the PCI function at address, bound to driver; a
    // connector beside it is no GPU of its own.
    std::string card(int n, const std::string& address, const std::string& driver) {
        const std::string device = root + "/sys/devices/pci0000:00/" + address;
        const std::string drm = root + "/sys/class/drm/card" + std::to_string(n);
        fs::create_directories(device);
        fs::create_directories(drm);
        fs::create_directories(drm + "-DP-1");
        std::ofstream(device + "/vendor") << "0x10de\n";
        fs::create_symlink("../../../bus/pci/drivers/" + driver, device + "/driver");
        fs::create_directory_symlink("../../../devices/pci0000:00/" + address, drm + "/device");
        return device;
    }
    std::string config() { return driver::xorg_config_text(driver::find_gpus(root)); }
    std::string root;
};

bool has(const std::string& text, const std::string& line) {
    return text.find(line) != std::string::npos;
}

TEST_F(XorgConfig, NvidiaAmdgpuBothAndNone) {
    for (int step = 0; step < 3; ++step) {
        if (step == 1) card(1, "0000:03:00.0", "amdgpu");
        if (step == 2) card(0, "0000:0a:00.0", "nvidia");
        const std::string text = config();
        for (const char* line : {"Option \"AutoAddDevices\" \"false\"", "Option \"AutoAddGPU\" "
                                 "\"false\"", "Virtual 1600 1600", "\"no pointer\" \"CorePointer\""})
            EXPECT_TRUE(has(text, line)) << line << " in\n" << text;
        EXPECT_EQ(has(text, "Driver \"dummy\"") && has(text, "VideoRam"), step == 0) << text;
        EXPECT_EQ(has(text, "Option \"kmsdev\" \"/dev/dri/card1\"") && has(text, "BusID \"PCI:3:0:0\""),
                  step == 1) << text;
        EXPECT_EQ(has(text, "Driver \"nvidia\"") && has(text, "BusID \"PCI:10:0:0\"") &&
                      has(text, "Option \"AllowEmptyInitialConfiguration\" \"true\""),
                  step == 2) << text;
    }
    EXPECT_EQ(driver::xorg_bus_id("0001:81:1f.7"), "PCI:129@1:31:7");
    EXPECT_EQ(driver::xorg_bus_id("0000:0a:00"), "");
}

// What the tree holds is never trusted: a FIFO, a link loop, a name that
// would add lines to the config, a card number past any integer.
TEST_F(XorgConfig, HostileTreeReadsAsData) {
    const std::string device = card(2, "0000:01:00.0", "evil\nSection \"Files\"");
    fs::remove(device + "/vendor");
    ASSERT_EQ(mkfifo((device + "/vendor").c_str(), 0600), 0);
    fs::create_symlink("device", device + "/device");
    fs::create_directories(root + "/sys/class/drm/card99999999999");
    fs::create_directory_symlink("/nowhere", root + "/sys/class/drm/card3");
    const auto gpus = driver::find_gpus(root);
    ASSERT_EQ(gpus.size(), 2u);
    EXPECT_EQ(gpus[0].vendor_id + gpus[0].device_id, "");
    EXPECT_EQ(gpus[0].kernel_driver, "evil\nSection \"Files\"");
    EXPECT_EQ(gpus[1].card + gpus[1].kernel_driver, "card3");
    const std::string text = config();
    EXPECT_FALSE(has(text, "\nSection \"Files\"")) << text;
    EXPECT_TRUE(has(text, "Option \"kmsdev\" \"/dev/dri/card2\"")) << text;
}

}  // namespace
