// The server-push Motion-JPEG channel against the simulated camera.
#include "channels/mjpeg_http_channel.h"

#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "channels/channel_rig.h"
#include "channels/segment_pictures.h"
#include "support/stream_check.h"

using namespace norvane;
using namespace std::chrono_literals;
using test::ChannelRig;

namespace {

std::vector<std::string> Decode(const std::vector<host::DeliveredFrame>& frames,
                                const std::string& scratch) {
    std::string errors;
    auto hashes = test::FrameMd5("mjpeg", test::WriteFrames(frames, scratch + "/got.mjpeg"),
                                 scratch, &errors);
    EXPECT_EQ(errors, "");
    return hashes;
}

size_t CountPushRequests(ChannelRig& rig) {
    return test::CountHttpRequests(*rig.camera, "/liveimg.cgi");
}

bool StartChannel(CMjpegHttpChannel& channel) {
    const CAPTURE_PARAMS params = ChannelRig::Params();
    return channel.Start(&params);
}

}  // namespace

TEST(MjpegHttpChannel, PicturesDecodeToTheSourceInOrder) {
    ChannelRig rig;
    ASSERT_TRUE(rig.started);
    CMjpegHttpChannel channel(0, &rig.driver, &rig.sink);
    ASSERT_TRUE(StartChannel(channel));
    ASSERT_TRUE(rig.sink.WaitForFrames(12, 15s));
    EXPECT_EQ(channel.GetState(), Running);
    channel.Stop();
    const auto frames = rig.sink.Frames();
    for (const auto& frame : frames) {
        EXPECT_EQ(frame.fourcc, FOURCC_JPEG);
        EXPECT_EQ(frame.width, 320u);
        EXPECT_EQ(frame.height, 240u);
        EXPECT_TRUE(frame.stamped);
    }
    const std::string scratch = test::OutputDir();
    test::ExpectLoopOf(Decode(frames, scratch),
                       test::FrameMd5("mjpeg", test::ReferenceMjpeg("jpeg420", scratch), scratch));
    // Group 2 at 25 fps asks for push rate 5, after configuring the stream.
    const auto requests = rig.CgiRequests();
    EXPECT_EQ(requests.front(), "/cgi-bin/codec_stream.cgi?status=1");
    EXPECT_NE(std::find(requests.begin(), requests.end(), "/liveimg.cgi?serverpush=1&rate=5"),
              requests.end());
}

