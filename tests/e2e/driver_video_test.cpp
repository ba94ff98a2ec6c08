// A host loads Tavrin.so, opens the simulated camera and runs its video channels, judging only
// what a host and the camera can see.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <utility>

#include "support/host_rig.h"
#include "support/media.h"
#include "support/stream_check.h"

using namespace norvane;
using test::HostRig;
using test::MillisecondsOf;
using namespace std::chrono_literals;

TEST(DriverVideo, H264OverDigestArrivesFrameForFrame) {
    HostRig rig(3, camsim::HttpAuthConfig::Mode::Digest);
    ASSERT_TRUE(rig.started);
    ASSERT_TRUE(rig.Open());
    ASSERT_TRUE(rig.video->StartChannel(0, &rig.sink, &rig.channel));
    ASSERT_TRUE(rig.sink.WaitForFrames(40, 15s));
    int state = -1;
    EXPECT_TRUE(rig.video->GetChannelState(0, &state, nullptr, nullptr, 0));
    EXPECT_EQ(state, 0) << "running";
    EXPECT_TRUE(rig.video->StopChannel(0));
    const auto frames = rig.sink.Frames();
    EXPECT_EQ(frames[0].fourcc, FOURCC_H264);
    EXPECT_TRUE(test::HasNalType(frames[0].data, 7));
    for (size_t i = 1; i < frames.size(); ++i) {
        EXPECT_LT(test::Milliseconds(frames[i - 1].time), test::Milliseconds(frames[i].time));
        EXPECT_EQ(frames[i].source, "Tavrin");
    }
    const std::string scratch = test::OutputDir();
    std::string errors;
    test::ExpectLoopOf(
        test::FrameMd5("h264", test::WriteFrames(frames, scratch + "/got.h264"), scratch, &errors),
        test::FrameMd5("h264", test::MediaPath("h264_1slice.264"), scratch));
    EXPECT_EQ(errors, "");
    EXPECT_EQ(rig.log.CountContaining("Camera 127.0.0.1 is online"), 1u);
}

TEST(DriverVideo, MotionJpegOverBasicDecodesToTheSource) {
    HostRig rig(1, camsim::HttpAuthConfig::Mode::Basic);
    ASSERT_TRUE(rig.started);
    ASSERT_TRUE(rig.Open());
    ASSERT_TRUE(rig.video->StartChannel(0, &rig.sink, &rig.channel));
    ASSERT_TRUE(rig.sink.WaitForFrames(16, 15s));
    rig.Close();
    const auto frames = rig.sink.Frames();
    const std::string scratch = test::OutputDir();
    std::string errors;
    test::ExpectLoopOf(
        test::FrameMd5("mjpeg", test::WriteFrames(frames, scratch + "/got.mjpeg"), scratch, &errors),
        test::FrameMd5("mjpeg", test::ReferenceMjpeg("jpeg420", scratch), scratch));
    EXPECT_EQ(errors, "");
}

// Line breaks in a configured stream path stay out of the request line.
TEST(DriverVideo, StreamPathLineBreaksAreDropped) {
    HostRig rig(3, camsim::HttpAuthConfig::Mode::None);
    ASSERT_TRUE(rig.started);
    rig.config.SetCustomParameter(5, "h264\r\n");
    ASSERT_TRUE(rig.Open());
    ASSERT_TRUE(rig.video->StartChannel(0, &rig.sink, &rig.channel));
    EXPECT_TRUE(rig.sink.WaitForFrames(3, 15s));
}

TEST(DriverVideo, StopAndCloseDoNotWaitOutAHangingCamera) {
    HostRig rig(3, camsim::HttpAuthConfig::Mode::None);
    ASSERT_TRUE(rig.started);
    rig.simulator->Rtsp().SetReplyDelay(20000);
    ASSERT_TRUE(rig.Open());
    ASSERT_TRUE(rig.video->StartChannel(0, &rig.sink, &rig.channel));
    ASSERT_TRUE(rig.simulator->Rtsp().WaitUntil(
        [&] { return rig.simulator->Rtsp().Totals().connections >= 1; }, 10000));
    EXPECT_LT(MillisecondsOf([&] { rig.video->StopChannel(0); }), 1000);

    ASSERT_TRUE(rig.video->StartChannel(0, &rig.sink, &rig.channel));
    ASSERT_TRUE(rig.simulator->Rtsp().WaitUntil(
        [&] { return rig.simulator->Rtsp().Totals().connections >= 2; }, 10000));
    EXPECT_LT(MillisecondsOf([&] { rig.Close(); }), 1000);
    EXPECT_EQ(rig.log.CountContaining("cannot be stopped"), 0u);
}

