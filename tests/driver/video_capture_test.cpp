#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "driver/fake_channels.h"
#include "driver/video_capture.h"
#include "host/capture_sink.h"
#include "host/channel_config.h"

using namespace norvane;
using Events = std::vector<std::string>;

namespace {

struct Fixture {
    test::TestDriver factory;
    CIPVideoCapture capture{2, &factory};
    host::CaptureSink sink;
    host::ChannelConfig config{640, 480};
    Events& events = factory.channels.events;
};

}  // namespace

TEST(VideoCapture, StartBuildsAndStartsAChannelWithTheHostSettings) {
    Fixture f;
    f.config.stream.framePeriodMs = 40;
    f.config.stream.quality = 70;
    EXPECT_TRUE(f.capture.StartChannel(1, &f.sink, &f.config));
    EXPECT_EQ(f.events, (Events{"create 1", "start 1 640x480 r40 q70"}));
    int state = -1, detail = 7;
    char text[8] = "junk";
    EXPECT_TRUE(f.capture.GetChannelState(1, &state, &detail, text, sizeof text));
    EXPECT_EQ(state, SignalLost);
    EXPECT_EQ(detail, 0);
    EXPECT_STREQ(text, "");
}

TEST(VideoCapture, StartingTwiceStopsAndDeletesTheFirstChannel) {
    Fixture f;
    EXPECT_TRUE(f.capture.StartChannel(0, &f.sink, &f.config));
    EXPECT_TRUE(f.capture.StartChannel(0, &f.sink, &f.config));
    EXPECT_EQ(f.events, (Events{"create 0", "start 0 640x480 r40 q50", "retire 0", "stop 0",
                                "delete 0", "create 0", "start 0 640x480 r40 q50"}));
}

TEST(VideoCapture, WidthAbove1600AsksForALargeFrameChannel) {
    Fixture f;
    host::ChannelConfig wide(1601, 900), limit(1600, 900);
    f.capture.StartChannel(0, &f.sink, &limit);
    f.capture.StartChannel(1, &f.sink, &wide);
    EXPECT_EQ(f.events[0], "create 0");
    EXPECT_EQ(f.events[2], "create 1 large");
}

TEST(VideoCapture, MotionChannelFollowsTheStreamSettings) {
    Fixture f;
    f.config.stream.motionDetection = 1;
    f.factory.motionStarts = false;
    EXPECT_FALSE(f.capture.StartChannel(0, &f.sink, &f.config))
        << "a motion channel that fails to start fails the start";
    int state = -1;
    EXPECT_TRUE(f.capture.GetChannelState(0, &state, nullptr, nullptr, 0))
        << "the entry keeps both objects";
    EXPECT_TRUE(f.capture.StopChannel(0));
    EXPECT_EQ(f.events, (Events{"create 0", "start 0 640x480 r40 q50", "create motion 0",
                                "start motion 0", "stop motion 0", "delete motion 0", "retire 0",
                                "stop 0", "delete 0"}));
}

TEST(VideoCapture, FailedChannelStartKeepsTheEntryWithoutMotion) {
    Fixture f;
    f.config.stream.motionDetection = 1;
    f.factory.channelStarts = false;
    EXPECT_FALSE(f.capture.StartChannel(0, &f.sink, &f.config));
    int state = -1;
    EXPECT_TRUE(f.capture.GetChannelState(0, &state, nullptr, nullptr, 0));
    EXPECT_EQ(f.events, (Events{"create 0", "start 0 640x480 r40 q50"}));
}

TEST(VideoCapture, FactoryFailureLeavesTheEntryEmpty) {
    Fixture f;
    f.factory.createChannels = false;
    EXPECT_FALSE(f.capture.StartChannel(0, &f.sink, &f.config));
    EXPECT_FALSE(f.capture.StopChannel(0));
}

TEST(VideoCapture, ChangeFormatRestartsWithQualityZero) {
    Fixture f;
    f.capture.StartChannel(0, &f.sink, &f.config);
    host::Resolution hd(1280, 720);
    EXPECT_TRUE(f.capture.ChangeChannelFormat(0, &hd, 100));
    EXPECT_EQ(f.events.back(), "restart 0 1280x720 r100 q0");
    EXPECT_FALSE(f.capture.ChangeChannelFormat(1, &hd, 100)) << "no channel at index 1";
}

TEST(VideoCapture, EmptyAndOutOfRangeEntriesFail) {
    Fixture f;
    int state = 5, detail = 9;
    char text[4] = "abc";
    EXPECT_FALSE(f.capture.GetChannelState(0, &state, &detail, text, sizeof text));
    EXPECT_EQ(detail, 0);
    EXPECT_STREQ(text, "") << "cleared even when there is no channel";
    EXPECT_EQ(state, 5);
    EXPECT_FALSE(f.capture.StopChannel(0));
    EXPECT_FALSE(f.capture.StartChannel(2, &f.sink, &f.config));
    EXPECT_FALSE(f.capture.StopChannel(2));
    EXPECT_FALSE(f.capture.PauseChannel(2));
    EXPECT_FALSE(f.capture.ResumeChannel(0));
    EXPECT_FALSE(f.capture.StartChannel(0, &f.sink, nullptr));
    EXPECT_EQ(f.capture.Reserved5(), 0);
    EXPECT_FALSE(f.capture.Reserved7(0, 0, nullptr));
    EXPECT_FALSE(f.capture.Reserved8(0, 0, nullptr));
}

