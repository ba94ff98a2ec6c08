// RTP over UDP or interleaved on the RTSP connection, through the real H.264 channel against the
// simulated camera: the transport the host asks for, the automatic move to TCP and its
// persistence, receiver reports on channel 1, and a keep-alive answered 454.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

#include "camera/custom_parameters.h"
#include "channels/channel_rig.h"
#include "channels/h264_rtsp_channel.h"
#include "platform/socket.h"

using namespace norvane;
using namespace std::chrono_literals;
using test::ChannelRig;

namespace {

constexpr int TRANSPORT = RTSP_TRANSPORT.number;
constexpr const char* MOVED = "RTP now comes over the RTSP connection (TCP)";

// A channel that gives RTP over UDP 300 ms after PLAY instead of 3 s.
class QuickFallbackChannel final : public CH264ChannelRTSP {
public:
    using CH264ChannelRTSP::CH264ChannelRTSP;
    ~QuickFallbackChannel() override { Stop(); }

protected:
    void FillConnectionParams(RTSPConnectionParams& connection) override {
        CH264ChannelRTSP::FillConnectionParams(connection);
        connection.udpSilenceMs = 300;
    }
};

bool Start(ChannelRig& rig, CH264ChannelRTSP& channel, size_t frames) {
    const CAPTURE_PARAMS params = ChannelRig::Params();
    return channel.Start(&params) && rig.sink.WaitForFrames(frames, 15s);
}

// SETUP requests the camera received asking for TCP (interleaved) or for UDP.
size_t CountSetups(ChannelRig& rig, bool tcp) {
    size_t n = 0;
    for (const auto& entry : rig.camera->Rtsp().Requests())
        n += entry.method == "SETUP" &&
             (entry.transport.find("RTP/AVP/TCP;unicast;interleaved=0-1") != std::string::npos) ==
                 tcp;
    return n;
}

bool WaitForSetups(ChannelRig& rig, bool tcp, size_t count) {
    return rig.camera->Rtsp().WaitUntil([&] { return CountSetups(rig, tcp) >= count; }, 10000);
}

}  // namespace

struct FallbackCase {
    const char* name;
    std::function<void(camsim::RtspServer&)> fault;
    const char* reason;  // in the line that tells of the move
};

class RtspTransportFallback : public ::testing::TestWithParam<FallbackCase> {};