// Streaming channels stop promptly when the camera stops answering: TEARDOWN goes out, its reply
// is not waited for, and the channels of one driver stop together rather than one after another.
TEST(DriverVideo, StreamingChannelsStopPromptlyWhenTheCameraFallsSilent) {
    constexpr int CHANNELS = 16;
    HostRig rig(3, camsim::HttpAuthConfig::Mode::None, CHANNELS);
    ASSERT_TRUE(rig.started);
    ASSERT_TRUE(rig.Open());
    for (int i = 0; i < CHANNELS; ++i)
        ASSERT_TRUE(rig.video->StartChannel(i, &rig.sink, &rig.channel));
    ASSERT_TRUE(rig.simulator->Rtsp().WaitUntil(
        [&] { return rig.simulator->Rtsp().Totals().playing >= CHANNELS; }, 30000));
    rig.simulator->Rtsp().SetReplyDelay(3000);
    EXPECT_LT(MillisecondsOf([&] { rig.video->StopChannel(0); }), 500);
    EXPECT_LT(MillisecondsOf([&] { rig.Close(); }), 1000);
    EXPECT_TRUE(rig.simulator->Rtsp().WaitUntil(
        [&] { return rig.CountRtsp("TEARDOWN") >= CHANNELS; }, 10000));
    EXPECT_EQ(rig.log.CountContaining("cannot be stopped"), 0u);
}

// A host that stops the channel from its own frame callback: no deadlock, no later frame.
TEST(DriverVideo, StopChannelFromInsideDeliverFrame) {
    HostRig rig(3, camsim::HttpAuthConfig::Mode::None);
    ASSERT_TRUE(rig.started);
    ASSERT_TRUE(rig.Open());
    std::atomic<int> stops{0};
    std::atomic<bool> stopResult{false};
    rig.sink.SetFrameCallback([&](const host::DeliveredFrame&) {
        if (stops++ == 0)
            stopResult = rig.video->StopChannel(0);
    });
    ASSERT_TRUE(rig.video->StartChannel(0, &rig.sink, &rig.channel));
    ASSERT_TRUE(rig.sink.WaitForFrames(1, 15s));
    // Every session set up is ended (on a loaded machine the first frame may come late enough for
    // the channel to have moved to RTP over TCP, which takes a second session).
    EXPECT_TRUE(rig.simulator->Rtsp().WaitUntil(
        [&] { return rig.CountRtsp("TEARDOWN") == rig.CountRtsp("SETUP"); }, 5000))
        << "the channel did not end its session by itself: " << rig.CountRtsp("SETUP")
        << " SETUP, " << rig.CountRtsp("TEARDOWN") << " TEARDOWN, "
        << rig.log.CountContaining("RTP now comes") << " transport moves";
    EXPECT_GE(rig.CountRtsp("SETUP"), 1u);
    EXPECT_TRUE(stopResult);
    EXPECT_EQ(rig.sink.FrameCount(), 1u);
    int state = -1;
    EXPECT_FALSE(rig.video->GetChannelState(0, &state, nullptr, nullptr, 0));
    EXPECT_LT(MillisecondsOf([&] { rig.Close(); }), 1000);
}

// A host that changes the format, pauses or resumes the channel from its own frame callback (the
// packet-queue thread of an RTP channel): the call returns, and closing afterwards is prompt. A
// format change there cannot wait for the capture thread: it ends the channel and fails, as it
// does on the capture thread.
TEST(DriverVideo, ChannelOperationsFromInsideDeliverFrame) {
    for (const std::string operation : {"format", "pause", "resume"}) {
        HostRig rig(3, camsim::HttpAuthConfig::Mode::None);
        ASSERT_TRUE(rig.started);
        ASSERT_TRUE(rig.Open());
        host::Resolution size(640, 480);
        std::atomic<int> calls{0};
        std::atomic<int> result{-1};
        rig.sink.SetFrameCallback([&](const host::DeliveredFrame&) {
            if (calls++ != 0)
                return;
            if (operation == "format")
                result = rig.video->ChangeChannelFormat(0, &size, 40);
            else if (operation == "pause")
                result = rig.video->PauseChannel(0);
            else
                result = rig.video->ResumeChannel(0);
        });
        ASSERT_TRUE(rig.video->StartChannel(0, &rig.sink, &rig.channel));
        ASSERT_TRUE(rig.sink.WaitForFrames(1, 15s));
        ASSERT_TRUE(rig.simulator->Rtsp().WaitUntil([&] { return result != -1; }, 10000))
            << operation << " did not return";
        EXPECT_EQ(result, operation == "format" ? 0 : 1) << operation;
        EXPECT_LT(MillisecondsOf([&] { rig.Close(); }), 5000) << operation;
    }
}