TEST(VideoCapture, PauseAndResumeReachTheChannel) {
    Fixture f;
    f.capture.StartChannel(0, &f.sink, &f.config);
    EXPECT_TRUE(f.capture.PauseChannel(0));
    EXPECT_TRUE(f.capture.ResumeChannel(0));
    EXPECT_FALSE(f.capture.PauseChannel(1)) << "no channel at 1";
    EXPECT_EQ(f.events, (Events{"create 0", "start 0 640x480 r40 q50", "pause 0", "resume 0"}));
}

// Every channel is told to stop before the first is waited for, so their stops overlap.
TEST(VideoCapture, DestructionRetiresEveryChannelThenStopsThemInIndexOrder) {
    test::TestDriver factory;
    host::CaptureSink sink;
    host::ChannelConfig config;
    config.stream.motionDetection = 1;
    {
        CIPVideoCapture capture(2, &factory);
        capture.StartChannel(1, &sink, &config);
        capture.StartChannel(0, &sink, &config);
        factory.channels.events.clear();
    }
    EXPECT_EQ(factory.channels.events,
              (Events{"retire 0", "retire 1", "stop motion 0", "delete motion 0", "retire 0",
                      "stop 0", "delete 0", "stop motion 1", "delete motion 1", "retire 1", "stop 1",
                      "delete 1"}));
}

TEST(VideoCapture, NullHostPointersGiveFalse) {
    Fixture f;
    EXPECT_FALSE(f.capture.StartChannel(0, nullptr, &f.config));
    EXPECT_TRUE(f.capture.StartChannel(0, &f.sink, &f.config));
    EXPECT_FALSE(f.capture.GetChannelState(0, nullptr, nullptr, nullptr, 8));
    EXPECT_FALSE(f.capture.ChangeChannelFormat(0, nullptr, 40));
}

// A second start of the same index that lands between the first one's stop and its store: the
// channel it stored is stopped and deleted, never left streaming without an entry.
TEST(VideoCapture, RacingStartsOfOneIndexLeaveNoOrphan) {
    Fixture f;
    f.factory.onCreate = [&] { EXPECT_TRUE(f.capture.StartChannel(0, &f.sink, &f.config)); };
    EXPECT_TRUE(f.capture.StartChannel(0, &f.sink, &f.config));
    EXPECT_EQ(f.events, (Events{"create 0", "create 0", "start 0 640x480 r40 q50",
                                "start 0 640x480 r40 q50", "retire 0", "stop 0", "delete 0"}));
    EXPECT_TRUE(f.capture.StopChannel(0));
    EXPECT_EQ(std::count(f.events.begin(), f.events.end(), "delete 0"), 2);
}

// A host that stops a channel from that channel's own frame callback: the channel is told to end
// at once and waited for and deleted by the next call from another thread.
TEST(VideoCapture, StopFromTheChannelsOwnThreadIsFinishedLater) {
    Fixture f;
    EXPECT_TRUE(f.capture.StartChannel(0, &f.sink, &f.config));
    f.factory.onChannelThread = true;
    EXPECT_TRUE(f.capture.StopChannel(0));
    EXPECT_EQ(f.events.back(), "retire 0");
    EXPECT_FALSE(f.capture.StopChannel(0));
    EXPECT_EQ(f.events.back(), "retire 0") << "still on its thread: not waited for";
    f.factory.onChannelThread = false;
    EXPECT_FALSE(f.capture.StopChannel(1));
    EXPECT_EQ(std::vector<std::string>(f.events.end() - 2, f.events.end()),
              (Events{"stop 0", "delete 0"}));
}

// Host threads starting, stopping, querying and changing two indexes at once (run under the
// sanitizers): no channel is used after its deletion and none is lost.
TEST(VideoCapture, HostThreadsRacingOnTwoIndexesStayConsistent) {
    test::TestDriver factory;
    CIPVideoCapture capture(2, &factory);
    host::CaptureSink sink;
    host::ChannelConfig config;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            host::Resolution hd(1280, 720);
            for (int i = 0; i < 300; ++i) {
                const unsigned index = (i + t) % 2;
                int state = 0;
                switch ((i + t) % 4) {
                case 0: capture.StartChannel(index, &sink, &config); break;
                case 1: capture.StopChannel(index); break;
                case 2: capture.GetChannelState(index, &state, nullptr, nullptr, 0); break;
                default: capture.ChangeChannelFormat(index, &hd, 40); break;
                }
            }
        });
    }
    for (auto& t : threads)
        t.join();
    capture.StopChannel(0);
    capture.StopChannel(1);
    const auto& events = factory.channels.events;
    EXPECT_EQ(std::count_if(events.begin(), events.end(),
                            [](const std::string& e) { return e.rfind("create", 0) == 0; }),
              std::count_if(events.begin(), events.end(),
                            [](const std::string& e) { return e.rfind("delete", 0) == 0; }));
}
