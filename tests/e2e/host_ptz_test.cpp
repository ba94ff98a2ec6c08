// `tavrin-host ptz` against the bundled simulator: presets outlive the process.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <filesystem>
#include <string>

#include "camsim/camera.h"
#include "support/media.h"

namespace {

const std::string kHost = std::string(TAVRIN_BINARY_DIR) + "/tools/tavrin-host";

// The preset file the driver keeps for `mac` (beside the plug-in). Each case names its own MAC:
// cases run in parallel, and one case removing another's file breaks it.
std::string PresetFile(const std::string& mac) {
    return std::string(TAVRIN_BINARY_DIR) + "/tools/Sanyo_" + mac + ".preset";
}

// Runs tavrin-host ptz with `arguments`; returns its exit status and fills `output`.
int RunPtz(const std::string& arguments, const std::string& scratch, std::string& output) {
    const std::string out = scratch + "/ptz.txt";
    const int status =
        std::system(("'" + kHost + "' ptz " + arguments + " > '" + out + "' 2>&1").c_str());
    output = test::ReadText(out);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST(HostPtz, PresetAddedInOneRunIsRecalledInTheNext) {
    const std::string scratch = test::OutputDir();
    const std::string presets = PresetFile("E2EHOSTPTZ");
    std::filesystem::remove(presets);
    std::string output;
    ASSERT_EQ(RunPtz("--mac E2EHOSTPTZ --preset-add A", scratch, output), 0) << output;
    EXPECT_NE(output.find("preset-add A"), std::string::npos) << output;
    EXPECT_NE(output.find("/cgi-bin/opecmd.cgi?ope=8&registration=1"), std::string::npos) << output;
    EXPECT_NE(test::ReadText(presets).find("<Name value='A'/>"), std::string::npos);

    ASSERT_EQ(RunPtz("--mac E2EHOSTPTZ --preset-goto A --preset-list", scratch, output), 0) << output;
    EXPECT_NE(output.find("/cgi-bin/opecmd.cgi?ope=11&execution=1"), std::string::npos) << output;
    EXPECT_NE(output.find("  0 A"), std::string::npos) << output;

    EXPECT_EQ(RunPtz("--mac E2EHOSTPTZ --preset-goto B --move 3 --for 0 --speed 4", scratch, output), 1) << output;
    EXPECT_NE(output.find("preset-goto B                -23"), std::string::npos) << output;
    EXPECT_NE(output.find("/cgi-bin/opecmd.cgi?ope=51&cmd=7&t_speed=2\n"), std::string::npos)
        << output;
    std::filesystem::remove(presets);
}

// Told group 1 for a zoom-only camera, the driver pans; the camera refuses that and the run fails.
TEST(HostPtz, ARequestTheBundledCameraRefusesFailsTheRun) {
    std::string output;
    EXPECT_EQ(RunPtz("--model VCC-HD4000 --group 1 --mac E2EREFUSEDPTZ --move 0 --for 0 --speed 1",
                     test::OutputDir(), output),
              1)
        << output;
    EXPECT_NE(output.find("move 0"), std::string::npos) << output;
    EXPECT_NE(output.find("camsim: rejected request: /cgi-bin/opecmd.cgi?ope=51&cmd=4&p_speed=1: "),
              std::string::npos)
        << output;
    EXPECT_NE(output.find("the bundled simulator refused 1 request(s)"), std::string::npos)
        << output;
    std::filesystem::remove(PresetFile("E2EREFUSEDPTZ"));
}

// Against a camera of its own (not the bundled one) the host hands over every custom parameter,
// so that the driver reads the MAC that names the preset file.
TEST(HostPtz, MacNamesThePresetFileOfAnExternalCamera) {
    camsim::CameraConfig config;
    config.personality = camsim::Personality::ForModel("VCC-HD5600");
    camsim::Camera camera(config);
    ASSERT_TRUE(camera.Start());
    const std::string presets = PresetFile("E2EEXTPTZ");
    std::filesystem::remove(presets);
    std::string output;
    ASSERT_EQ(RunPtz("--address 127.0.0.1 --port " + std::to_string(camera.HttpPort()) +
                         " --model VCC-HD5600 --mac E2EEXTPTZ --preset-add A",
                     test::OutputDir(), output),
              0)
        << output;
    EXPECT_NE(test::ReadText(presets).find("<Name value='A'/>"), std::string::npos) << output;
    std::filesystem::remove(presets);
}

// Against a camera of its own that answers slowly, the run's last commands (the stop after a move,
// the unzoom) still reach the camera before the host is done.
TEST(HostPtz, TheLastCommandsReachASlowExternalCamera) {
    camsim::CameraConfig config;
    config.personality = camsim::Personality::ForModel("VCC-HD5600");
    camsim::Camera camera(config);
    ASSERT_TRUE(camera.Start());
    camera.SetReplyDelay(100);
    const std::string presets = PresetFile("E2ESLOWPTZ");
    std::string output;
    ASSERT_EQ(RunPtz("--address 127.0.0.1 --port " + std::to_string(camera.HttpPort()) +
                         " --model VCC-HD5600 --mac E2ESLOWPTZ --move 2 --for 0 --speed 4 --unzoom",
                     test::OutputDir(), output),
              0)
        << output;
    EXPECT_EQ(camera.Cgi().Commands(),
              (std::vector<std::string>{"ope=51&cmd=2&t_speed=2", "ope=51&cmd=12", "ope=52&num=1"}))
        << output;
    std::filesystem::remove(presets);
}