// The same pictures whatever sizes of writes carry the stream, and whatever lies between them.
TEST(MjpegHttpChannel, ChunkedAndSpoiltStreamsGiveTheSamePictures) {
    struct Case {
        const char* name;
        camsim::PushShape shape;
    };
    const std::vector<Case> cases{
        {"bytes one by one", {1, 0, false, 0}},
        {"pieces of 7", {7, 0, false, 0}},
        {"pieces of 64 with junk between parts", {64, 0, true, 0}},
        {"random pieces up to 300", {300, 11, false, 0}},
        {"junk, a part without end and one without frame header", {0, 0, true, 3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ChannelRig rig;
        ASSERT_TRUE(rig.started);
        rig.camera->SetPushShape(c.shape);
        CMjpegHttpChannel channel(0, &rig.driver, &rig.sink);
        ASSERT_TRUE(StartChannel(channel));
        ASSERT_TRUE(rig.sink.WaitForFrames(6, 15s));
        channel.Stop();
        const std::string scratch = test::OutputDir();
        const auto got = Decode(rig.sink.Frames(), scratch);
        const auto reference =
            test::FrameMd5("mjpeg", test::ReferenceMjpeg("jpeg420", scratch), scratch);
        if (!c.shape.brokenEvery) {
            test::ExpectLoopOf(got, reference);
            continue;
        }
        const std::set<std::string> known(reference.begin(), reference.end());
        for (const auto& hash : got)
            EXPECT_TRUE(known.count(hash)) << "only whole source pictures are delivered";
        EXPECT_GE(channel.GetDroppedPictures(), 1u);
    }
}

// A camera's pictures with an Exif thumbnail, a comment or an APP0 segment that hold marker bytes
// arrive whole, each with its own size.
TEST(MjpegHttpChannel, MarkersInsideSegmentsDoNotCutThePictures) {
    const auto pictures = test::SegmentPictures();
    ASSERT_EQ(pictures.size(), 3u);
    ChannelRig rig;
    ASSERT_TRUE(rig.started);
    std::vector<camsim::Bytes> served;
    for (const auto& picture : pictures)
        served.push_back(picture.data);
    rig.camera->SetPushPictures(served);
    rig.camera->SetPushShape({100, 5, false, 0});  // random pieces up to 100 bytes
    CMjpegHttpChannel channel(0, &rig.driver, &rig.sink);
    ASSERT_TRUE(StartChannel(channel));
    EXPECT_TRUE(rig.sink.WaitForFrames(6, 15s));
    channel.Stop();
    const auto frames = rig.sink.Frames();
    ASSERT_GE(frames.size(), 6u);
    for (size_t i = 0; i < frames.size(); ++i) {
        const auto& expected = pictures[i % pictures.size()];
        SCOPED_TRACE(expected.name);
        EXPECT_EQ(frames[i].data, expected.data);
        EXPECT_EQ(frames[i].width, expected.width);
        EXPECT_EQ(frames[i].height, expected.height);
    }
    EXPECT_EQ(channel.GetDroppedPictures(), 0u);
}

TEST(MjpegHttpChannel, RetriesAfterASecondThriceThenEveryFiveSeconds) {
    ChannelRig rig;
    ASSERT_TRUE(rig.started);
    rig.camera->SetPageFault("/liveimg.cgi", camsim::HttpReply::Text(503, "busy\r\n"));
    CMjpegHttpChannel channel(0, &rig.driver, &rig.sink);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(StartChannel(channel));
    auto waitFor = [&](size_t n) {
        EXPECT_TRUE(
            rig.camera->Http().WaitUntil([&] { return CountPushRequests(rig) >= n; }, 15000));
        return std::chrono::steady_clock::now() - start;
    };
    // Attempt by attempt: three waits of a second, then one of five. The upper bounds only tell a
    // short wait from the long one, generously for sanitizer builds on busy cores.
    std::vector<std::chrono::steady_clock::duration> at;
    for (size_t n = 1; n <= 5; ++n)
        at.push_back(waitFor(n));
    for (size_t i = 1; i <= 3; ++i) {
        EXPECT_GE(at[i] - at[i - 1], 950ms) << "wait " << i;
        EXPECT_LT(at[i] - at[i - 1], 4500ms) << "wait " << i << " is a short one";
    }
    EXPECT_GE(at[4] - at[3], 4900ms) << "then five seconds";
    EXPECT_EQ(channel.GetState(), SignalLost);
    EXPECT_LT(test::MillisecondsOf([&] { channel.Stop(); }), 1000)
        << "stop during the five-second wait";
}

// A picture the host refuses closes the stream; the channel opens it again and pictures come.
TEST(MjpegHttpChannel, ARefusedPictureClosesTheStreamAndItIsOpenedAgain) {
    ChannelRig rig;
    ASSERT_TRUE(rig.started);
    CMjpegHttpChannel channel(0, &rig.driver, &rig.sink);
    ASSERT_TRUE(StartChannel(channel));
    ASSERT_TRUE(rig.sink.WaitForFrames(3, 15s));
    const size_t opened = CountPushRequests(rig);
    rig.sink.SetAccept(false);
    EXPECT_TRUE(
        rig.camera->Http().WaitUntil([&] { return CountPushRequests(rig) > opened; }, 10000))
        << "the stream was not opened again";
    rig.sink.SetAccept(true);
    EXPECT_TRUE(rig.sink.WaitForFrames(rig.sink.FrameCount() + 3, 15s));
    channel.Stop();
}

// The frame timer starts with the thread: the first failed attempt is no loss yet.
TEST(MjpegHttpChannel, LossIsReportedOnlyAfterTheFrameTimeOut) {
    ChannelRig rig;
    ASSERT_TRUE(rig.started);
    rig.camera->SetPageFault("/liveimg.cgi", camsim::HttpReply::Text(503, "busy\r\n"));
    CMjpegHttpChannel channel(0, &rig.driver, &rig.sink);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(StartChannel(channel));
    ASSERT_TRUE(rig.sink.WaitForSignalLost(1, 5s));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 600ms);
    channel.Stop();
}

TEST(MjpegHttpChannel, CameraOffAndBack) {
    ChannelRig rig;
    ASSERT_TRUE(rig.started);
    CMjpegHttpChannel channel(0, &rig.driver, &rig.sink);
    ASSERT_TRUE(StartChannel(channel));
    ASSERT_TRUE(rig.sink.WaitForFrames(3, 15s));
    const auto offAt = std::chrono::steady_clock::now();
    ASSERT_TRUE(rig.camera->SetOffline(true));
    ASSERT_TRUE(rig.sink.WaitForSignalLost(1, 10s));
    EXPECT_GE(std::chrono::steady_clock::now() - offAt, 600ms) << "only after the frame time-out";
    EXPECT_EQ(rig.driver.log.CountContaining("Signal was lost for camera 127.0.0.1"), 1u);
    ASSERT_TRUE(rig.camera->SetOffline(false));
    rig.sink.Clear();
    EXPECT_TRUE(rig.sink.WaitForFrames(3, 15s));
    EXPECT_EQ(rig.driver.log.CountContaining("Camera 127.0.0.1 is online"), 2u);
    channel.Stop();
}

// A push stream that stays open but never carries a picture is given up after the frame time-out.
TEST(MjpegHttpChannel, AStreamOfJunkIsGivenUp) {
    ChannelRig rig;
    ASSERT_TRUE(rig.started);
    camsim::HttpReply junk;
    junk.headers.emplace_back("Content-Type", "multipart/x-mixed-replace;boundary=x");
    junk.stream = [](camsim::HttpBodyWriter& out) {
        for (int i = 0; i < 600; ++i)
            if (!out.Send("--x\r\n\r\nno pictures here\xFF\x00\r\n") || !out.Pause(50))
                return false;
        return false;
    };
    rig.camera->SetPageFault("/liveimg.cgi", junk);
    CMjpegHttpChannel channel(0, &rig.driver, &rig.sink);
    ASSERT_TRUE(StartChannel(channel));
    EXPECT_TRUE(rig.sink.WaitForSignalLost(1, 10s));
    EXPECT_TRUE(rig.camera->Http().WaitUntil([&] { return CountPushRequests(rig) >= 2; }, 10000))
        << "the junk stream was closed and opened again";
    EXPECT_EQ(rig.sink.FrameCount(), 0u);
    channel.Stop();
}

TEST(MjpegHttpChannel, PausedChannelDeliversNothingAndReportsNoLoss) {
    ChannelRig rig;
    ASSERT_TRUE(rig.started);
    CMjpegHttpChannel channel(0, &rig.driver, &rig.sink);
    ASSERT_TRUE(StartChannel(channel));
    ASSERT_TRUE(rig.sink.WaitForFrames(3, 15s));
    ASSERT_TRUE(channel.Pause());
    // A delivery that passed the pause check before Pause returned may still be counted: at most one.
    const size_t frames = rig.sink.FrameCount();
    EXPECT_FALSE(rig.sink.WaitForFrames(frames + 2, 1500ms)) << "more than twice the time-out";
    EXPECT_EQ(rig.sink.SignalLostCount(), 0u);
    EXPECT_EQ(rig.driver.log.CountContaining("Signal was lost"), 0u);
    ASSERT_TRUE(channel.Resume());
    EXPECT_TRUE(rig.sink.WaitForFrames(frames + 3, 10s));
    channel.Stop();
}

TEST(MjpegHttpChannel, StopReturnsPromptlyInEveryState) {
    struct Case {
        const char* what;
        std::function<void(ChannelRig&)> fault;
        std::function<bool(ChannelRig&)> reached;
    };
    const std::vector<Case> cases{
        {"configuring over a slow reply", [](ChannelRig& rig) { rig.camera->SetReplyDelay(8000); },
         [](ChannelRig& rig) {
             return rig.camera->Http().WaitUntil(
                 [&] { return rig.camera->Http().RequestCount() >= 1; }, 5000);
         }},
        {"waiting for the push reply",
         [](ChannelRig& rig) {
             camsim::HttpReply silent;
             silent.action = camsim::HttpReply::Action::Silent;
             rig.camera->SetPageFault("/liveimg.cgi", silent);
         },
         [](ChannelRig& rig) {
             return rig.camera->Http().WaitUntil([&] { return CountPushRequests(rig) >= 1; }, 5000);
         }},
        {"streaming", [](ChannelRig&) {},
         [](ChannelRig& rig) { return rig.sink.WaitForFrames(2, 10s); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ChannelRig rig;
        ASSERT_TRUE(rig.started);
        rig.driver.info.timeout = 10000;  // only an abort ends a wait early
        rig.driver.info.timeout2 = 10000;
        c.fault(rig);
        CMjpegHttpChannel channel(0, &rig.driver, &rig.sink);
        ASSERT_TRUE(StartChannel(channel));
        ASSERT_TRUE(c.reached(rig));
        EXPECT_LT(test::MillisecondsOf([&] { channel.Stop(); }), 1000);
        EXPECT_EQ(channel.GetState(), Stopped);
    }
}
