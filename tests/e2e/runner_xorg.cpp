// suite-run on a private Xorg: the dummy driver running the real programs,
// a lost server replaced, a server that cannot start told before any
// program runs, and (on a machine with one) the GPU itself.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "driver/xorg_server.h"
#include "runner_tools.h"

namespace {

using e2e::read_json;
using e2e::read_text;
using e2e::run;

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Why Xorg with the dummy driver cannot run here at all; "" when it can.
std::string xorg_unavailable(const std::string& folder) {
    static const std::string why = [&] {
        std::string problem;
        setenv("SUITE_SYSFS_ROOT", folder.c_str(), 1);
        try {
            driver::PrivateXorg(folder, "").start();
        } catch (const std::exception& e) {
            problem = "Xorg cannot run here: " + std::string(e.what());
        }
        unsetenv("SUITE_SYSFS_ROOT");
        return problem;
    }();
    return why;
}

class RunnerXorg : public e2e::RunnerSession {
protected:
    void SetUp() override {
        e2e::RunnerSession::SetUp();
        // No GPU in this tree: the dummy driver whatever the machine has.
        no_gpu = directory + "/no-gpu";
        mkdir(no_gpu.c_str(), 0755);
        const std::string probe = directory + "/probe";
        mkdir(probe.c_str(), 0755);
        const std::string why = xorg_unavailable(probe);
        if (!why.empty()) GTEST_SKIP() << why;
    }
    std::string xorg_runner(const std::string& env, const std::string& args) const {
        return env + " " + runner("--server xorg " + args);
    }
    std::string no_gpu;
};

TEST_F(RunnerXorg, DummyDriverRunsAllThreeAndKeepsConfigAndLog) {
    const std::string out = directory + "/run";
    const auto r = run(xorg_runner("SUITE_SYSFS_ROOT='" + no_gpu + "'",
                                   "--frames 1 --size 64x64 --out '" + out +
                                       "' cube screens triangles"));
    ASSERT_EQ(r.status, 0) << r.output;
    const auto all = read_json(out + "/run.json");
    EXPECT_EQ(all["display"].value("kind", ""), "private Xorg");
    EXPECT_TRUE(all["machine"]["gpus"].is_array() && all["machine"]["gpus"].empty());
    EXPECT_FALSE(all["gl"].contains("error")) << all["gl"].dump();
    ASSERT_EQ(all["programs"].size(), 3u);
    for (const std::string name : {"cube", "screens", "triangles"})
        EXPECT_EQ(read_json(out + "/" + name + "/metadata.json")["display"].value("kind", ""),
                  "private Xorg");
    EXPECT_TRUE(contains(read_text(out + "/xorg.conf"), "Driver \"dummy\""));
    EXPECT_TRUE(contains(read_text(out + "/xorg.log"), "LoadModule: \"dummy\""));
}

// The server killed under the first program: that program fails, the next
// gets a new server with a log of its own.
TEST_F(RunnerXorg, LostServerIsReplacedWithANewLog) {
    const std::string bin = stand_ins();
    e2e::write_script(bin + "/cube",
                      "'" HANG_STUB_EXE "' 'OPENGL Cube' & sleep 1\n"
                      "for p in $(cat /proc/$PPID/task/*/children); do\n"
                      "  [ \"$(cat /proc/$p/comm)\" = Xorg ] && kill -9 $p\n"
                      "done\nwait");
    e2e::write_script(bin + "/screens", "exec '" SCREENS_EXE "'");
    const std::string out = directory + "/run";
    const auto r = run(xorg_runner("SUITE_SYSFS_ROOT='" + no_gpu + "'",
                                   "--frames 1 --size 64x64 --hang-after 20 --bin-dir '" + bin +
                                       "' --out '" + out + "' cube screens"));
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_TRUE(contains(r.output, "FAILED: cube: the X server was lost")) << r.output;
    EXPECT_TRUE(contains(r.output, "starting a new one")) << r.output;
    EXPECT_EQ(read_json(out + "/run.json")["programs"][1].value("problem", "?"), "") << r.output;
    EXPECT_TRUE(contains(read_text(out + "/xorg.log"), "LoadModule: \"dummy\""));
    EXPECT_TRUE(contains(read_text(out + "/xorg-2.log"), "LoadModule: \"dummy\""));
}

// A server that cannot start ends the run before any program: a driver
// that is not installed, NVIDIA's for a card the tree lists, Xorg not on
// PATH. Each message says what is wrong and what to install.
TEST_F(RunnerXorg, ServerThatCannotStartIsToldBeforeAnyProgram) {
    const std::string config = directory + "/bad.conf";
    std::ofstream(config) << "Section \"Device\"\n  Identifier \"x\"\n  Driver \"nosuchvideo\"\n"
                             "EndSection\n";
    std::string out = directory + "/bad";
    auto r = run(xorg_runner("", "--xorg-config '" + config + "' --out '" + out + "' screens"));
    EXPECT_EQ(r.status, 2) << r.output;
    for (const std::string& said : std::vector<std::string>{
             "suite-run: Xorg did not start (exit status ", "the last lines of its log " + out +
          "/xorg.log:\n  ", "Failed to load module \"nosuchvideo\"", "The driver \"nosuchvideo\" "
          "is not installed: install xserver-xorg-video-nosuchvideo"})
        EXPECT_TRUE(contains(r.output, said)) << r.output;
    EXPECT_EQ(read_text(out + "/xorg.conf"), read_text(config));
    EXPECT_FALSE(std::filesystem::exists(out + "/screens"));
    EXPECT_TRUE(contains(read_json(out + "/run.json").value("problem", ""), "Xorg did not start"));

    // A tree with an NVIDIA card: the config is written for it, and
    // machine.gpus lists it with its model.
    const std::string tree = directory + "/tree", info = "/proc/driver/nvidia/gpus/0000:0a:00.0";
    ASSERT_EQ(run("mkdir -p '" + tree + "/sys/class/drm/card0' '" + tree + "/d/0000:0a:00.0' '" +
                  tree + info + "' && cd '" + tree + "' && printf 'IRQ: 9\nModel: T4\n' >." + info +
                  "/information && ln -s ../../../../d/0000:0a:00.0 sys/class/drm/card0/device"
                  " && ln -s /x/nvidia d/0000:0a:00.0/driver && echo ' 0x10de' >d/0000:0a:00.0/vendor")
                  .status, 0);
    out = directory + "/nvidia";
    r = run(xorg_runner("SUITE_SYSFS_ROOT='" + tree + "'", "--out '" + out + "' screens"));
    EXPECT_EQ(r.status, 2) << r.output;
    const std::string written = read_text(out + "/xorg.conf");
    EXPECT_TRUE(contains(written, "Driver \"nvidia\"") && contains(written, "BusID \"PCI:10:0:0\""))
        << written;
    if (!std::filesystem::exists("/usr/lib/xorg/modules/drivers/nvidia_drv.so")) {
        EXPECT_TRUE(contains(r.output, "install the vendor's driver")) << r.output;
    }
    EXPECT_EQ(read_json(out + "/run.json")["machine"]["gpus"].dump(),
              R"([{"card":"card0","device_id":"","driver":"nvidia","model":"T4","vendor_id":"0x10de"}])");

    out = directory + "/no-xorg";
    r = run(xorg_runner("PATH=/nonexistent", "--out '" + out + "' screens"));
    EXPECT_EQ(r.status, 2) << r.output;
    EXPECT_TRUE(contains(r.output, "Xorg was not found in PATH: install xserver-xorg-core, and "
                                   "xserver-xorg-video-dummy")) << r.output;
    EXPECT_FALSE(std::filesystem::exists(out + "/screens"));
}

// The GPU's own path: NVIDIA's driver or modesetting, rendering done by the
// GPU. Where there is none, what a GPU owner runs is: SUITE_GPU_TESTS=1
// ctest -R RunnerXorg.RealGpu
TEST_F(RunnerXorg, RealGpu) {
    const char* asked = std::getenv("SUITE_GPU_TESTS");
    bool card = false;
    for (int n = 0; n < 8 && !card; ++n)
        card = std::filesystem::exists("/sys/class/drm/card" + std::to_string(n) + "/device/driver");
    if (!card && !(asked && std::string(asked) == "1"))
        GTEST_SKIP() << "no DRM card here (set SUITE_GPU_TESTS=1 to run it anyway)";
    const std::string out = directory + "/run";
    const auto r = run(xorg_runner("", "--frames 2 --size 200x200 --out '" + out + "' screens"));
    ASSERT_EQ(r.status, 0) << r.output;
    const auto all = read_json(out + "/run.json");
    ASSERT_FALSE(all["machine"]["gpus"].empty());
    const std::string config = read_text(out + "/xorg.conf");
    EXPECT_TRUE(contains(config, "Driver \"nvidia\"") || contains(config, "Driver \"modesetting\""))
        << config;
    const std::string renderer = all["gl"].value("renderer", "");
    for (const char* software : {"llvmpipe", "softpipe", "swrast"})
        EXPECT_FALSE(contains(renderer, software)) << renderer;
    EXPECT_FALSE(all["gl"].value("software", false));
    EXPECT_TRUE(all["display"].value("direct", true));
}

}  // namespace
