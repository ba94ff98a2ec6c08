// The simulator as a separate process: started on fixed ports, stopped with its exit judged, and
// started again on the same ports, as a soak's offline cycle does.
#include "host/camsim_process.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/media.h"

namespace {

using std::chrono::seconds;

// A stand-in simulator: a script that runs the real one and, on SIGTERM, stops it and ends with
// `status` (a sanitizer report ends a program with a status of its own). Its trap is set before
// the simulator starts, so it is in place once the ports accept; it names the simulator by `$!`,
// which the shell sets as it forks: a variable assigned after the fork could still be empty when
// a SIGTERM that came early runs the trap, which would then wait for a simulator never stopped.
std::string WrapperEndingWith(const std::string& dir, int status) {
    const std::string path = dir + "/wrapped-camsim.sh";
    std::ofstream(path) << "#!/bin/sh\ntrap 'kill $!; wait $!; exit " << status << "' TERM\n'"
                        << TAVRIN_CAMSIM_PATH << "' \"$@\" &\nwait $!\n";
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    return path;
}

}  // namespace

TEST(CamsimProcess, StartsStopsCleanlyAndComesBackOnTheSamePorts) {
    const std::string log = test::OutputDir() + "/camsim.log";
    host::CamsimProcess camera(TAVRIN_CAMSIM_PATH, {"--media", test::MediaDir()}, log);
    ASSERT_TRUE(camera.ChoosePorts());
    const uint16_t http = camera.HttpPort();
    std::string error;
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(camera.Start(seconds(20), error)) << error;
        EXPECT_TRUE(camera.Running());
        EXPECT_TRUE(camera.Stop(seconds(10), error)) << error;
        EXPECT_FALSE(camera.Running());
    }
    EXPECT_EQ(camera.HttpPort(), http);
    std::ifstream file(log);
    const std::string text((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("127.0.0.1:" + std::to_string(http)), std::string::npos) << text;
}

TEST(CamsimProcess, ReportsAProgramThatEndsAtStartOrWithAnotherStatus) {
    const std::string dir = test::OutputDir();
    host::CamsimProcess failing("/bin/false", {}, dir + "/false.log");
    ASSERT_TRUE(failing.ChoosePorts());
    std::string error;
    EXPECT_FALSE(failing.Start(seconds(10), error));
    EXPECT_EQ(error, "the simulator ended at start (exit 1)");

    host::CamsimProcess reporting(WrapperEndingWith(dir, 66), {}, dir + "/camsim.log");
    ASSERT_TRUE(reporting.ChoosePorts());
    ASSERT_TRUE(reporting.Start(seconds(10), error)) << error;
    EXPECT_FALSE(reporting.Stop(seconds(10), error));
    EXPECT_EQ(error, "the simulator ended with exit 66");
}

// A run in which the camera refused a request ends with status 3, which fails a soak's cycle.
TEST(CamsimProcess, ARefusedRequestFailsTheRun) {
    const std::string log = test::OutputDir() + "/camsim.log";
    host::CamsimProcess camera(TAVRIN_CAMSIM_PATH, {"--media", test::MediaDir()}, log);
    ASSERT_TRUE(camera.ChoosePorts());
    const auto get = [&](const std::string& target) {
        return test::RunCommand("curl -s -o /dev/null --max-time 5 'http://127.0.0.1:" +
                                std::to_string(camera.HttpPort()) + target + "'");
    };
    std::string error;
    ASSERT_TRUE(camera.Start(seconds(20), error)) << error;
    ASSERT_TRUE(get("/cgi-bin/aspect.cgi?aspect_ratio=1&status=1"));
    EXPECT_TRUE(camera.Stop(seconds(10), error)) << error;
    ASSERT_TRUE(camera.Start(seconds(20), error)) << error;
    ASSERT_TRUE(get("/cgi-bin/aspect.cgi?aspect_ratio=7&status=1"));
    EXPECT_FALSE(camera.Stop(seconds(10), error));
    EXPECT_EQ(error, "the simulator ended with exit 3");
    EXPECT_NE(test::ReadText(log).find("camsim: rejected request: "
                                       "/cgi-bin/aspect.cgi?aspect_ratio=7&status=1: "),
              std::string::npos);
}

TEST(CamsimProcess, NotListeningInTimeIsAFailureAndLeavesNoProcess) {
    const std::string dir = test::OutputDir();
    const std::string script = dir + "/silent.sh";
    std::ofstream(script) << "#!/bin/sh\nexec sleep 60\n";
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    host::CamsimProcess silent(script, {}, dir + "/silent.log");
    ASSERT_TRUE(silent.ChoosePorts());
    std::string error;
    EXPECT_FALSE(silent.Start(std::chrono::milliseconds(300), error));
    EXPECT_EQ(error, "the simulator did not listen in time");
    EXPECT_FALSE(silent.Running());
}
