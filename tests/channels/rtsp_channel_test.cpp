// The Sanyo RTSP channels against the simulated camera: frames, configuration, authentication,
// keep-alive, pause, loss, camera loss and the stop bound.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <thread>

#include "camsim/udp_sender.h"
#include "channels/channel_rig.h"
#include "channels/h264_rtsp_channel.h"
#include "channels/mjpeg_rtsp_channel.h"
#include "support/silent_name_server.h"
#include "support/stream_check.h"

using namespace norvane;
using namespace std::chrono_literals;
using test::ChannelRig;
using test::ExpectLoopOf;
using test::HasNalType;
using test::Milliseconds;
using test::WriteFrames;

namespace {

// Starts the channel and waits for `frames` frames.
template <typename Channel>
bool StartAndCollect(ChannelRig& rig, Channel& channel, size_t frames,
                     CAPTURE_PARAMS params = ChannelRig::Params()) {
    return channel.Start(&params) && rig.sink.WaitForFrames(frames, 15s);
}

}  // namespace

TEST(SanyoRtspChannel, H264ArrivesFrameForFrameFromTheFirstKeyFrameWithIncreasingTimes) {
    ChannelRig rig;
    ASSERT_TRUE(rig.started);
    CH264ChannelRTSP channel(0, &rig.driver, &rig.sink);
    ASSERT_TRUE(StartAndCollect(rig, channel, 60));
    EXPECT_EQ(channel.GetState(), Running);
    channel.Stop();
    EXPECT_EQ(channel.GetState(), Stopped);

    const auto frames = rig.sink.Frames();
    ASSERT_GE(frames.size(), 60u);
    EXPECT_EQ(frames[0].fourcc, FOURCC_H264);
    size_t keyFrames = 0;
    for (size_t i = 0; i < frames.size(); ++i) {
        const bool key = frames[i].fourcc == FOURCC_H264;
        keyFrames += key;
        EXPECT_TRUE(key || frames[i].fourcc == FOURCC_I264) << i;
        EXPECT_EQ(HasNalType(frames[i].data, 7), key) << "SPS exactly in the key frames, " << i;
        EXPECT_EQ(frames[i].width, 320u);
        EXPECT_EQ(frames[i].height, 240u);
        if (i > 0) {
            EXPECT_LT(Milliseconds(frames[i - 1].time), Milliseconds(frames[i].time)) << i;
        }
    }
    EXPECT_GE(keyFrames, 5u);  // one in ten

    const std::string scratch = test::OutputDir();
    std::string errors;
    ExpectLoopOf(
        test::FrameMd5("h264", WriteFrames(frames, scratch + "/got.h264"), scratch, &errors),
        test::FrameMd5("h264", test::MediaPath("h264_1slice.264"), scratch));
    EXPECT_EQ(errors, "");
    EXPECT_EQ(rig.driver.log.CountContaining("Camera 127.0.0.1 is online"), 1u);
    EXPECT_EQ(rig.driver.log.CountContaining("Camera 127.0.0.1 is offline. Channel was stopped"),
              1u);
    EXPECT_EQ(rig.CountRtsp("TEARDOWN"), 1u);
}

TEST(SanyoRtspChannel, MotionJpegPicturesDecodeToTheSource) {
    ChannelRig rig;
    ASSERT_TRUE(rig.started);
    CMJPEGChannelRTSP channel(0, &rig.driver, &rig.sink);
    ASSERT_TRUE(StartAndCollect(rig, channel, 20));
    channel.Stop();
    const auto frames = rig.sink.Frames();
    for (const auto& frame : frames)
        EXPECT_EQ(frame.fourcc, FOURCC_JPEG);
    const std::string scratch = test::OutputDir();
    std::string errors;
    ExpectLoopOf(
        test::FrameMd5("mjpeg", WriteFrames(frames, scratch + "/got.mjpeg"), scratch, &errors),
        test::FrameMd5("mjpeg", test::ReferenceMjpeg("jpeg420", scratch), scratch));
    EXPECT_EQ(errors, "");
}

class SanyoRtspChannelAuth : public ::testing::TestWithParam<camsim::HttpAuthConfig::Mode> {};

