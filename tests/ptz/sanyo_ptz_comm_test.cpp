// The Sanyo command thread: request arithmetic, what reaches the camera, the bounded queue and
// the stop path.
#include "ptz/sanyo_ptz_comm.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <thread>

#include "ptz_rig.h"
#include "support/host_rig.h"

using namespace norvane;

namespace {

CPtzCapabilities AllCapabilities() {
    CPtzCapabilities c;
    c.pan = c.tilt = c.zoom = c.focus = c.iris = c.center = c.unzoom = true;
    c.maxPrepositions = 255;
    return c;
}

class SanyoCommTest : public test::PtzTest {
protected:
    std::unique_ptr<CSanyoPTZComm> Open(const CPtzCapabilities& c = AllCapabilities()) {
        auto comm = std::make_unique<CSanyoPTZComm>(&driver, c, 0);
        EXPECT_TRUE(comm->Open());
        return comm;
    }
    // Opened, with the camera holding its unzoom request, so that later commands queue up; null
    // if the camera never got it.
    std::unique_ptr<CSanyoPTZComm> OpenHoldingAnUnzoom() {
        driver.info.timeout = 5000;
        auto comm = Open();
        driver.lastSize = {640, 480};
        camera->HoldRequests("/cgi-bin/opecmd.cgi");
        if (comm->Unzoom(nullptr, 0) != PTZ_OK || !camera->WaitForHeld(1, 5000))
            return nullptr;
        return comm;
    }
};

}  // namespace

TEST(SanyoSpeed, ScaleAtTheUsualSpeedsAndTheExtremes) {
    EXPECT_EQ(SanyoCameraSpeed(0, false), 1);
    EXPECT_EQ(SanyoCameraSpeed(1, false), 1);
    EXPECT_EQ(SanyoCameraSpeed(4, false), 2);
    EXPECT_EQ(SanyoCameraSpeed(16, false), 6);
    EXPECT_EQ(SanyoCameraSpeed(0, true), 1);
    EXPECT_EQ(SanyoCameraSpeed(5, true), 1);
    EXPECT_EQ(SanyoCameraSpeed(6, true), 2);
    EXPECT_EQ(SanyoCameraSpeed(16, true), 4);
    // Beyond the host's range the camera's formula goes on (it is not clamped): 20 gives 7, -2
    // gives 0; the extremes of int neither overflow nor leave int.
    EXPECT_EQ(SanyoCameraSpeed(20, false), 7);
    EXPECT_EQ(SanyoCameraSpeed(-2, false), 0);
    EXPECT_EQ(SanyoCameraSpeed(-5, false), -1);
    EXPECT_EQ(SanyoCameraSpeed(INT_MIN, false), -715827882);
    EXPECT_EQ(SanyoCameraSpeed(INT_MAX, false), 715827883);
    EXPECT_EQ(SanyoCameraSpeed(INT_MIN, true), -429496728);
    EXPECT_EQ(SanyoCameraSpeed(INT_MAX, true), 429496730);
}

TEST(SanyoSpeed, MovePathPerDirection) {
    const std::string base = "/cgi-bin/opecmd.cgi?ope=51";
    EXPECT_EQ(SanyoMovePath(0, 4), base + "&cmd=4&p_speed=2");
    EXPECT_EQ(SanyoMovePath(1, 4), base + "&cmd=5&p_speed=2");
    EXPECT_EQ(SanyoMovePath(2, 4), base + "&cmd=2&t_speed=2");
    EXPECT_EQ(SanyoMovePath(3, 4), base + "&cmd=7&t_speed=2");
    EXPECT_EQ(SanyoMovePath(4, 16), base + "&cmd=1&p_speed=6&t_speed=6");
    EXPECT_EQ(SanyoMovePath(5, 16), base + "&cmd=3&p_speed=6&t_speed=6");
    EXPECT_EQ(SanyoMovePath(6, 1), base + "&cmd=6&p_speed=1&t_speed=1");
    EXPECT_EQ(SanyoMovePath(7, 1), base + "&cmd=8&p_speed=1&t_speed=1");
    EXPECT_EQ(SanyoMovePath(8, 16), base + "&cmd=9&z_speed=4");
    EXPECT_EQ(SanyoMovePath(9, 6), base + "&cmd=10&z_speed=2");
    EXPECT_EQ(SanyoMovePath(12, 4), base);
    EXPECT_EQ(SanyoMovePath(-1, 4), base);
}

