// A host steers the simulated camera's head and presets through Tavrin.so; the camera's command
// log is the judge.
#include "norvane/ptz.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <filesystem>
#include <thread>

#include "platform/system.h"
#include "support/host_rig.h"

using namespace norvane;
using namespace std::chrono_literals;

namespace {

// A rig whose preset file is its own: named after the test, removed before and after.
class PtzRig : public test::HostRig {
public:
    explicit PtzRig(int group, int codec = 3, int channels = 1)
        : HostRig(codec, camsim::HttpAuthConfig::Mode::Digest, channels, CameraOfGroup(group)) {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        mac = std::string("E2E") + info->name();
        config.SetCustomParameter(6, mac);
        RemoveFiles();
    }
    ~PtzRig() {
        Close();
        RemoveFiles();
    }

    IIPPTZApiEx* Ptz(int channel = 0) {
        IIPPTZDriverEx* handler = driver ? driver->GetPTZDriverEx() : nullptr;
        return handler ? handler->GetPTZApiEx(channel) : nullptr;
    }
    std::string PresetPath() const {
        return norvane::platform::ExecutableDirectory() + "/Sanyo_" + mac + ".preset";
    }
    std::vector<std::string> Commands() { return simulator->Cgi().Commands(); }
    bool WaitForCommands(size_t count) {
        return simulator->Http().WaitUntil([&] { return Commands().size() >= count; }, 10000);
    }

    // Refusals of the camera, each cut to its request.
    std::vector<std::string> RefusedRequests() {
        std::vector<std::string> requests;
        for (const std::string& line : simulator->Cgi().Rejections())
            requests.push_back(line.substr(0, line.find(": ")));
        return requests;
    }

private:
    // The camera plays the group that the driver is told (custom parameter 3).
    static camsim::Personality CameraOfGroup(int group) {
        camsim::Personality camera = camsim::Personality::ForModel("VCC-HD4000");
        camera.group = group;
        return camera;
    }

    void RemoveFiles() {
        for (const char* suffix : {"", ".bad", ".bak", ".tmp"})
            std::filesystem::remove(PresetPath() + suffix);
    }

    std::string mac;
};

std::string PresetName(IIPPTZApiEx* ptz, int index) {
    char name[64] = {};
    return ptz->GetPrepositionName(index, name, sizeof name) == PTZ_OK ? name : "?";
}

// The names of a channel's presets in list order.
std::vector<std::string> PresetNames(IIPPTZApiEx* ptz) {
    std::vector<std::string> names;
    for (int i = 0; ptz && i < ptz->GetPrepositionCount(); ++i)
        names.push_back(PresetName(ptz, i));
    return names;
}

}  // namespace