TEST_P(SanyoRtspChannelAuth, LogsInOnTheCgiAndTheRtspSide) {
    ChannelRig rig(GetParam());
    ASSERT_TRUE(rig.started);
    CH264ChannelRTSP channel(0, &rig.driver, &rig.sink);
    ASSERT_TRUE(StartAndCollect(rig, channel, 5));
    channel.Stop();
    for (const auto& request : rig.camera->Http().Requests())
        if (request.status == 200) {
            EXPECT_EQ(request.user, "admin") << request.target;
        }
    const auto rtsp = rig.camera->Rtsp().Requests();
    ASSERT_GE(rtsp.size(), 4u);
    EXPECT_EQ(rtsp[0].method, "DESCRIBE");
    EXPECT_EQ(rtsp[0].status, 401);
    EXPECT_EQ(rtsp[1].method, "DESCRIBE");
    EXPECT_EQ(rtsp[1].status, 200);
}

INSTANTIATE_TEST_SUITE_P(Schemes, SanyoRtspChannelAuth,
                         ::testing::Values(camsim::HttpAuthConfig::Mode::Basic,
                                           camsim::HttpAuthConfig::Mode::Digest));

TEST(SanyoRtspChannel, ConfiguresTheCameraOnceAndASecondConnectionWritesNothing) {
    ChannelRig rig;
    ASSERT_TRUE(rig.started);
    rig.driver.custom[8] = "1";  // the camera's own aspect ratio
    CH264ChannelRTSP channel(0, &rig.driver, &rig.sink);
    ASSERT_TRUE(StartAndCollect(rig, channel, 3));
    channel.Stop();
    // Group 2, 320x240 at 25 fps, quality 50: resolution 0, frame rate 2, quality 2.
    const std::vector<std::string> first = rig.CgiRequests();
    ASSERT_EQ(first.size(), 5u) << ::testing::PrintToString(first);
    EXPECT_EQ(first[0], "/cgi-bin/codec_stream.cgi?status=1");
    EXPECT_EQ(first[1], "/cgi-bin/aspect.cgi?status=1");
    EXPECT_EQ(first[2], "/cgi-bin/lang.cgi");
    EXPECT_EQ(first[3].rfind("/cgi-bin/codec_stream.cgi?status=1&h264_resol=0", 0), 0u) << first[3];
    EXPECT_EQ(first[4], "/cgi-bin/codec_stream.cgi?submit=1&1258359654505");
    EXPECT_EQ(rig.camera->Cgi().Setting("h264_resol"), "0");
    EXPECT_EQ(rig.camera->Cgi().Setting("h264_frame_rate"), "2");
    EXPECT_EQ(rig.camera->Cgi().Setting("h264_quality"), "2");

    rig.sink.Clear();
    ASSERT_TRUE(StartAndCollect(rig, channel, 3));
    channel.Stop();
    const std::vector<std::string> all = rig.CgiRequests();
    EXPECT_EQ(std::vector<std::string>(all.begin() + 5, all.end()),
              (std::vector<std::string>{"/cgi-bin/codec_stream.cgi?status=1",
                                        "/cgi-bin/aspect.cgi?status=1"}));
}

TEST(SanyoRtspChannel, CameraLossIsJudgedFromTheFrameAgeAndTheChannelComesBack) {
    ChannelRig rig;
    ASSERT_TRUE(rig.started);
    CH264ChannelRTSP channel(0, &rig.driver, &rig.sink);
    ASSERT_TRUE(StartAndCollect(rig, channel, 5));

    const auto lostAt = std::chrono::steady_clock::now();
    ASSERT_TRUE(rig.camera->SetOffline(true));
    ASSERT_TRUE(rig.sink.WaitForSignalLost(1, 10s));
    const auto lostAfter = std::chrono::steady_clock::now() - lostAt;
    EXPECT_GE(lostAfter, 2 * 600ms) << "notice only after twice the frame time-out";
    EXPECT_TRUE(rig.driver.log.WaitForText("Signal was lost for camera 127.0.0.1", 1s));
    EXPECT_NE(channel.GetState(), Running);

    ASSERT_TRUE(rig.camera->SetOffline(false));
    rig.sink.Clear();
    ASSERT_TRUE(rig.sink.WaitForFrames(5, 15s));
    EXPECT_EQ(channel.GetState(), Running);
    EXPECT_EQ(rig.driver.log.CountContaining("Camera 127.0.0.1 is online"), 2u);
    // A fresh configuration before the new session (the camera's request log restarted with it).
    const std::vector<std::string> after = rig.CgiRequests();
    ASSERT_FALSE(after.empty());
    EXPECT_EQ(after[0], "/cgi-bin/codec_stream.cgi?status=1");
    channel.Stop();
}