TEST(SanyoCenter, ArithmeticAtCornersAndMiddle) {
    const std::string base = "/cgi-bin/opecmd.cgi?ope=20";
    EXPECT_EQ(SanyoCenterPath(640, 480, 480, 120),
              base + "&pan_dir=1&pan_percent=50&tilt_dir=1&tilt_percent=50");
    EXPECT_EQ(SanyoCenterPath(640, 480, 0, 0),
              base + "&pan_dir=2&pan_percent=100&tilt_dir=1&tilt_percent=100");
    EXPECT_EQ(SanyoCenterPath(640, 480, 640, 480),
              base + "&pan_dir=1&pan_percent=100&tilt_dir=2&tilt_percent=100");
    EXPECT_EQ(SanyoCenterPath(640, 480, 639, 479),
              base + "&pan_dir=1&pan_percent=99&tilt_dir=2&tilt_percent=99");
    EXPECT_EQ(SanyoCenterPath(640, 480, 320, 240),
              base + "&pan_dir=2&pan_percent=0&tilt_dir=1&tilt_percent=0");
}

TEST(SanyoCenter, DegenerateSizesAndOutsidePointsAreSafe) {
    EXPECT_EQ(SanyoCenterPath(0, 0, 1, 1), "");
    EXPECT_EQ(SanyoCenterPath(1, 1, 0, 0), "");
    EXPECT_EQ(SanyoCenterPath(640, 1, 0, 0), "");
    EXPECT_EQ(SanyoCenterPath(-640, 480, 0, 0), "");
    // A negative point clamps to the left edge instead of wrapping; a far point to the right.
    EXPECT_EQ(SanyoCenterPath(640, 480, -5, INT_MAX),
              "/cgi-bin/opecmd.cgi?ope=20&pan_dir=2&pan_percent=100&tilt_dir=2&tilt_percent=100");
    // A huge picture does not overflow the percentage.
    EXPECT_EQ(SanyoCenterPath(INT_MAX, INT_MAX, 0, INT_MAX),
              "/cgi-bin/opecmd.cgi?ope=20&pan_dir=2&pan_percent=100&tilt_dir=2&tilt_percent=100");
}

TEST_F(SanyoCommTest, EveryCommandReachesTheCamera) {
    auto comm = Open();
    driver.lastSize = {640, 480};
    EXPECT_EQ(comm->StartMove(nullptr, 0, 4), PTZ_OK);
    EXPECT_TRUE(comm->StopMoving(nullptr));
    EXPECT_EQ(comm->StartMove(nullptr, 9, 16), PTZ_OK);
    EXPECT_TRUE(comm->StopZooming(nullptr));
    EXPECT_EQ(comm->StartFocus(nullptr, false, 1), PTZ_OK);
    EXPECT_EQ(comm->StartFocus(nullptr, true, 1), PTZ_OK);
    EXPECT_TRUE(comm->StopFocusing(nullptr));
    EXPECT_EQ(comm->StartIris(nullptr, true, 1), PTZ_OK);
    EXPECT_EQ(comm->StartIris(nullptr, false, 1), PTZ_OK);
    EXPECT_TRUE(comm->StopIrisChanging(nullptr));
    EXPECT_EQ(comm->Center(nullptr, 480, 120, 1), PTZ_OK);
    EXPECT_EQ(comm->Unzoom(nullptr, 7), PTZ_OK);
    ASSERT_TRUE(WaitForCommands(10));
    EXPECT_TRUE(comm->SavePreposition(0, "A"));
    EXPECT_TRUE(comm->GotoPreposition(4, "B", 0));
    ASSERT_TRUE(WaitForCommands(12));
    EXPECT_TRUE(comm->Close());
    const std::vector<std::string> expected = {
        "ope=51&cmd=4&p_speed=2",
        "ope=51&cmd=12",
        "ope=51&cmd=10&z_speed=4",
        "ope=51&cmd=11",
        "ope=49&action=1",
        "ope=49&action=0",
        "ope=50&action=0",
        "ope=50&action=1",
        "ope=20&pan_dir=1&pan_percent=50&tilt_dir=1&tilt_percent=50",
        "ope=52&num=1",
        "ope=8&registration=1",
        "ope=11&execution=5"};
    EXPECT_EQ(Commands(), expected) << "focus and iris stops send nothing";
}