TEST(PtzOnTheWire, EveryCommandGivesItsRequest) {
    PtzRig rig(1, 1);
    ASSERT_TRUE(rig.started);
    ASSERT_TRUE(rig.Open());
    IIPPTZApiEx* ptz = rig.Ptz();
    ASSERT_NE(ptz, nullptr);
    // One command at a time, each waited for: a burst would lose the oldest beyond 16.
    size_t sent = 0;
    const auto issue = [&](int result, size_t requests) {
        EXPECT_EQ(result, PTZ_OK);
        sent += requests;
        ASSERT_TRUE(rig.WaitForCommands(sent));
    };
    issue(ptz->Center(0, 0, 1), 0);  // no picture yet: nothing is sent
    for (int direction = 0; direction < 10; ++direction)
        issue(ptz->StartMove(direction, 4), 1);
    issue(ptz->Stop(), 2);
    for (int speed : {0, 1, 4, 16}) {
        issue(ptz->StartMove(4, speed), 1);
        issue(ptz->StartZoom8(speed), 1);
    }
    // Beyond the host's speeds 1 to 16 the camera's formula, unclamped and without overflow,
    // gives steps no camera takes: the camera refuses them, and only them (checked at the end).
    rig.simulator->Cgi().ExpectRejections();
    for (int speed : {INT_MIN, INT_MAX}) {
        EXPECT_EQ(ptz->StartMove(4, speed), PTZ_OK);
        EXPECT_EQ(ptz->StartZoom8(speed), PTZ_OK);
        ASSERT_TRUE(rig.simulator->Http().WaitUntil(
            [&] { return rig.RefusedRequests().size() >= (speed < 0 ? 2u : 4u); }, 10000));
    }
    const std::vector<std::string> refused = {
        "/cgi-bin/opecmd.cgi?ope=51&cmd=1&p_speed=-715827882&t_speed=-715827882",
        "/cgi-bin/opecmd.cgi?ope=51&cmd=9&z_speed=-429496728",
        "/cgi-bin/opecmd.cgi?ope=51&cmd=1&p_speed=715827883&t_speed=715827883",
        "/cgi-bin/opecmd.cgi?ope=51&cmd=9&z_speed=429496730"};
    issue(ptz->StartFocus1(1), 1);
    issue(ptz->StartFocus2(1), 1);
    issue(ptz->StartIris3(1), 1);
    issue(ptz->StartIris4(1), 1);
    issue(ptz->Stop(), 2);
    issue(ptz->Unzoom(3), 1);
    const std::vector<std::string> expected = {"ope=51&cmd=4&p_speed=2",
                                               "ope=51&cmd=5&p_speed=2",
                                               "ope=51&cmd=2&t_speed=2",
                                               "ope=51&cmd=7&t_speed=2",
                                               "ope=51&cmd=1&p_speed=2&t_speed=2",
                                               "ope=51&cmd=3&p_speed=2&t_speed=2",
                                               "ope=51&cmd=6&p_speed=2&t_speed=2",
                                               "ope=51&cmd=8&p_speed=2&t_speed=2",
                                               "ope=51&cmd=9&z_speed=1",
                                               "ope=51&cmd=10&z_speed=1",
                                               "ope=51&cmd=12",
                                               "ope=51&cmd=11",
                                               "ope=51&cmd=1&p_speed=1&t_speed=1",
                                               "ope=51&cmd=9&z_speed=1",
                                               "ope=51&cmd=1&p_speed=1&t_speed=1",
                                               "ope=51&cmd=9&z_speed=1",
                                               "ope=51&cmd=1&p_speed=2&t_speed=2",
                                               "ope=51&cmd=9&z_speed=1",
                                               "ope=51&cmd=1&p_speed=6&t_speed=6",
                                               "ope=51&cmd=9&z_speed=4",
                                               "ope=49&action=1",
                                               "ope=49&action=0",
                                               "ope=50&action=0",
                                               "ope=50&action=1",
                                               "ope=51&cmd=12",
                                               "ope=51&cmd=11",
                                               "ope=52&num=1"};
    ASSERT_TRUE(rig.WaitForCommands(expected.size()));
    EXPECT_EQ(rig.Commands(), expected);

    // With pictures arriving the driver knows the picture size: corners give full steps.
    ASSERT_TRUE(rig.video->StartChannel(0, &rig.sink, &rig.channel));
    ASSERT_TRUE(rig.sink.WaitForFrames(1, 15s));
    EXPECT_EQ(ptz->Center(0, 0, 1), PTZ_OK);
    EXPECT_EQ(ptz->Center(INT_MAX, INT_MIN, 1), PTZ_OK);
    ASSERT_TRUE(rig.WaitForCommands(expected.size() + 2));
    const auto commands = rig.Commands();
    EXPECT_EQ(commands[expected.size()],
              "ope=20&pan_dir=2&pan_percent=100&tilt_dir=1&tilt_percent=100");
    EXPECT_EQ(commands[expected.size() + 1],
              "ope=20&pan_dir=1&pan_percent=100&tilt_dir=1&tilt_percent=100");
    EXPECT_EQ(rig.RefusedRequests(), refused);
}