// A format change restarts the channel on the camera: the new size is configured, the quality
// the channel started with is kept (the host passes none), and pictures come again.
TEST(DriverVideo, FormatChangeConfiguresTheNewSizeAndKeepsTheQuality) {
    for (const auto& [codec, prefix] : {std::pair{3, "h264"}, std::pair{1, "jpeg"}}) {
        SCOPED_TRACE(prefix);
        HostRig rig(codec, camsim::HttpAuthConfig::Mode::None);
        ASSERT_TRUE(rig.started);
        rig.channel.stream.quality = 90;
        ASSERT_TRUE(rig.Open());
        ASSERT_TRUE(rig.video->StartChannel(0, &rig.sink, &rig.channel));
        ASSERT_TRUE(rig.sink.WaitForFrames(3, 15s));
        const std::string resolution = std::string(prefix) + "_resol";
        const std::string quality = std::string(prefix) + "_quality";
        EXPECT_EQ(rig.simulator->Cgi().Setting(resolution), "0");  // 320x240
        EXPECT_EQ(rig.simulator->Cgi().Setting(quality), "4");     // 90 of 100

        host::Resolution size(640, 480);
        ASSERT_TRUE(rig.video->ChangeChannelFormat(0, &size, 40));
        const size_t before = rig.sink.FrameCount();
        EXPECT_TRUE(rig.sink.WaitForFrames(before + 3, 15s));
        EXPECT_EQ(rig.simulator->Cgi().Setting(resolution), "1");
        EXPECT_EQ(rig.simulator->Cgi().Setting(quality), "4");
        EXPECT_EQ(rig.CountRtsp("DESCRIBE"), 2u) << "the stream was opened again";
    }
}

// Host threads start, stop, query and change the format of two channels at once for a bounded
// time; the sanitizer builds judge the races.
TEST(DriverVideo, HostThreadsRacingOnTwoChannels) {
    HostRig rig(3, camsim::HttpAuthConfig::Mode::None, 2);
    ASSERT_TRUE(rig.started);
    ASSERT_TRUE(rig.Open());
    host::CaptureSink sinks[2];
    const auto until = std::chrono::steady_clock::now() + 10s;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            host::ChannelConfig config(320, 240);
            host::Resolution size(320, 240);
            for (int i = t; std::chrono::steady_clock::now() < until; ++i) {
                const unsigned index = i % 2;
                int state = 0;
                switch ((i / 2 + t) % 8) {
                case 0: rig.video->StartChannel(index, &sinks[index], &config); break;
                case 1: rig.video->StopChannel(index); break;
                case 2: rig.video->ChangeChannelFormat(index, &size, 40); break;
                case 3: rig.video->PauseChannel(index), rig.video->ResumeChannel(index); break;
                default:  // mostly queries, so that streams run between the changes
                    for (int k = 0; k < 20; ++k)
                        rig.video->GetChannelState(index, &state, nullptr, nullptr, 0);
                }
                sinks[index].WaitForFrames(sinks[index].FrameCount() + 1, 1000ms);
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_LT(MillisecondsOf([&] { rig.Close(); }), 2000);
    EXPECT_GT(sinks[0].FrameCount() + sinks[1].FrameCount(), 0u);
    EXPECT_EQ(rig.log.CountContaining("cannot be stopped"), 0u);
}

// Motion-JPEG wider than 1600, or for a camera without an RTSP Motion-JPEG stream, comes as a
// server-push reply; the rest over RTSP.
TEST(DriverVideo, MotionJpegTransportFollowsTheWidthAndTheStreamPath) {
    struct Case {
        uint16_t width;
        const char* path;
        bool overHttp;
    };
    for (const Case& c : {Case{1601, "mjpeg", true}, Case{1600, "mjpeg", false},
                          Case{320, "noRtspMjpeg", true}, Case{320, "NORTSPMJPEG", false}}) {
        SCOPED_TRACE(std::to_string(c.width) + " " + c.path);
        HostRig rig(1, camsim::HttpAuthConfig::Mode::None);
        ASSERT_TRUE(rig.started);
        rig.config.SetCustomParameter(4, c.path);
        rig.channel.format.resolution = host::Resolution(c.width, c.width * 9 / 16);
        ASSERT_TRUE(rig.Open());
        ASSERT_TRUE(rig.video->StartChannel(0, &rig.sink, &rig.channel));
        if (c.overHttp) {
            ASSERT_TRUE(rig.sink.WaitForFrames(3, 15s));
        } else {
            ASSERT_TRUE(rig.simulator->Rtsp().WaitUntil([&] { return rig.CountRtsp("DESCRIBE") >= 1; },
                                                        10000));
        }
        rig.Close();
        EXPECT_EQ(test::CountHttpRequests(*rig.simulator, "/liveimg.cgi") > 0, c.overHttp);
        EXPECT_EQ(rig.CountRtsp("DESCRIBE") > 0, !c.overHttp);
    }
}