TEST_F(SanyoCommTest, CapabilitiesGateCommandsAndFillTheRecord) {
    CPtzCapabilities reduced = AllCapabilities();
    reduced.pan = reduced.tilt = reduced.center = false;
    reduced.maxPrepositions = 8;
    auto comm = Open(reduced);
    EXPECT_EQ(comm->StartMove(nullptr, 0, 1), PTZ_NOT_SUPPORTED);
    EXPECT_EQ(comm->Center(nullptr, 1, 1, 1), PTZ_NOT_SUPPORTED);
    EXPECT_EQ(comm->AreaZoom(nullptr, 1, 2, 3, 4), PTZ_NOT_SUPPORTED);
    EXPECT_EQ(comm->StartMove(nullptr, 8, 1), PTZ_OK);
    EXPECT_TRUE(comm->HasContinuousControl());
    PTZ_CAPABILITIES record;
    std::memset(&record, 0x5A, sizeof record);
    EXPECT_EQ(comm->GetCapabilities(&record), PTZ_OK);
    EXPECT_EQ(record.hostField, 0x5A5A5A5A);
    EXPECT_EQ(record.pan, 0);
    EXPECT_EQ(record.zoom, 1);
    EXPECT_EQ(record.center, 0);
    EXPECT_EQ(record.unzoom, 1);
    EXPECT_EQ(record.areaZoom, 0);
    EXPECT_EQ(record.maxPrepositions, 8);
    EXPECT_EQ(record.reserved24, 0);
    EXPECT_EQ(record.reserved36, 0);
    EXPECT_EQ(record.reserved40, 0);
    EXPECT_EQ(driver.log.CountContaining("cannot send"), 0u);
}

// Twenty commands while the camera holds the one before them: the oldest four give way.
TEST_F(SanyoCommTest, BurstKeepsTheNewestSixteen) {
    auto comm = OpenHoldingAnUnzoom();
    ASSERT_TRUE(comm);
    for (int i = 0; i < 20; ++i)
        ASSERT_EQ(comm->Center(nullptr, 16 * i, 240, 1), PTZ_OK);
    camera->ReleaseHeld();
    ASSERT_TRUE(WaitForCommands(17));
    EXPECT_TRUE(comm->Close());
    const auto commands = Commands();
    ASSERT_EQ(commands.size(), 17u);
    EXPECT_EQ(commands[0], "ope=52&num=1");
    for (int i = 4; i < 20; ++i)
        EXPECT_EQ(commands[i - 3], "ope=20&pan_dir=2&pan_percent=" + std::to_string(100 - 5 * i) +
                                       "&tilt_dir=1&tilt_percent=0");
}

// A burst while the camera holds a request: a stop is never the one that gives way, and a newer
// command for an axis takes the place of an older one for it before any other goes.
TEST_F(SanyoCommTest, BurstKeepsEveryStopAndTheLastWordForEachAxis) {
    auto comm = OpenHoldingAnUnzoom();
    ASSERT_TRUE(comm);
    ASSERT_TRUE(comm->StopMoving(nullptr));
    ASSERT_EQ(comm->StartMove(nullptr, CBasePTZComm::ZOOM_IN, 4), PTZ_OK);
    for (int i = 0; i < 14; ++i)
        ASSERT_EQ(comm->Center(nullptr, 16 * i, 240, 1), PTZ_OK);
    ASSERT_TRUE(comm->StopZooming(nullptr));  // 17 queued: the zoom-in goes
    for (int i = 14; i < 20; ++i)             // the oldest centres go, never a stop
        ASSERT_EQ(comm->Center(nullptr, 16 * i, 240, 1), PTZ_OK);
    camera->ReleaseHeld();
    ASSERT_TRUE(WaitForCommands(17));
    EXPECT_TRUE(comm->Close());
    const auto commands = Commands();
    ASSERT_EQ(commands.size(), 17u) << ::testing::PrintToString(commands);
    EXPECT_EQ(commands[0], "ope=52&num=1");
    EXPECT_EQ(commands[1], "ope=51&cmd=12");
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "ope=51&cmd=11"), 1);
    EXPECT_EQ(std::count_if(commands.begin(), commands.end(),
                            [](const std::string& c) { return c.find("cmd=9") != std::string::npos; }),
              0)
        << "the zoom-in its stop superseded was sent";
    EXPECT_EQ(commands.back(), "ope=20&pan_dir=2&pan_percent=5&tilt_dir=1&tilt_percent=0");
}