// Keep-alives hold a short session (announced 2 s: one about every second; ended after 3 s
// without one). Receiver reports would keep it too: the camera sends one sender report only.
struct KeepAliveCase {
    const char* name;
    bool getParameterOffered;
    bool optionsKeepAlive;      // the server counts OPTIONS as activity
    unsigned announcedSeconds;  // 0: none, the default applies
    const char* keepAlive;      // the method that holds the session
};

class SanyoRtspKeepAlive : public ::testing::TestWithParam<KeepAliveCase> {};

// A channel whose default session time-out, used when the server announces none, is 2 s
// instead of 60 s.
class ShortDefaultTimeOutChannel final : public CH264ChannelRTSP {
public:
    using CH264ChannelRTSP::CH264ChannelRTSP;
    ~ShortDefaultTimeOutChannel() override { Stop(); }

protected:
    void FillConnectionParams(RTSPConnectionParams& connection) override {
        CH264ChannelRTSP::FillConnectionParams(connection);
        connection.defaultSessionTimeout = 2;
    }
};

TEST_P(SanyoRtspKeepAlive, TheOfferedKeepAliveHoldsTheSession) {
    const KeepAliveCase& c = GetParam();
    ChannelRig rig;
    rig.camera->Rtsp().SetSessionTimeout(c.announcedSeconds, 3000);
    rig.camera->Rtsp().SetGetParameter(c.getParameterOffered);
    rig.camera->Rtsp().SetOptionsKeepAlive(c.optionsKeepAlive);
    rig.camera->Rtsp().SetSenderReportInterval(60000);
    ASSERT_TRUE(rig.started);
    ShortDefaultTimeOutChannel channel(0, &rig.driver, &rig.sink);
    ASSERT_TRUE(StartAndCollect(rig, channel, 3));
    EXPECT_TRUE(
        rig.camera->Rtsp().WaitUntil([&] { return rig.CountRtsp(c.keepAlive) >= 4; }, 10000));
    const size_t frames = rig.sink.FrameCount();
    EXPECT_TRUE(rig.sink.WaitForFrames(frames + 10, 5s));
    channel.Stop();
    EXPECT_EQ(rig.camera->Rtsp().Totals().timedOut, 0u);
    EXPECT_EQ(rig.CountRtsp("SETUP"), 1u) << "the one session lasted";
    if (c.getParameterOffered) {
        EXPECT_EQ(rig.CountRtsp("OPTIONS"), 1u) << "once, to learn what the server offers";
    } else {
        EXPECT_EQ(rig.CountRtsp("GET_PARAMETER"), 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(Servers, SanyoRtspKeepAlive,
                         ::testing::Values(
                             // As VLC's server: only GET_PARAMETER counts.
                             KeepAliveCase{"getParameterOffered", true, false, 2, "GET_PARAMETER"},
                             KeepAliveCase{"getParameterWithoutAnnouncedTimeOut", true, false, 0,
                                           "GET_PARAMETER"},
                             KeepAliveCase{"optionsOnly", false, true, 2, "OPTIONS"},
                             KeepAliveCase{"optionsWithoutAnnouncedTimeOut", false, true, 0,
                                           "OPTIONS"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SanyoRtspChannel, PauseAndResumeSendOneRequestEachAndNoFrameArrivesBetween) {
    ChannelRig rig;
    ASSERT_TRUE(rig.started);
    CH264ChannelRTSP channel(0, &rig.driver, &rig.sink);
    ASSERT_TRUE(StartAndCollect(rig, channel, 5));
    ASSERT_TRUE(channel.Pause());
    // Counted once the camera has the PAUSE: a delivery already under way when Pause returned has
    // long ended by then (the capture thread sends the request on its next pass).
    EXPECT_TRUE(rig.camera->Rtsp().WaitUntil([&] { return rig.CountRtsp("PAUSE") == 1; }, 5000));
    const size_t frames = rig.sink.FrameCount();
    // Longer than twice the frame time-out: a paused channel judges no loss.
    EXPECT_FALSE(rig.sink.WaitForFrames(frames + 1, 1500ms));
    EXPECT_EQ(rig.sink.SignalLostCount(), 0u);
    EXPECT_EQ(channel.GetState(), Running);
    ASSERT_TRUE(channel.Resume());
    EXPECT_TRUE(rig.sink.WaitForFrames(frames + 5, 10s));
    channel.Stop();
    EXPECT_EQ(rig.CountRtsp("PAUSE"), 1u);
    EXPECT_EQ(rig.CountRtsp("PLAY"), 2u);
    EXPECT_EQ(rig.CountRtsp("SETUP"), 1u);
}

struct LossCase {
    const char* name;
    unsigned lossPercent;
    unsigned reorderEvery;
    size_t frames;  // enough for the faults to strike
};

class SanyoRtspChannelLoss : public ::testing::TestWithParam<LossCase> {};

// Every delivered frame decodes, and after a gap (lost pictures) the next frame is a key frame.
TEST_P(SanyoRtspChannelLoss, NeverDeliversAnUndecodableFrame) {
    ChannelRig rig;
    camsim::RtpFaults faults;
    faults.lossPercent = GetParam().lossPercent;
    faults.reorderEvery = GetParam().reorderEvery;
    rig.camera->Rtsp().SetRtpFaults(faults);
    ASSERT_TRUE(rig.started);
    CH264ChannelRTSP channel(0, &rig.driver, &rig.sink);
    ASSERT_TRUE(StartAndCollect(rig, channel, GetParam().frames));
    channel.Stop();
    const camsim::RtpFaultCounts counts = rig.camera->Rtsp().Totals().faults;
    EXPECT_GT(counts.lost + counts.reordered, 0u);
    const auto frames = rig.sink.Frames();
    EXPECT_EQ(frames[0].fourcc, FOURCC_H264);
    const std::string scratch = test::OutputDir();
    std::string errors;
    const auto decoded =
        test::FrameMd5("h264", WriteFrames(frames, scratch + "/got.h264"), scratch, &errors);
    EXPECT_EQ(errors, "");
    ASSERT_EQ(decoded.size(), frames.size());
    // Each picture is a source picture; where the source order skips (pictures were lost), the
    // delivered frame is a key frame.
    const auto reference = test::FrameMd5("h264", test::MediaPath("h264_1slice.264"), scratch);
    size_t gaps = 0, previous = 0;
    for (size_t i = 0; i < decoded.size(); ++i) {
        const auto at = std::find(reference.begin(), reference.end(), decoded[i]);
        ASSERT_NE(at, reference.end()) << "frame " << i << " is not a source picture";
        const size_t index = static_cast<size_t>(at - reference.begin());
        if (i > 0 && index != (previous + 1) % reference.size()) {
            ++gaps;
            EXPECT_EQ(frames[i].fourcc, FOURCC_H264) << "frame " << i << " follows a gap";
        }
        previous = index;
    }
    EXPECT_GT(gaps, 0u) << "the faults cost pictures";
}

INSTANTIATE_TEST_SUITE_P(Faults, SanyoRtspChannelLoss,
                         ::testing::Values(LossCase{"loss1", 1, 0, 100},
                                           LossCase{"loss5", 5, 0, 25},
                                           LossCase{"reorder", 0, 40, 25}),
                         [](const auto& info) { return std::string(info.param.name); });

struct SpropCase {
    const char* name;
    std::string value;
};

class SanyoRtspChannelSprop : public ::testing::TestWithParam<SpropCase> {};

// sprop-parameter-sets that cannot be used do not stop the stream: its own SPS and PPS make the
// key frames, and the camera's fault is logged once however often it is described again.
TEST_P(SanyoRtspChannelSprop, UnusableSetsInTheSdpGiveWayToTheStreamsOwn) {
    ChannelRig rig;
    rig.camera->Rtsp().SetSpropParameterSets(GetParam().value);
    rig.camera->Rtsp().SetSessionFrameLimit(15);  // then each session falls quiet: a reconnect
    ASSERT_TRUE(rig.started);
    CH264ChannelRTSP channel(0, &rig.driver, &rig.sink);
    ASSERT_TRUE(StartAndCollect(rig, channel, 15));
    EXPECT_TRUE(
        rig.camera->Rtsp().WaitUntil([&] { return rig.CountRtsp("DESCRIBE") >= 3; }, 15000));
    EXPECT_TRUE(rig.sink.WaitForFrames(30, 15s));
    channel.Stop();

    const auto frames = rig.sink.Frames();
    ASSERT_GE(frames.size(), 30u);
    EXPECT_EQ(frames[0].fourcc, FOURCC_H264);
    for (size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(HasNalType(frames[i].data, 7), frames[i].fourcc == FOURCC_H264) << i;
        EXPECT_EQ(frames[i].width, 320u) << i;
        EXPECT_EQ(frames[i].height, 240u) << i;
    }
    const std::string scratch = test::OutputDir();
    std::string errors;
    const auto decoded =
        test::FrameMd5("h264", WriteFrames(frames, scratch + "/got.h264"), scratch, &errors);
    EXPECT_EQ(errors, "");
    EXPECT_EQ(decoded.size(), frames.size());
    const auto reference = test::FrameMd5("h264", test::MediaPath("h264_1slice.264"), scratch);
    for (size_t i = 0; i < decoded.size(); ++i) {
        EXPECT_NE(std::find(reference.begin(), reference.end(), decoded[i]), reference.end())
            << "frame " << i << " is not a source picture";
    }
    EXPECT_EQ(rig.driver.log.CountContaining("parameter sets in the SDP"), 1u);
}

INSTANTIATE_TEST_SUITE_P(Camera, SanyoRtspChannelSprop,
                         ::testing::Values(SpropCase{"OneEntry", "Z0IAKeKQFAe2AtwEBAaQeJEV"},
                                           SpropCase{"EmptyEntries", ","},
                                           SpropCase{"Oversized",
                                                     std::string(400, 'A') + ",aM48gA=="},
                                           SpropCase{"NotBase64", "!!!!,????"},
                                           SpropCase{"SpsThatDoesNotParse", "Z0IA,aM48gA=="}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SanyoRtspChannel, PacketsFromAnotherAddressAreNotTakenAndTheChannelReconnects) {
    ChannelRig rig;
    camsim::RtpFaults faults;
    faults.otherSource = true;
    rig.camera->Rtsp().SetRtpFaults(faults);
    ASSERT_TRUE(rig.started);
    CH264ChannelRTSP channel(0, &rig.driver, &rig.sink);
    const CAPTURE_PARAMS params = ChannelRig::Params();
    ASSERT_TRUE(channel.Start(&params));
    EXPECT_TRUE(
        rig.camera->Rtsp().WaitUntil([&] { return rig.CountRtsp("DESCRIBE") >= 2; }, 10000));
    EXPECT_EQ(rig.sink.FrameCount(), 0u);
    channel.Stop();
}

// Datagrams from the camera's address on the first RTP ports before any stream was asked for: the
// port search passes them by, and the stream is set up on a quiet pair above them.
TEST(SanyoRtspChannel, AStrayPacketDuringThePortSearchMovesItToTheNextPair) {
    constexpr uint16_t FLOODED = 4;  // even ports from the first one
    ChannelRig rig;
    ASSERT_TRUE(rig.started);
    platform::UdpSocket sender;
    ASSERT_TRUE(sender.Open(0, platform::LoopbackIPv4()));
    std::atomic<bool> done{false};
    std::thread stray([&] {
        const uint8_t packet[16] = {0x80, 96, 0, 1};           // an RTP header, four payload bytes
        for (int round = 0; round < 2000 && !done; ++round) {  // bounded: about 20 s
            for (uint16_t i = 0; i < FLOODED; ++i) {
                const uint16_t port = CBaseRTPChannel::FIRST_RTP_PORT + 2 * i;
                sender.SendTo(packet, sizeof packet,
                              platform::MakeInetAddress(platform::LoopbackIPv4(), port));
            }
            std::this_thread::sleep_for(10ms);  // pacing of the sender, not a synchronisation
        }
    });
    CH264ChannelRTSP channel(0, &rig.driver, &rig.sink);
    const CAPTURE_PARAMS params = ChannelRig::Params();
    const bool started = channel.Start(&params);
    const bool set =
        rig.camera->Rtsp().WaitUntil([&] { return rig.CountRtsp("SETUP") >= 1; }, 15000);
    done = true;
    stray.join();
    ASSERT_TRUE(started);
    ASSERT_TRUE(set);
    EXPECT_TRUE(rig.sink.WaitForFrames(3, 15s));
    channel.Stop();
    const auto requests = rig.camera->Rtsp().Requests();
    const auto setup = std::find_if(requests.begin(), requests.end(),
                                    [](const auto& r) { return r.method == "SETUP"; });
    ASSERT_NE(setup, requests.end());
    unsigned port = 0;
    ASSERT_EQ(std::sscanf(setup->transport.c_str(), "RTP/AVP;unicast;client_port=%u", &port), 1)
        << setup->transport;
    EXPECT_EQ(port % 2, 0u);
    EXPECT_GE(port, CBaseRTPChannel::FIRST_RTP_PORT + 2u * FLOODED) << setup->transport;
}

// Datagrams from the camera's address that reach the chosen pair after the port search but before
// the camera set the session up (a stale session still sending there, another program's stream)
// are no part of the stream: the first picture the host gets is the camera's.
TEST(SanyoRtspChannel, PacketsBeforeTheSessionIsSetUpAreNotTaken) {
    ChannelRig rig;
    ASSERT_TRUE(rig.started);
    rig.camera->Rtsp().SetReplyDelay(1000);  // the session comes late
    CH264ChannelRTSP channel(0, &rig.driver, &rig.sink);
    const CAPTURE_PARAMS params = ChannelRig::Params();
    ASSERT_TRUE(channel.Start(&params));
    // The port search is over once the channel connects for DESCRIBE.
    ASSERT_TRUE(rig.camera->Rtsp().WaitUntil(
        [&] { return rig.camera->Rtsp().Totals().connections >= 1; }, 10000));
    platform::UdpSocket sender;
    ASSERT_TRUE(sender.Open(0, platform::LoopbackIPv4()));
    // A whole key picture in three single-NAL packets: parameter sets, then the slice (marker).
    const std::vector<std::vector<uint8_t>> nals = {
        {0x67, 0x42, 0x00, 0x1e, 0x95, 0xa8, 0x28, 0x0f, 0x64},
        {0x68, 0xce, 0x3c, 0x80},
        {0x65, 0x88, 0x84, 0x00, 0x33, 0xff, 0x5a, 0x5a}};
    for (size_t i = 0; i < nals.size(); ++i) {
        camsim::RtpHeaderFields header;
        header.marker = i + 1 == nals.size();
        header.sequence = static_cast<uint16_t>(i + 1);
        header.timestamp = 9;
        const camsim::Bytes packet = camsim::BuildRtpPacket(header, nals[i]);
        ASSERT_TRUE(sender.SendTo(packet.data(), packet.size(),
                                  platform::MakeInetAddress(platform::LoopbackIPv4(),
                                                            channel.GetRtpPort())));
    }
    // The DESCRIBE is answered a second after the strays were sent, ample time for the receiver to
    // have seen them.
    ASSERT_TRUE(
        rig.camera->Rtsp().WaitUntil([&] { return rig.CountRtsp("DESCRIBE") >= 1; }, 10000));
    rig.camera->Rtsp().SetReplyDelay(0);
    ASSERT_TRUE(rig.sink.WaitForFrames(1, 15s));
    channel.Stop();
    const std::vector<uint8_t> first = rig.sink.Frames().front().data;
    const std::vector<uint8_t>& stray = nals.back();
    EXPECT_EQ(std::search(first.begin(), first.end(), stray.begin(), stray.end()), first.end())
        << "the stray picture was delivered";
    EXPECT_GE(rig.CountRtsp("SETUP"), 1u);
}

TEST(SanyoRtspChannel, StopReturnsPromptlyWhateverTheCameraIsDoing) {
    struct Case {
        const char* what;
        std::function<void(ChannelRig&)> fault;
        std::function<bool(ChannelRig&)> reached;  // the channel is blocked where meant
    };
    const std::vector<Case> cases{
        {"configuring over a slow HTTP reply",
         [](ChannelRig& rig) { rig.camera->SetReplyDelay(8000); },
         [](ChannelRig& rig) {
             return rig.camera->Http().WaitUntil(
                 [&] { return rig.camera->Http().RequestCount() >= 1; }, 5000);
         }},
        {"a CGI page that never answers",
         [](ChannelRig& rig) {
             camsim::HttpReply silent;
             silent.action = camsim::HttpReply::Action::Silent;
             rig.camera->SetPageFault("/cgi-bin/aspect.cgi", silent);
         },
         [](ChannelRig& rig) {
             return rig.camera->Http().WaitUntil(
                 [&] { return rig.camera->Http().RequestCount() >= 2; }, 5000);
         }},
        {"waiting for DESCRIBE", [](ChannelRig& rig) { rig.camera->Rtsp().SetReplyDelay(8000); },
         [](ChannelRig& rig) {
             return rig.camera->Rtsp().WaitUntil(
                 [&] { return rig.camera->Rtsp().Totals().connections >= 1; }, 5000);
         }},
        {"streaming", [](ChannelRig&) {},
         [](ChannelRig& rig) { return rig.sink.WaitForFrames(3, 10s); }},
        // TEARDOWN goes out; its reply is not waited for once the stop has begun.
        {"streaming, then the camera stops answering", [](ChannelRig&) {},
         [](ChannelRig& rig) {
             const bool streaming = rig.sink.WaitForFrames(3, 10s);
             rig.camera->Rtsp().SetReplyDelay(8000);
             return streaming;
         }},
        {"streaming, then the camera trickles its replies", [](ChannelRig&) {},
         [](ChannelRig& rig) {
             const bool streaming = rig.sink.WaitForFrames(3, 10s);
             rig.camera->Rtsp().SetReplyTrickle(20);
             return streaming;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ChannelRig rig;
        ASSERT_TRUE(rig.started);
        rig.driver.info.timeout = 10000;  // the driver's own, so only an abort ends a wait
        c.fault(rig);
        CH264ChannelRTSP channel(0, &rig.driver, &rig.sink);
        const CAPTURE_PARAMS params = ChannelRig::Params();
        ASSERT_TRUE(channel.Start(&params));
        ASSERT_TRUE(c.reached(rig));
        // Well below one exchange's limit (twice the 500 ms receive time-out).
        EXPECT_LT(test::MillisecondsOf([&] { channel.Stop(); }), 500);
        EXPECT_EQ(rig.driver.log.CountContaining("cannot be stopped"), 0u);
    }
}

// A stop does not wait for a look-up of the camera's name that the resolver is slow to answer.
TEST(SlowResolver, StopDoesNotWaitForTheCamerasNameLookUp) {
    if (!test::SilentNameServer::Available())
        GTEST_SKIP() << "needs scripts/with-silent-resolver.sh";
    test::SilentNameServer names;
    ASSERT_TRUE(names.Open());
    ChannelRig rig;
    ASSERT_TRUE(rig.started);
    rig.driver.info.address = "camera.slow.test";
    CH264ChannelRTSP channel(0, &rig.driver, &rig.sink);
    const CAPTURE_PARAMS params = ChannelRig::Params();
    ASSERT_TRUE(channel.Start(&params));
    ASSERT_TRUE(names.WaitForQuery(5000));
    EXPECT_LT(test::MillisecondsOf([&] { channel.Stop(); }), 500);
}

// A DESCRIBE the camera never answers is logged, not just retried.
TEST(SanyoRtspChannel, AnUnansweredRequestIsLogged) {
    ChannelRig rig;
    ASSERT_TRUE(rig.started);
    rig.camera->Rtsp().SetReplyDelay(8000);
    CH264ChannelRTSP channel(0, &rig.driver, &rig.sink);
    const CAPTURE_PARAMS params = ChannelRig::Params();
    ASSERT_TRUE(channel.Start(&params));
    EXPECT_TRUE(rig.driver.log.WaitForText("RTSP DESCRIBE to", 10s));
    channel.Stop();
}

// The server ends the session while it plays: it closes the RTSP connection (its RTP goes on), or
// the camera sends a BYE for its stream. The channel sets up a new session at once instead of
// waiting out the frame time-out (10 s, the driver's own).
struct ServerEndCase {
    const char* name;
    std::function<void(camsim::RtspServer&)> end;
    const char* line;
};

class SanyoRtspServerEnd : public ::testing::TestWithParam<ServerEndCase> {};

TEST_P(SanyoRtspServerEnd, ANewSessionFollowsAtOnce) {
    ChannelRig rig;
    ASSERT_TRUE(rig.started);
    rig.driver.info.timeout2 = 10000;
    CH264ChannelRTSP channel(0, &rig.driver, &rig.sink);
    ASSERT_TRUE(StartAndCollect(rig, channel, 5));
    GetParam().end(rig.camera->Rtsp());
    EXPECT_TRUE(rig.camera->Rtsp().WaitUntil(
        [&] {
            return rig.CountRtsp("DESCRIBE") >= 2 && rig.CountRtsp("SETUP") >= 2 &&
                   rig.CountRtsp("PLAY") >= 2;
        },
        5000))
        << "no new session well before the frame time-out";
    const size_t frames = rig.sink.FrameCount();
    EXPECT_TRUE(rig.sink.WaitForFrames(frames + 10, 10s));
    EXPECT_EQ(rig.driver.log.CountContaining(GetParam().line), 1u);
    EXPECT_EQ(rig.sink.SignalLostCount(), 0u);
    channel.Stop();
}

INSTANTIATE_TEST_SUITE_P(
    Ends, SanyoRtspServerEnd,
    ::testing::Values(ServerEndCase{"connectionClosed",
                                    [](camsim::RtspServer& rtsp) { rtsp.CutConnections(); },
                                    "Camera 127.0.0.1 closed the RTSP connection"},
                      ServerEndCase{"bye", [](camsim::RtspServer& rtsp) { rtsp.EndSessions(); },
                                    "Camera 127.0.0.1 sent an RTCP BYE"}),
    [](const auto& info) { return std::string(info.param.name); });

// A session time-out whose milliseconds pass 32 bits keeps its meaning: no OPTIONS storm.
TEST(SanyoRtspChannel, AHugeSessionTimeOutDoesNotWrapTheKeepAliveInterval) {
    ChannelRig rig;
    rig.camera->Rtsp().SetSessionTimeout(4294968, 600000);  // 4294968000 ms wraps to 704
    ASSERT_TRUE(rig.started);
    CH264ChannelRTSP channel(0, &rig.driver, &rig.sink);
    ASSERT_TRUE(StartAndCollect(rig, channel, 50));  // two seconds of stream
    channel.Stop();
    EXPECT_EQ(rig.CountRtsp("OPTIONS"), 0u);
}

// An RTSP port beyond 16 bits is not cut to another port: it reads as not set (554).
TEST(SanyoRtspChannel, AnRtspPortBeyondSixteenBitsIsNotCut) {
    ChannelRig rig;
    ASSERT_TRUE(rig.started);
    rig.driver.custom[2] = std::to_string(rig.camera->RtspPort() + 65536);
    CH264ChannelRTSP channel(0, &rig.driver, &rig.sink);
    const CAPTURE_PARAMS params = ChannelRig::Params();
    ASSERT_TRUE(channel.Start(&params));
    // Two connection attempts, each configuring the camera first.
    EXPECT_TRUE(rig.camera->Http().WaitUntil(
        [&] { return rig.camera->Http().RequestCount() >= 8; }, 15000));
    channel.Stop();
    EXPECT_EQ(rig.camera->Rtsp().Totals().connections, 0u);
}
