// The soak's channels: which delivered since the last mark, motion records kept apart from
// video, the bounded wait for every channel, and starting and stopping through the capture.
#include "host/soak_channels.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "host/frames.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A video capture that records starts and stops and lets the test deliver frames.
class FakeVideo : public norvane::TBoundaryObject<norvane::ipcapture::IIPVideoCapture> {
public:
    unsigned GetChannelCount() override { return 0; }
    bool StartChannel(unsigned index, norvane::ICaptureSink* sink,
                      norvane::IChannelConfig* config) override {
        if (index >= sinks.size())
            sinks.resize(index + 1);
        sinks[index] = sink;
        motion.push_back(config->GetStreamSettings()->IsMotionDetectionEnabled());
        return index != refuse;
    }
    bool StopChannel(unsigned index) override {
        stopped.push_back(index);
        return true;
    }
    bool ChangeChannelFormat(unsigned, norvane::IResolution*, unsigned) override { return false; }
    int Reserved5() override { return 0; }
    bool GetChannelState(unsigned, int*, int*, char*, unsigned) override { return false; }
    bool Reserved7(unsigned, unsigned, void*) override { return false; }
    bool Reserved8(unsigned, unsigned, void*) override { return false; }

    void Deliver(unsigned channel, unsigned fourcc = norvane::FOURCC_H264) {
        host::Frame frame(fourcc, 16, "test");
        sinks[channel]->DeliverFrame(&frame);
    }

    std::vector<norvane::ICaptureSink*> sinks;
    std::vector<int> motion;
    std::vector<unsigned> stopped;
    unsigned refuse = ~0u;
};

// Channels started on a fake capture and marked.
struct StartedChannels {
    explicit StartedChannels(unsigned count) : channels(video, count) {
        channels.Start();
        channels.Mark();
    }
    FakeVideo video;
    host::SoakChannels channels;
};

}  // namespace

TEST(SoakChannels, StartsEveryChannelWithMotionAndStopsThemAll) {
    FakeVideo video;
    video.refuse = 1;
    {
        host::SoakChannels channels(video, 3);
        EXPECT_EQ(channels.Start(), 2u);
        EXPECT_EQ(video.motion, (std::vector<int>{1, 1, 1}));
        EXPECT_TRUE(video.stopped.empty());
    }
    EXPECT_EQ(video.stopped, (std::vector<unsigned>{0, 1, 2}));
}

TEST(SoakChannels, TellsWhichChannelsDeliveredSinceTheMark) {
    FakeVideo video;
    host::SoakChannels channels(video, 3);
    channels.Start();
    EXPECT_EQ(channels.Silent(), (std::vector<unsigned>{0, 1, 2}));
    for (int i = 0; i < 5; ++i)
        video.Deliver(0);
    video.Deliver(2);
    EXPECT_EQ(channels.Silent(), (std::vector<unsigned>{1}));
    EXPECT_EQ(channels.Spread(), (std::pair<size_t, size_t>{0, 5}));
    channels.Mark();
    EXPECT_EQ(channels.Silent(), (std::vector<unsigned>{0, 1, 2}));
    video.Deliver(1);
    EXPECT_EQ(channels.Silent(), (std::vector<unsigned>{0, 2}));
    EXPECT_EQ(channels.Spread(), (std::pair<size_t, size_t>{0, 1}));
    EXPECT_EQ(channels.Frames(0), 5u);
}

// A channel that reports motion but delivers no picture has not come back.
TEST(SoakChannels, MotionRecordsDoNotCountAsVideo) {
    StartedChannels t(2);
    FakeVideo& video = t.video;
    host::SoakChannels& channels = t.channels;
    video.Deliver(0, norvane::FOURCC_MEMD);
    video.Deliver(1, norvane::FOURCC_MEMD);
    video.Deliver(1);
    EXPECT_EQ(channels.Silent(), (std::vector<unsigned>{0}));
    EXPECT_EQ(channels.MotionRecords(), 2u);
    EXPECT_EQ(channels.Frames(1), 1u);
}

TEST(SoakChannels, WaitForEveryChannelIsBoundedAndEndsWhenAllDelivered) {
    StartedChannels t(2);
    FakeVideo& video = t.video;
    host::SoakChannels& channels = t.channels;
    std::thread late([&] {
        video.Deliver(1);
        video.Deliver(0);
    });
    EXPECT_TRUE(channels.WaitAllDelivered(Clock::now() + 10s).empty());
    late.join();

    channels.Mark();
    video.Deliver(0);
    const auto begun = Clock::now();
    EXPECT_EQ(channels.WaitAllDelivered(begun + 200ms), (std::vector<unsigned>{1}));
    EXPECT_LT(Clock::now() - begun, 5s);
}