TEST_F(SanyoCommTest, CommandAfterCloseIsRefusedWithItsLine) {
    auto comm = Open();
    EXPECT_TRUE(comm->Close());
    EXPECT_FALSE(comm->Close());
    EXPECT_EQ(comm->StartMove(nullptr, 0, 1), PTZ_FAILED);
    EXPECT_EQ(driver.log.CountContaining(
                  "norvane::CBasePTZComm::StartMove: cannot send message (1) to thread"),
              1u);
    EXPECT_FALSE(comm->StopZooming(nullptr));
    EXPECT_EQ(
        driver.log.CountContaining("norvane::CBasePTZComm::StopZooming: cannot send message (4)"),
        1u);
    EXPECT_FALSE(comm->SavePreposition(0, "A")) << "presets fail once stopping";
    EXPECT_TRUE(Commands().empty());
}

TEST_F(SanyoCommTest, CloseNeverOpenedIsFalseAndThreadIsNamed) {
    CSanyoPTZComm never(&driver, AllCapabilities(), 0);
    EXPECT_FALSE(never.Close());
    auto comm = Open();
    EXPECT_EQ(comm->GetName(), "BaseIPPTZThread_Ch1");
}

// A camera that holds its replies gets one request time-out from Close; then the request in
// flight is aborted, on the command thread and on a host thread alike.
TEST_F(SanyoCommTest, CloseAbortsRequestsInFlight) {
    driver.info.timeout = 1000;
    auto comm = Open();
    camera->HoldRequests("/cgi-bin/opecmd.cgi");
    ASSERT_EQ(comm->Unzoom(nullptr, 0), PTZ_OK);
    ASSERT_TRUE(camera->WaitForHeld(1, 5000));
    std::atomic<bool> saved{true};
    std::thread host([&] { saved = comm->SavePreposition(3, "A"); });
    ASSERT_TRUE(camera->WaitForHeld(2, 5000)) << "the host thread's request is not held";
    EXPECT_LT(test::MillisecondsOf([&] { EXPECT_TRUE(comm->Close()); }), 4000);
    EXPECT_LT(test::MillisecondsOf([&] { host.join(); }), 2000);
    EXPECT_FALSE(saved);
    camera->ReleaseHeld();
}

// Destroying the command thread while the camera holds its request: the thread ends before the
// HTTP client it uses is gone.
TEST_F(SanyoCommTest, DestroyWhileARequestIsHeld) {
    driver.info.timeout = 1000;
    auto comm = Open();
    camera->HoldRequests("/cgi-bin/opecmd.cgi");
    ASSERT_EQ(comm->StartMove(nullptr, 1, 1), PTZ_OK);
    ASSERT_TRUE(camera->WaitForHeld(1, 5000));
    EXPECT_LT(test::MillisecondsOf([&] { comm.reset(); }), 4000);
    camera->ReleaseHeld();
}