// Asked for nothing, the channel tries UDP, moves to TCP where UDP fails, says so once; a new
// session after a cut connection, and a channel the host starts later on the same camera, go
// straight to TCP.
TEST_P(RtspTransportFallback, MovesToTcpOnceAndStaysThere) {
    ChannelRig rig;
    ASSERT_TRUE(rig.started);
    GetParam().fault(rig.camera->Rtsp());
    QuickFallbackChannel channel(0, &rig.driver, &rig.sink);
    ASSERT_TRUE(Start(rig, channel, 10));
    EXPECT_EQ(CountSetups(rig, false), 1u);
    EXPECT_EQ(CountSetups(rig, true), 1u);
    rig.camera->Rtsp().CutConnections();
    EXPECT_TRUE(WaitForSetups(rig, true, 2));
    const size_t frames = rig.sink.FrameCount();
    EXPECT_TRUE(rig.sink.WaitForFrames(frames + 10, 10s));
    channel.Stop();
    QuickFallbackChannel later(0, &rig.driver, &rig.sink);
    ASSERT_TRUE(Start(rig, later, rig.sink.FrameCount() + 10));
    later.Stop();
    EXPECT_EQ(CountSetups(rig, true), 3u);
    EXPECT_EQ(CountSetups(rig, false), 1u) << "UDP was tried again";
    EXPECT_EQ(rig.driver.log.CountContaining(MOVED), 1u);
    EXPECT_EQ(rig.driver.log.CountContaining(GetParam().reason), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, RtspTransportFallback,
    ::testing::Values(FallbackCase{"udpRefused",
                                   [](camsim::RtspServer& rtsp) { rtsp.SetUdpRefused(true); },
                                   "refused RTP over UDP (SETUP status 461)"},
                      FallbackCase{"udpNeverArrives",
                                   [](camsim::RtspServer& rtsp) {
                                       camsim::RtpFaults faults;
                                       faults.udpBlocked = true;
                                       rtsp.SetRtpFaults(faults);
                                   },
                                   "no RTP arrived over UDP within 300 ms of PLAY"}),
    [](const auto& info) { return std::string(info.param.name); });

// A camera that refuses TCP after a move to it (its stream was late, not blocked) is served over
// UDP again, for good: the channel does not stay without a stream.
TEST(RtspTransport, ACameraRefusingTcpAfterTheMoveIsServedOverUdpAgain) {
    ChannelRig rig;
    ASSERT_TRUE(rig.started);
    camsim::RtpFaults faults;
    faults.udpBlocked = true;
    rig.camera->Rtsp().SetRtpFaults(faults);
    rig.camera->Rtsp().SetTcpRefused(true);
    QuickFallbackChannel channel(0, &rig.driver, &rig.sink);
    const CAPTURE_PARAMS params = ChannelRig::Params();
    ASSERT_TRUE(channel.Start(&params));
    ASSERT_TRUE(WaitForSetups(rig, true, 1));
    rig.camera->Rtsp().SetRtpFaults({});
    EXPECT_TRUE(rig.sink.WaitForFrames(10, 15s));
    channel.Stop();
    EXPECT_EQ(CountSetups(rig, true), 1u) << "TCP was tried again";
    EXPECT_EQ(rig.driver.log.CountContaining("refused RTP over TCP (SETUP status 461); RTP now "
                                             "comes over UDP again"),
              1u);
}

// With every port of the channels' range taken, the stream comes over TCP. (Runs alone: a port
// another case holds now may be free by the time the channel looks.)
TEST(RtspTransport, NoFreePortPairMovesToTcp) {
    std::vector<std::unique_ptr<platform::UdpSocket>> taken;
    for (uint32_t port = CBaseRTPChannel::FIRST_RTP_PORT; port <= CBaseRTPChannel::RTP_PORT_LIMIT;
         ++port) {
        taken.push_back(std::make_unique<platform::UdpSocket>());
        taken.back()->Open(static_cast<uint16_t>(port));  // one taken by another program is as good
    }
    ChannelRig rig;
    ASSERT_TRUE(rig.started);
    CH264ChannelRTSP channel(0, &rig.driver, &rig.sink);
    ASSERT_TRUE(Start(rig, channel, 10));
    channel.Stop();
    EXPECT_EQ(CountSetups(rig, false), 0u);
    EXPECT_EQ(rig.driver.log.CountContaining("no UDP port pair is free"), 1u);
}

// Asked for TCP, the channel never tries UDP and reports its reception on the RTCP channel: 1 as
// asked for, or the one the camera chose in its SETUP reply (RTP on 4, RTCP on 5).
TEST(RtspTransport, TcpAskedForStreamsInterleavedAndReportsOnTheRtcpChannel) {
    for (const int chosen : {-1, 4}) {
        SCOPED_TRACE(chosen);
        ChannelRig rig;
        ASSERT_TRUE(rig.started);
        rig.camera->Rtsp().SetSenderReportInterval(200);
        rig.camera->Rtsp().SetChosenInterleaved(chosen);
        rig.driver.custom[TRANSPORT] = "TCP";
        CH264ChannelRTSP channel(0, &rig.driver, &rig.sink);
        ASSERT_TRUE(Start(rig, channel, 10));
        EXPECT_TRUE(rig.camera->Rtsp().WaitUntil(
            [&] { return rig.camera->Rtsp().Totals().receiverReports >= 1; }, 10000));
        channel.Stop();
        EXPECT_TRUE(rig.camera->Rtsp().WaitUntil(
            [&] { return rig.camera->Rtsp().Totals().byes >= 1; }, 5000))
            << "the stop's goodbye on the RTCP channel";
        EXPECT_EQ(CountSetups(rig, false), 0u);
        EXPECT_EQ(rig.driver.log.CountContaining(MOVED), 0u);
    }
}

// Asked for UDP, the channel stays on UDP however often the camera refuses it.
TEST(RtspTransport, UdpAskedForIsKeptWhenRefused) {
    ChannelRig rig;
    ASSERT_TRUE(rig.started);
    rig.camera->Rtsp().SetUdpRefused(true);
    rig.driver.custom[TRANSPORT] = "udp";
    CH264ChannelRTSP channel(0, &rig.driver, &rig.sink);
    const CAPTURE_PARAMS params = ChannelRig::Params();
    ASSERT_TRUE(channel.Start(&params));
    EXPECT_TRUE(WaitForSetups(rig, false, 2));
    channel.Stop();
    EXPECT_EQ(CountSetups(rig, true), 0u);
    EXPECT_EQ(rig.sink.FrameCount(), 0u);
}

// A keep-alive answered 454 (the camera ended the session on its own) is followed by a new
// session at once, well before the frame time-out (10 s) would notice the silence.
TEST(RtspTransport, AKeepAliveAnswered454EndsTheSessionAtOnce) {
    ChannelRig rig;
    ASSERT_TRUE(rig.started);
    rig.driver.info.timeout2 = 10000;
    rig.camera->Rtsp().SetSessionTimeout(4, 800);  // keep-alive every 2 s, too late
    rig.camera->Rtsp().SetSenderReportInterval(60000);
    CH264ChannelRTSP channel(0, &rig.driver, &rig.sink);
    ASSERT_TRUE(Start(rig, channel, 1));
    EXPECT_TRUE(rig.camera->Rtsp().WaitUntil([&] { return rig.CountRtsp("SETUP") >= 2; }, 5000));
    channel.Stop();
    EXPECT_GE(rig.driver.log.CountContaining("no longer knows the session (454)"), 1u);
    EXPECT_EQ(rig.sink.SignalLostCount(), 0u);
}
