// The private Xorg's config and the GPUs it is written for, read from fake
// /sys and /proc trees laid out as the kernel lays them out.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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

    void write(const std::string& path, const std::string& text) {
        fs::create_directories(fs::path(root + path).parent_path());
        std::ofstream(root + path) << text;
    }
    // cardN whose device is the PCI function at address, bound to driver.
    void card(int n, const std::string& address, const std::string& driver,
              const std::string& vendor) {
        const std::string device = "/sys/devices/pci0000:00/" + address;
        write(device + "/vendor", vendor + "\n");
        write(device + "/device", "0x2204\n");
        fs::create_directory_symlink("../../../bus/pci/drivers/" + driver, root + device + "/driver");
        const std::string drm = "/sys/class/drm/card" + std::to_string(n);
        fs::create_directories(root + drm);
        fs::create_directory_symlink("../../../devices/pci0000:00/" + address, root + drm + "/device");
        // A connector and a render node beside it are no GPUs of their own.
        fs::create_directories(root + drm + "-DP-1");
        fs::create_directories(root + "/sys/class/drm/renderD12" + std::to_string(8 + n));
    }
    void nvidia_card() {
        card(0, "0000:0a:00.0", "nvidia", "0x10de");
        write("/proc/driver/nvidia/gpus/0000:0a:00.0/information",
              "Model: \t\t NVIDIA GeForce RTX 3090 \nIRQ:   42\n");
    }
    static bool has(const std::string& text, const std::string& line) {
        return text.find(line) != std::string::npos;
    }
    std::string root;
};

void expect_private_server(const std::string& text) {
    EXPECT_NE(text.find("Option \"AutoAddDevices\" \"false\""), std::string::npos) << text;
    EXPECT_NE(text.find("Option \"AutoAddGPU\" \"false\""), std::string::npos) << text;
    EXPECT_NE(text.find("Virtual 1600 1600"), std::string::npos) << text;
    EXPECT_NE(text.find("InputDevice \"no keyboard\" \"CoreKeyboard\""), std::string::npos);
}

TEST_F(XorgConfig, NvidiaAmdgpuBothAndNone) {
    // None: no card, or no drm folder at all.
    EXPECT_TRUE(driver::find_gpus(root).empty());
    std::string text = driver::xorg_config_text(driver::find_gpus(root));
    EXPECT_TRUE(has(text, "Driver \"dummy\"") && has(text, "VideoRam") &&
                has(text, "Modes \"1600x1600\"")) << text;
    EXPECT_FALSE(has(text, "BusID"));
    expect_private_server(text);

    card(1, "0000:03:00.0", "amdgpu", "0x1002");
    auto gpus = driver::find_gpus(root);
    ASSERT_EQ(gpus.size(), 1u);
    EXPECT_EQ(gpus[0].card, "card1");
    EXPECT_EQ(gpus[0].kernel_driver, "amdgpu");
    EXPECT_FALSE(gpus[0].model);
    text = driver::xorg_config_text(gpus);
    EXPECT_TRUE(has(text, "Driver \"modesetting\"") &&
                has(text, "Option \"kmsdev\" \"/dev/dri/card1\"") &&
                has(text, "BusID \"PCI:3:0:0\"")) << text;
    expect_private_server(text);

    nvidia_card();  // both: NVIDIA's driver is the one the server gets
    gpus = driver::find_gpus(root);
    ASSERT_EQ(gpus.size(), 2u);
    EXPECT_EQ(gpus[0].card, "card0");
    EXPECT_EQ(gpus[0].vendor_id, "0x10de");
    EXPECT_EQ(gpus[0].device_id, "0x2204");
    EXPECT_EQ(gpus[0].pci_address, "0000:0a:00.0");
    EXPECT_EQ(gpus[0].model.value_or(""), "NVIDIA GeForce RTX 3090");
    text = driver::xorg_config_text(gpus);
    EXPECT_TRUE(has(text, "Driver \"nvidia\"") && has(text, "BusID \"PCI:10:0:0\"") &&
                has(text, "Option \"AllowEmptyInitialConfiguration\" \"true\"")) << text;
    EXPECT_FALSE(has(text, "modesetting"));
    expect_private_server(text);
    EXPECT_EQ(driver::xorg_bus_id("0001:81:1f.7"), "PCI:129@1:31:7");
    EXPECT_EQ(driver::xorg_bus_id("0000:0a:00"), "");
}

// What the tree holds is never trusted: a FIFO, a link loop, a name that
// would add lines to the config, a card number past any integer.
TEST_F(XorgConfig, HostileTreeReadsAsData) {
    const std::string device = "/sys/devices/pci0000:00/0000:01:00.0";
    fs::create_directories(root + device);
    ASSERT_EQ(mkfifo((root + device + "/vendor").c_str(), 0600), 0);
    fs::create_symlink("device", root + device + "/device");
    fs::create_symlink("drivers/evil\nSection \"Files\"", root + device + "/driver");
    fs::create_directories(root + "/sys/class/drm/card2");
    fs::create_directory_symlink("../../../devices/pci0000:00/0000:01:00.0",
                                 root + "/sys/class/drm/card2/device");
    fs::create_directories(root + "/sys/class/drm/card99999999999");
    fs::create_directory_symlink("/nowhere", root + "/sys/class/drm/card3");
    const auto gpus = driver::find_gpus(root);
    ASSERT_EQ(gpus.size(), 2u);
    EXPECT_EQ(gpus[0].vendor_id, "");
    EXPECT_EQ(gpus[0].device_id, "");
    EXPECT_EQ(gpus[0].kernel_driver, "evil\nSection \"Files\"");
    EXPECT_EQ(gpus[1].card, "card3");
    EXPECT_EQ(gpus[1].kernel_driver, "");
    const std::string text = driver::xorg_config_text(gpus);
    EXPECT_FALSE(has(text, "\nSection \"Files\"")) << text;
    EXPECT_TRUE(has(text, "Option \"kmsdev\" \"/dev/dri/card2\"")) << text;
}

}  // namespace