// Commands accepted before Close reach a camera that answers, in order, before Close returns;
// a command offered once Close began is refused.
TEST_F(SanyoCommTest, CloseDeliversEveryAcceptedCommand) {
    driver.info.timeout = 5000;
    camera->SetReplyDelay(40);
    auto comm = Open();
    ASSERT_EQ(comm->StartMove(nullptr, 2, 4), PTZ_OK);
    ASSERT_TRUE(comm->StopMoving(nullptr));
    ASSERT_EQ(comm->StartMove(nullptr, 8, 16), PTZ_OK);
    ASSERT_TRUE(comm->StopZooming(nullptr));
    ASSERT_EQ(comm->Unzoom(nullptr, 1), PTZ_OK);
    EXPECT_TRUE(comm->Close());
    EXPECT_EQ(Commands(), (std::vector<std::string>{"ope=51&cmd=2&t_speed=2", "ope=51&cmd=12",
                                                    "ope=51&cmd=9&z_speed=4", "ope=51&cmd=11",
                                                    "ope=52&num=1"}));
    EXPECT_FALSE(comm->StopMoving(nullptr));
}

// A camera that keeps the connection and never answers, or one that is offline: Close gives the
// queued commands at most one request time-out and drops the rest.
TEST_F(SanyoCommTest, CloseStaysPromptWhenTheCameraDoesNotAnswer) {
    driver.info.timeout = 1000;
    camsim::HttpReply silent;
    silent.action = camsim::HttpReply::Action::Silent;
    camera->SetPageFault("/cgi-bin/opecmd.cgi", silent);
    auto comm = Open();
    for (int i = 0; i < 8; ++i) {
        ASSERT_EQ(comm->StartMove(nullptr, i, 1), PTZ_OK);
        ASSERT_TRUE(comm->StopMoving(nullptr));
    }
    ASSERT_TRUE(camera->Http().WaitUntil([&] { return !camera->Http().Requests().empty(); }, 5000));
    EXPECT_LT(test::MillisecondsOf([&] { EXPECT_TRUE(comm->Close()); }), 4000);

    driver.info.timeout = 10000;
    auto offline = Open();
    ASSERT_TRUE(camera->SetOffline(true));
    for (int i = 0; i < 8; ++i) {
        ASSERT_EQ(offline->StartMove(nullptr, i, 1), PTZ_OK);
        ASSERT_TRUE(offline->StopMoving(nullptr));
    }
    EXPECT_LT(test::MillisecondsOf([&] { EXPECT_TRUE(offline->Close()); }), 4000);
}

TEST_F(SanyoCommTest, FailedRequestsAreThinnedUntilCapabilitiesAreAsked) {
    camera->SetPageFault("/cgi-bin/opecmd.cgi", camsim::HttpReply::Text(500, "no"));
    auto comm = Open();
    const auto failures = [&] { return driver.log.CountContaining("opecmd.cgi"); };
    for (unsigned i = 1; i <= 31; ++i) {
        EXPECT_FALSE(comm->GotoPreposition(0, "A", 0));
        if (i == 14) {
            EXPECT_EQ(failures(), 14u);
        }
    }
    EXPECT_EQ(failures(), 15u) << "failures 15 to 31 log once (the 16th)";
    PTZ_CAPABILITIES record{};
    comm->GetCapabilities(&record);
    EXPECT_FALSE(comm->GotoPreposition(0, "A", 0));
    EXPECT_EQ(failures(), 16u);
}

TEST_F(SanyoCommTest, UnexpectedItemsAreLoggedNotSent) {
    CPtzCapabilities c = AllCapabilities();
    c.areaZoom = true;
    auto comm = Open(c);
    EXPECT_EQ(comm->AreaZoom(nullptr, 1, 2, 3, 4), PTZ_OK);
    ASSERT_TRUE(driver.log.WaitForText("unexpected command ID=5", std::chrono::seconds(5)));
    EXPECT_EQ(driver.log.CountContaining(
                  "norvane::CSanyoPTZComm::HandleWorkItem: unexpected command ID=5"),
              1u);
    driver.lastSize = {0, 0};
    EXPECT_EQ(comm->Center(nullptr, 1, 1, 1), PTZ_OK);
    EXPECT_EQ(comm->Unzoom(nullptr, 0), PTZ_OK);
    ASSERT_TRUE(WaitForCommands(1));
    EXPECT_EQ(Commands(), std::vector<std::string>{"ope=52&num=1"}) << "no centre at 0x0";
}
