// The channel base: online/offline lines, restart order, bounded stops, pause and delivery.
#include "channels/base_camera_channel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "host/capture_sink.h"
#include "host/frames.h"
#include "support/fake_driver.h"

using namespace norvane;
using namespace std::chrono_literals;

namespace {

// A channel whose thread records the parameters it saw and waits for the stop event (or
// ignores it for `hangMs`).
class TestChannel : public CBaseCameraChannel {
public:
    using CBaseCameraChannel::CBaseCameraChannel;
    ~TestChannel() override { Stop(); }

    using CBaseCameraChannel::DeliverFrame;
    using CBaseCameraChannel::GetFrameAge;
    using CBaseCameraChannel::ResetFrameTimer;
    using CBaseCameraChannel::SetCameraState;
    using CBaseCameraChannel::SetState;

    std::vector<CAPTURE_PARAMS> seenAtStart, seenAtEnd;
    std::atomic<unsigned> hangMs{0};
    std::atomic<bool> stopItself{false};
    CManualEvent running;

protected:
    int Run() override {
        seenAtStart.push_back(params);
        running.Set();
        if (stopItself)
            Stop();
        stopEvent.Wait(INFINITE_WAIT);
        if (hangMs)
            std::this_thread::sleep_for(std::chrono::milliseconds(hangMs.load()));
        seenAtEnd.push_back(params);
        return 0;
    }
};

CAPTURE_PARAMS Params(uint32_t width, uint32_t rate, uint32_t quality) {
    CAPTURE_PARAMS p;
    p.width = width;
    p.height = width * 3 / 4;
    p.frameRate = rate;
    p.quality = quality;
    return p;
}

std::vector<std::pair<int, std::string>> Lines(test::FakeDriver& driver) {
    std::vector<std::pair<int, std::string>> lines;
    for (const auto& record : driver.log.Records())
        lines.emplace_back(record.level, record.text);
    return lines;
}

}  // namespace

TEST(BaseCameraChannel, OnlineStateChangesAreLoggedOnceWithTheirLevels) {
    test::FakeDriver driver;
    TestChannel channel(0, &driver, nullptr);
    channel.SetCameraState(false);  // unchanged from construction
    channel.SetState(Running);
    channel.SetCameraState(true);
    channel.SetCameraState(true);
    channel.SetState(SignalLost);
    channel.SetCameraState(false);
    channel.SetCameraState(true);
    channel.SetState(Running);
    channel.SetCameraState(false);
    channel.SetCameraState(true);
    channel.Stop();
    const std::string prefix = "norvane::CBaseCameraChannel::SetCameraState: ";
    EXPECT_EQ(Lines(driver), (std::vector<std::pair<int, std::string>>{
                                 {3, prefix + "Camera 127.0.0.1 is online"},
                                 {1, prefix + "Signal was lost for camera 127.0.0.1"},
                                 {3, prefix + "Camera 127.0.0.1 is online"},
                                 {1, prefix + "Camera 127.0.0.1 is offline or failed"},
                                 {3, prefix + "Camera 127.0.0.1 is online"},
                                 {3, prefix + "Camera 127.0.0.1 is offline. Channel was stopped"},
                             }));
}

TEST(BaseCameraChannel, AVideoServerNamesTheChannelInEveryLine) {
    test::FakeDriver driver;
    driver.channels = 4;
    TestChannel channel(2, &driver, nullptr);
    channel.SetCameraState(true);
    channel.SetState(SignalLost);
    channel.SetCameraState(false);
    EXPECT_EQ(driver.log.CountContaining("Video-server 127.0.0.1 (channel 2) is online"), 1u);
    EXPECT_EQ(driver.log.CountContaining("Signal was lost for video-server 127.0.0.1 (channel 2)"),
              1u);
}

TEST(BaseCameraChannel, RestartEndsTheOldThreadBeforeTakingTheNewParametersAndKeepsQuality) {
    test::FakeDriver driver;
    TestChannel channel(0, &driver, nullptr);
    const CAPTURE_PARAMS first = Params(640, 40, 70), second = Params(320, 100, 0);
    ASSERT_TRUE(channel.Start(&first));
    ASSERT_TRUE(channel.running.Wait(5000));
    ASSERT_TRUE(channel.Restart(&second));
    channel.Stop();
    ASSERT_EQ(channel.seenAtStart.size(), 2u);
    ASSERT_EQ(channel.seenAtEnd.size(), 2u);
    EXPECT_EQ(channel.seenAtEnd[0].width, 640u) << "the old thread never saw the new parameters";
    EXPECT_EQ(channel.seenAtStart[1].width, 320u);
    EXPECT_EQ(channel.seenAtStart[1].frameRate, 100u);
    EXPECT_EQ(channel.seenAtStart[1].quality, 70u);
}