TEST(PtzPresets, AddRenameGotoRemoveAndRestart) {
    PtzRig rig(1);
    ASSERT_TRUE(rig.started);
    ASSERT_TRUE(rig.Open());
    IIPPTZApiEx* ptz = rig.Ptz();
    ASSERT_NE(ptz, nullptr);
    EXPECT_EQ(ptz->AddPreposition("Door"), PTZ_OK);
    EXPECT_EQ(ptz->AddPreposition("Gate"), PTZ_OK);  // the head still stands there: a rename
    EXPECT_EQ(ptz->StartMove(0, 1), PTZ_OK);
    ASSERT_TRUE(rig.WaitForCommands(2));
    EXPECT_EQ(ptz->AddPreposition("Yard"), PTZ_OK);
    EXPECT_EQ(ptz->GotoPreposition(0, "Gate"), PTZ_OK);
    EXPECT_EQ(ptz->GotoPreposition(0, "Gate"), PTZ_OK);
    EXPECT_EQ(ptz->AddPreposition("bad<name"), PTZ_INVALID_ARGUMENT);
    EXPECT_EQ(ptz->RemovePreposition("Yard"), PTZ_OK);
    EXPECT_EQ(ptz->AddPreposition("Road"), PTZ_OK);  // a removal leaves no current preset
    ASSERT_TRUE(rig.WaitForCommands(5));
    EXPECT_EQ(rig.Commands(),
              (std::vector<std::string>{"ope=8&registration=1", "ope=51&cmd=4&p_speed=1",
                                        "ope=8&registration=2", "ope=11&execution=1",
                                        "ope=8&registration=2"}));
    EXPECT_EQ(rig.log.CountContaining("renamed from \"Door\" to \"Gate\""), 1u);

    rig.Close();
    ASSERT_TRUE(rig.Open());
    ptz = rig.Ptz();
    ASSERT_NE(ptz, nullptr);
    ASSERT_EQ(ptz->GetPrepositionCount(), 2);
    EXPECT_EQ(PresetName(ptz, 0), "Gate");
    EXPECT_EQ(PresetName(ptz, 1), "Road");
    EXPECT_EQ(ptz->GotoPreposition(0, "Road"), PTZ_OK);
    ASSERT_TRUE(rig.WaitForCommands(6));
    EXPECT_EQ(rig.Commands().back(), "ope=11&execution=2");
}

TEST(PtzPresets, ReducedCameraStopsAtEight) {
    PtzRig rig(4);
    ASSERT_TRUE(rig.started);
    ASSERT_TRUE(rig.Open());
    IIPPTZApiEx* ptz = rig.Ptz();
    ASSERT_NE(ptz, nullptr);
    for (int i = 0; i < 8; ++i) {
        ASSERT_EQ(ptz->AddPreposition(std::to_string(i).c_str()), PTZ_OK);
        ASSERT_EQ(ptz->StartZoom9(1), PTZ_OK);
    }
    EXPECT_EQ(ptz->AddPreposition("ninth"), PTZ_PRESETS_FULL);
    EXPECT_EQ(rig.log.CountContaining("Camera supports saving not more than 8 prepositions."), 1u);
    EXPECT_EQ(ptz->StartMove(0, 1), PTZ_NOT_SUPPORTED);
    EXPECT_EQ(ptz->Center(1, 1, 1), PTZ_NOT_SUPPORTED);
}

// Four host threads steer two channels and change their presets for a bounded time; the
// sanitizer builds judge the races. The preset file then holds what the lists held: a driver
// opened again from it lists the same presets.
TEST(PtzConcurrency, FourHostThreadsOnTwoChannels) {
    PtzRig rig(1, 3, 2);
    ASSERT_TRUE(rig.started);
    ASSERT_TRUE(rig.Open());
    const auto until = std::chrono::steady_clock::now() + 10s;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; std::chrono::steady_clock::now() < until && i < 100000; ++i) {
                IIPPTZApiEx* ptz = rig.Ptz((t + i) % 2);
                if (!ptz) {
                    ++failures;
                    continue;
                }
                const char* const names[] = {"P0", "P1", "P2", "P3", "P4"};
                const char* name = names[(t * 7 + i) % 5];
                char buffer[32];
                switch (i % 6) {
                    case 0:
                        ptz->StartMove(i % 10, i % 17);
                        break;
                    case 1:
                        ptz->Stop();
                        break;
                    case 2:
                        ptz->AddPreposition(name);
                        break;
                    case 3:
                        ptz->GotoPreposition(0, name);
                        break;
                    case 4:
                        ptz->RemovePreposition(name);
                        break;
                    default:
                        ptz->GetCurrentPrepositionName(buffer, sizeof buffer),
                            ptz->GetPrepositionCount();
                }
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(failures, 0);
    const std::vector<std::string> lists[] = {PresetNames(rig.Ptz(0)), PresetNames(rig.Ptz(1))};
    EXPECT_FALSE(lists[0].empty() && lists[1].empty()) << "no preset survived the run";
    EXPECT_LT(test::MillisecondsOf([&] { rig.Close(); }), 2000);
    EXPECT_GT(rig.Commands().size(), 0u);
    EXPECT_EQ(rig.log.CountContaining("cannot be stopped"), 0u);
    ASSERT_TRUE(rig.Open());
    EXPECT_EQ(PresetNames(rig.Ptz(0)), lists[0]);
    EXPECT_EQ(PresetNames(rig.Ptz(1)), lists[1]);
}