TEST(BaseCameraChannel, AThreadThatOutlivesTheLimitIsReportedThenWaitedFor) {
    test::FakeDriver driver;  // time-out 200 ms: the limit is 400 ms
    auto channel = std::make_unique<TestChannel>(0, &driver, nullptr);
    channel->hangMs = 700;
    const CAPTURE_PARAMS p = Params(640, 40, 50);
    ASSERT_TRUE(channel->Start(&p));
    ASSERT_TRUE(channel->running.Wait(5000));
    channel->Stop();
    EXPECT_EQ(driver.log.CountContaining("norvane::CBaseCameraChannel::StopThread: Video capture "
                                         "thread for camera 127.0.0.1 cannot be stopped and will "
                                         "be terminated now"),
              1u);
    EXPECT_EQ(channel->seenAtEnd.size(), 1u) << "the thread ran to its end before Stop returned";
    channel.reset();
}

TEST(BaseCameraChannel, StopOnTheCaptureThreadDoesNotWaitForItself) {
    test::FakeDriver driver;
    TestChannel channel(0, &driver, nullptr);
    channel.stopItself = true;
    const CAPTURE_PARAMS p = Params(640, 40, 50);
    ASSERT_TRUE(channel.Start(&p));
    ASSERT_TRUE(channel.running.Wait(5000));
    channel.Stop();
    EXPECT_EQ(channel.seenAtEnd.size(), 1u);
}

TEST(BaseCameraChannel, FramesReachTheHostOnlyWhileNotPausedAndNotStopping) {
    test::FakeDriver driver;
    host::CaptureSink sink;
    host::FrameAllocator frames;
    TestChannel channel(0, &driver, &sink);
    const CAPTURE_PARAMS p = Params(640, 40, 50);
    ASSERT_TRUE(channel.Start(&p));
    auto deliver = [&] {
        IMediaFrame* frame = frames.AllocateFrame(FOURCC_JPEG, 16, "test");
        const bool taken = channel.DeliverFrame(frame);
        frames.ReleaseFrame(frame);
        return taken;
    };
    EXPECT_TRUE(deliver());
    EXPECT_TRUE(channel.IsCameraOnline());
    channel.Pause();
    EXPECT_FALSE(deliver());
    channel.Resume();
    EXPECT_TRUE(deliver());
    sink.SetAccept(false);
    EXPECT_FALSE(deliver());
    sink.SetAccept(true);
    channel.Stop();
    EXPECT_FALSE(deliver());
    EXPECT_FALSE(channel.IsCameraOnline()) << "a stopped channel does not come back online";
    EXPECT_EQ(sink.FrameCount(), 3u) << "two taken, one offered and refused by the host";
}

// Several threads report the camera state while the host stops the channel: every change is
// logged once, online and offline alternate, and nothing comes online after the stop.
TEST(BaseCameraChannel, OnlineStateHasOneLinePerChangeUnderConcurrentWriters) {
    test::FakeDriver driver;
    TestChannel channel(0, &driver, nullptr);
    const CAPTURE_PARAMS p = Params(640, 40, 50);
    ASSERT_TRUE(channel.Start(&p));
    std::atomic<bool> go{false};
    std::vector<std::thread> writers;
    for (int w = 0; w < 3; ++w) {
        writers.emplace_back([&, w] {
            while (!go) {
            }
            for (int i = 0; i < 2000; ++i)
                channel.SetCameraState((i + w) % 2 == 0);
        });
    }
    go = true;
    ASSERT_TRUE(driver.log.WaitForText("is online", 5s));
    channel.Stop();
    for (auto& t : writers)
        t.join();
    const auto lines = Lines(driver);
    ASSERT_FALSE(lines.empty());
    bool online = false;
    for (const auto& [level, text] : lines) {
        const bool up = text.find("is online") != std::string::npos;
        EXPECT_NE(up, online) << "changes alternate: " << text;
        online = up;
    }
    EXPECT_FALSE(online) << "the last line is the stop";
    EXPECT_FALSE(channel.IsCameraOnline());
}

// The packet-queue thread restarts the frame timer while the capture thread reads the age: the age
// never reads as a time before the last frame (which wraps to about 2^32 ms and tears a healthy
// stream down).
TEST(BaseCameraChannel, FrameAgeNeverWrapsWhileFramesArrive) {
    test::FakeDriver driver;
    TestChannel channel(0, &driver, nullptr);
    channel.ResetFrameTimer();
    std::atomic<bool> done{false};
    std::thread frames([&] {
        while (!done)
            channel.ResetFrameTimer();
    });
    // The window is a few instructions wide: some 30 M reads show it; bounded to 5 s where the
    // sanitizers make reads slow.
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    uint32_t oldest = 0;
    for (int i = 0; i < 30000000; ++i) {
        oldest = std::max(oldest, channel.GetFrameAge());
        if (i % 65536 == 0 && std::chrono::steady_clock::now() > deadline)
            break;
    }
    done = true;
    frames.join();
    EXPECT_LT(oldest, 60000u);
}
