// The simulated camera's RTSP side as the project's client and FFmpeg see it.
#include "camsim/rtsp_server.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "camsim/annexb.h"
#include "camsim/media_files.h"
#include "camsim/udp_sender.h"
#include "http/utils.h"
#include "platform/socket.h"
#include "rtsp/base_rtsp_client.h"
#include "rtsp/rtp_packet.h"
#include "support/media.h"

using namespace camsim;
using norvane::RTSPMethod;
namespace platform = norvane::platform;

namespace {

constexpr unsigned kWaitMs = 5000;

uint16_t SequenceOf(const Bytes& datagram) { return static_cast<uint16_t>((datagram[2] << 8) | datagram[3]); }

// A client end: the project's RTSP client with its two UDP ports.
struct Viewer {
    Viewer() {
        EXPECT_TRUE(rtp.Open());
        EXPECT_TRUE(rtcp.Open());
    }
    bool Connect(RtspServer& server, const std::string& path, const std::string& password = "secret") {
        params.host = "127.0.0.1";
        params.rtspPort = server.Port();
        params.rtpClientPort = rtp.Port();
        params.rtcpClientPort = rtcp.Port();
        params.userName = "admin";
        params.password = password;
        params.receiveTimeout = kWaitMs;
        params.path = path;
        return client.Connect(params);
    }
    bool Open() {
        return client.Execute(RTSPMethod::Describe) && client.Execute(RTSPMethod::Setup) &&
               client.Execute(RTSPMethod::Play);
    }
    // Next RTP datagram; empty on time-out.
    Bytes Next(platform::InetAddress* source = nullptr) {
        Bytes datagram;
        if (!rtp.Receive(datagram, kWaitMs, source))
            datagram.clear();
        return datagram;
    }
    std::string SessionId() const { return client.GetParser().GetSessionId(); }

    norvane::RTSPConnectionParams params;
    norvane::CBaseRTSPClient client;
    UdpSender rtp, rtcp;
};

class RtspServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(test::MediaDir().empty());
        ASSERT_TRUE(server.AddStream("h264", StreamCodec::H264, test::MediaPath("h264_1slice.264"), 25));
        ASSERT_TRUE(server.AddStream("mjpeg", StreamCodec::Jpeg, test::MediaPath("jpeg420"), 25));
        server.SetSenderReportInterval(100);
    }

    // One MD5 per frame that ffmpeg writes for `input` read with `options` and `codec`
    // ("-c copy": the compressed frames; "": the decoded pictures); empty when ffmpeg fails.
    std::vector<std::string> Md5s(const std::string& options, const std::string& input, const std::string& codec) {
        const std::string out = scratch + "/" + std::to_string(++runs) + ".framemd5";
        if (!test::RunCommand("timeout 60 ffmpeg -nostdin -hide_banner -loglevel error -y " + options + " -i '" +
                              input + "' " + codec + " -f framemd5 '" + out + "'"))
            return {};
        return test::ReadFrameMd5(out);
    }

    RtspServer server;
    std::string scratch = test::OutputDir();
    int runs = 0;
};

// The project's client: Digest challenge and retry, SETUP, PLAY; RTP comes from the announced
// server port, sender reports arrive, and receiver reports and BYE are recorded.
TEST_F(RtspServerTest, ProjectClientPlaysThroughDigestAndReportsAreExchanged) {
    server.SetAuth(AuthMode::Digest, "admin", "secret");
    server.SetSessionTimeout(30, 30000);
    ASSERT_TRUE(server.Start());
    Viewer viewer;
    ASSERT_TRUE(viewer.Connect(server, "h264"));
    ASSERT_TRUE(viewer.client.Execute(RTSPMethod::Describe));
    EXPECT_FALSE(viewer.client.GetParser().GetSequenceParameterSet().empty());
    EXPECT_FALSE(viewer.client.GetParser().GetPictureParameterSet().empty());
    ASSERT_TRUE(viewer.client.Execute(RTSPMethod::Setup));
    EXPECT_EQ(viewer.client.GetSessionTimeout(), 30u);
    ASSERT_TRUE(viewer.client.Execute(RTSPMethod::Play));

    platform::InetAddress source;
    const Bytes first = viewer.Next(&source);
    ASSERT_FALSE(first.empty());
    const norvane::CRTPPacket packet = test::ToPacket(first);
    EXPECT_EQ(packet.GetPayloadType(), 96);
    EXPECT_EQ(source.address, platform::LoopbackIPv4());
    EXPECT_EQ(platform::InetPort(source) % 2, 0);

    Bytes report;
    ASSERT_TRUE(viewer.rtcp.Receive(report, kWaitMs, &source));
    ASSERT_GE(report.size(), 28u);
    EXPECT_EQ(report[1], 200);  // sender report of the stream's SSRC
    EXPECT_EQ(ReadBigEndian32(report, 4), ReadBigEndian32(first, 8));
    const uint16_t serverRtcp = platform::InetPort(source);
    ASSERT_TRUE(viewer.rtcp.Send({0x80, 201, 0x00, 0x01, 1, 2, 3, 4, 0x81, 203, 0x00, 0x01, 1, 2, 3, 4}, serverRtcp));
    EXPECT_TRUE(server.WaitUntil([&] { return server.Totals().byes == 1; }, kWaitMs));
    EXPECT_EQ(server.Totals().receiverReports, 1u);

    ASSERT_TRUE(viewer.client.Execute(RTSPMethod::Teardown));
    const RtspTotals totals = server.Totals();
    EXPECT_EQ(totals.tornDown, 1u);
    EXPECT_EQ(totals.playing, 0u);
    std::vector<std::string> methods;
    std::vector<int> statuses;
    for (const RtspLogEntry& entry : server.Requests()) {
        methods.push_back(entry.method);
        statuses.push_back(entry.status);
    }
    EXPECT_EQ(methods, (std::vector<std::string>{"DESCRIBE", "DESCRIBE", "SETUP", "PLAY", "TEARDOWN"}));
    EXPECT_EQ(statuses, (std::vector<int>{401, 200, 200, 200, 200}));
}

// Basic login, wrong credentials, 401 for ever, unknown paths, missing sessions, TCP transport.
TEST_F(RtspServerTest, RefusalsCarryTheRightStatus) {
    server.SetAuth(AuthMode::Basic, "admin", "secret");
    ASSERT_TRUE(server.Start());
    Viewer good, wrong, unknown;
    ASSERT_TRUE(good.Connect(server, "mjpeg"));
    ASSERT_TRUE(good.Open());
    EXPECT_EQ(test::ToPacket(good.Next()).GetPayloadType(), 26);

    ASSERT_TRUE(wrong.Connect(server, "mjpeg", "guess"));
    EXPECT_FALSE(wrong.client.Execute(RTSPMethod::Describe));
    EXPECT_EQ(wrong.client.GetStatusCode(), 401u);
    ASSERT_TRUE(unknown.Connect(server, "nothing"));
    EXPECT_FALSE(unknown.client.Execute(RTSPMethod::Describe));
    EXPECT_EQ(unknown.client.GetStatusCode(), 404u);

    server.SetDenyAll(true);
    EXPECT_FALSE(good.client.Execute(RTSPMethod::Options));
    EXPECT_EQ(good.client.GetStatusCode(), 401u);
    server.SetDenyAll(false);

    // Raw requests: PLAY of an unknown session and SETUP over UDP where UDP is refused.
    server.SetUdpRefused(true);
    platform::TcpSocket raw;
    ASSERT_TRUE(raw.Connect(platform::LoopbackIPv4(), server.Port(), kWaitMs));
    const std::string login = "Authorization: Basic YWRtaW46c2VjcmV0\r\n";
    const std::string requests = "PLAY " + server.Url("h264") + " RTSP/1.0\r\nCSeq: 7\r\n" + login +
                                 "Session: 0BADF00D\r\n\r\nSETUP " + server.Url("h264") +
                                 "/trackID=1 RTSP/1.0\r\nCSeq: 8\r\n" + login +
                                 "Transport: RTP/AVP;unicast;client_port=5000-5001\r\n\r\n";
    ASSERT_TRUE(raw.SendAll(requests.data(), requests.size()));
    std::string replies;
    char chunk[1024];
    while (replies.find("CSeq: 8") == std::string::npos) {
        const int got = raw.ReceiveWithin(chunk, sizeof(chunk), kWaitMs);
        ASSERT_GT(got, 0);
        replies.append(chunk, static_cast<size_t>(got));
    }
    EXPECT_NE(replies.find("RTSP/1.0 454 Session Not Found\r\nCSeq: 7\r\n"), std::string::npos) << replies;
    EXPECT_NE(replies.find("RTSP/1.0 461 Unsupported Transport\r\nCSeq: 8\r\n"), std::string::npos) << replies;
}

// A session not kept alive ends at its time-out; RTCP reports or requests keep one alive. The
// short time-out fault announces none, so the client would assume its default of 60 s.
TEST_F(RtspServerTest, SessionsLiveAsLongAsTheyAreKeptAlive) {
    server.SetSessionTimeout(0, 400);
    ASSERT_TRUE(server.Start());
    Viewer idle, reporting, asking;
    for (Viewer* viewer : {&idle, &reporting, &asking}) {
        ASSERT_TRUE(viewer->Connect(server, "mjpeg"));
        ASSERT_TRUE(viewer->Open());
        ASSERT_FALSE(viewer->Next().empty());
    }
    EXPECT_EQ(idle.client.GetSessionTimeout(), 0u);  // none announced
    EXPECT_NE(idle.SessionId(), reporting.SessionId());

    Bytes report;
    platform::InetAddress source;
    ASSERT_TRUE(reporting.rtcp.Receive(report, kWaitMs, &source));
    const uint16_t serverRtcp = platform::InetPort(source);
    SessionStats stats;
    // Keep two sessions alive until the idle one has timed out, then a while longer.
    ASSERT_TRUE(server.WaitUntil(
        [&] {
            reporting.rtcp.Send({0x80, 201, 0x00, 0x01, 1, 2, 3, 4}, serverRtcp);
            asking.client.Execute(RTSPMethod::Options);
            return server.SessionStatsOf(idle.SessionId(), stats) && stats.end == SessionEnd::Timeout;
        },
        kWaitMs));
    const uint64_t framesThen = server.Totals().frames;
    ASSERT_TRUE(server.WaitUntil(
        [&] {
            reporting.rtcp.Send({0x80, 201, 0x00, 0x01, 1, 2, 3, 4}, serverRtcp);
            asking.client.Execute(RTSPMethod::Options);
            return server.Totals().frames > framesThen + 25;  // > 1 s of video after the time-out
        },
        kWaitMs));
    const RtspTotals totals = server.Totals();
    EXPECT_EQ(totals.timedOut, 1u);
    EXPECT_EQ(totals.playing, 2u);
    EXPECT_FALSE(idle.client.Execute(RTSPMethod::Play));
    EXPECT_EQ(idle.client.GetStatusCode(), 454u);
}

// OPTIONS offers GET_PARAMETER, which keeps a session alive; with OPTIONS not counted (as VLC's
// server does) only GET_PARAMETER does. Not offered, it is left out of Public and refused.
TEST_F(RtspServerTest, KeepAliveMethodsFollowTheSettings) {
    server.SetSessionTimeout(0, 400);
    server.SetOptionsKeepAlive(false);
    ASSERT_TRUE(server.Start());
    Viewer options, getParameter;
    for (Viewer* viewer : {&options, &getParameter}) {
        ASSERT_TRUE(viewer->Connect(server, "mjpeg"));
        ASSERT_TRUE(viewer->Open());
    }
    ASSERT_TRUE(options.client.Execute(RTSPMethod::Options));
    EXPECT_TRUE(options.client.GetParser().OffersGetParameter());
    SessionStats stats;
    ASSERT_TRUE(server.WaitUntil(
        [&] {
            options.client.Execute(RTSPMethod::Options);
            getParameter.client.Execute(RTSPMethod::GetParameter);
            return server.SessionStatsOf(options.SessionId(), stats) &&
                   stats.end == SessionEnd::Timeout;
        },
        kWaitMs));
    ASSERT_TRUE(server.SessionStatsOf(getParameter.SessionId(), stats));
    EXPECT_EQ(stats.end, SessionEnd::None);

    server.SetGetParameter(false);
    EXPECT_TRUE(getParameter.client.Execute(RTSPMethod::Options));
    EXPECT_FALSE(getParameter.client.GetParser().OffersGetParameter());
    EXPECT_FALSE(getParameter.client.Execute(RTSPMethod::GetParameter));
    EXPECT_EQ(getParameter.client.GetStatusCode(), 501u);
}

// PAUSE stops the packets; PLAY resumes them where the RTP-Info says.
TEST_F(RtspServerTest, PauseAndPlayResumeTheStreamWithoutAGap) {
    ASSERT_TRUE(server.Start());
    Viewer viewer;
    ASSERT_TRUE(viewer.Connect(server, "h264"));
    ASSERT_TRUE(viewer.Open());
    ASSERT_FALSE(viewer.Next().empty());
    ASSERT_TRUE(viewer.client.Execute(RTSPMethod::Pause));
    SessionStats stats;
    ASSERT_TRUE(server.SessionStatsOf(viewer.SessionId(), stats));
    EXPECT_FALSE(stats.playing);
    // Whatever was sent before the PAUSE reply is the last before the next PLAY.
    uint16_t last = 0;
    for (Bytes datagram; viewer.rtp.Receive(datagram, 200);)
        last = SequenceOf(datagram);
    ASSERT_TRUE(viewer.client.Execute(RTSPMethod::Play));
    const Bytes resumed = viewer.Next();
    ASSERT_FALSE(resumed.empty());
    EXPECT_EQ(SequenceOf(resumed), static_cast<uint16_t>(last + 1));
}

// A session with a frame limit sends exactly that many frames and then nothing, but lives on;
// the totals count the payload bytes the client received.
TEST_F(RtspServerTest, AFrameLimitQuietsTheStreamNotTheSession) {
    server.SetSessionFrameLimit(3);
    ASSERT_TRUE(server.Start());
    Viewer viewer;
    ASSERT_TRUE(viewer.Connect(server, "h264"));
    ASSERT_TRUE(viewer.Open());
    uint64_t octets = 0;
    for (unsigned frames = 0; frames < 3;) {
        const Bytes datagram = viewer.Next();
        ASSERT_GT(datagram.size(), 12u);
        octets += datagram.size() - 12;
        frames += (datagram[1] & 0x80) != 0;  // the marker ends a frame
    }
    Bytes extra;
    EXPECT_FALSE(viewer.rtp.Receive(extra, 300));  // several frame periods of silence
    const RtspTotals totals = server.Totals();
    EXPECT_EQ(totals.frames, 3u);
    EXPECT_EQ(totals.octets, octets);
    EXPECT_EQ(totals.playing, 1u);
    EXPECT_TRUE(viewer.client.Execute(RTSPMethod::Options));
}

// Several sessions at once, each with its own ports, SSRC and sequence.
TEST_F(RtspServerTest, SessionsRunSideBySide) {
    ASSERT_TRUE(server.Start());
    Viewer a, b, c;
    ASSERT_TRUE(a.Connect(server, "h264"));
    ASSERT_TRUE(b.Connect(server, "h264"));
    ASSERT_TRUE(c.Connect(server, "mjpeg"));
    for (Viewer* viewer : {&a, &b, &c})
        ASSERT_TRUE(viewer->Open());
    platform::InetAddress fromA, fromB;
    const Bytes pa = a.Next(&fromA), pb = b.Next(&fromB), pc = c.Next();
    ASSERT_FALSE(pa.empty() || pb.empty() || pc.empty());
    EXPECT_NE(platform::InetPort(fromA), platform::InetPort(fromB));
    EXPECT_NE(ReadBigEndian32(pa, 8), ReadBigEndian32(pb, 8));
    EXPECT_EQ(test::ToPacket(pc).GetPayloadType(), 26);
    EXPECT_EQ(server.Totals().playing, 3u);
}

// RTP from 127.0.0.2, chosen sequence numbers lost, a freeze, and connection cuts.
TEST_F(RtspServerTest, WireFaultsReachTheClient) {
    RtpFaults faults;
    faults.otherSource = true;
    ASSERT_TRUE(server.Start());
    server.SetRtpFaults(faults);
    Viewer viewer;
    ASSERT_TRUE(viewer.Connect(server, "mjpeg"));
    ASSERT_TRUE(viewer.Open());
    platform::InetAddress source;
    const Bytes first = viewer.Next(&source);
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(source.address, platform::MakeIPv4(127, 0, 0, 2));

    const uint16_t next = SequenceOf(first);
    faults.lossSequences = {static_cast<uint16_t>(next + 40), static_cast<uint16_t>(next + 41)};
    server.SetRtpFaults(faults);
    std::vector<uint16_t> seen;
    while (seen.empty() || seen.back() != static_cast<uint16_t>(next + 42)) {
        const Bytes datagram = viewer.Next();
        ASSERT_FALSE(datagram.empty());
        seen.push_back(SequenceOf(datagram));
        ASSERT_LT(seen.size(), 200u);
    }
    EXPECT_EQ(std::count(seen.begin(), seen.end(), static_cast<uint16_t>(next + 40)), 0);
    EXPECT_EQ(std::count(seen.begin(), seen.end(), static_cast<uint16_t>(next + 41)), 0);
    EXPECT_EQ(server.Totals().faults.lost, 2u);

    // A freeze from the next frame on: recorded once, and the stream comes back by itself.
    faults = {};
    faults.freezeMs = 300;
    server.SetRtpFaults(faults);
    ASSERT_TRUE(server.WaitUntil([&] { return server.Totals().faults.freezes == 1; }, kWaitMs));
    for (Bytes datagram; viewer.rtp.Receive(datagram, 0);) {
    }
    EXPECT_FALSE(viewer.Next().empty());

    server.CutConnections();
    EXPECT_FALSE(viewer.client.Execute(RTSPMethod::Options));
    EXPECT_EQ(server.Totals().cuts, 1u);

    server.SetCutAfterRequests(2);
    Viewer cut;
    ASSERT_TRUE(cut.Connect(server, "mjpeg"));
    EXPECT_TRUE(cut.client.Execute(RTSPMethod::Describe));
    EXPECT_FALSE(cut.client.Execute(RTSPMethod::Setup));
    EXPECT_EQ(server.Requests().back().status, 0);
    EXPECT_EQ(server.Totals().cuts, 2u);
}

// A slow reply outlasts a client's short receive time-out; a patient client gets its answer.
TEST_F(RtspServerTest, SlowRepliesOutlastAShortClientTimeOut) {
    ASSERT_TRUE(server.Start());
    Viewer patient;
    ASSERT_TRUE(patient.Connect(server, "h264"));
    norvane::RTSPConnectionParams params = patient.params;
    params.receiveTimeout = 200;
    norvane::CBaseRTSPClient hurried;
    ASSERT_TRUE(hurried.Connect(params));
    server.SetReplyDelay(1000);
    EXPECT_FALSE(hurried.Execute(RTSPMethod::Options));
    EXPECT_TRUE(patient.client.Execute(RTSPMethod::Options));
    EXPECT_EQ(server.Requests().size(), 2u);
}

// FFmpeg as an independent client: ffprobe reports the stream, and 10 s of H.264 copied from
// RTSP are the reference frames, looped (compared with every start code in its 4-byte form, as
// an RTP receiver writes them).
TEST_F(RtspServerTest, FfmpegCopiesTheReferenceH264Frames) {
    ASSERT_TRUE(server.Start());
    EXPECT_TRUE(test::RunCommand("timeout 30 ffprobe -hide_banner -loglevel error -rtsp_transport udp "
                                 "-show_streams '" + server.Url("h264") + "' | grep -q codec_name=h264"));
    Bytes longCodes;
    for (const NalUnit& unit : SplitNalUnits(ReadFileBytes(test::MediaPath("h264_1slice.264")))) {
        longCodes.insert(longCodes.end(), {0, 0, 0, 1});
        longCodes.insert(longCodes.end(), unit.begin(), unit.end());
    }
    const std::string reference = scratch + "/reference.264";
    ASSERT_TRUE(test::WriteBytes(reference, longCodes));
    const std::vector<std::string> expected = Md5s("-f h264", reference, "-c copy");
    const std::vector<std::string> played = Md5s("-rtsp_transport udp -t 10", server.Url("h264"), "-c copy");
    ASSERT_FALSE(expected.empty());
    ASSERT_GE(played.size(), 240u);
    for (size_t i = 0; i < played.size(); ++i)
        ASSERT_EQ(played[i], expected[i % expected.size()]) << "frame " << i;
}

// RTP/JPEG carries no JPEG headers, so the receiver rebuilds them: the decoded pictures of 10 s
// played over RTSP are the reference pictures, looped.
TEST_F(RtspServerTest, FfmpegDecodesTheReferenceJpegPictures) {
    ASSERT_TRUE(server.Start());
    const std::vector<std::string> expected = Md5s("-f image2", test::MediaPath("jpeg420/%03d.jpg"), "");
    const std::vector<std::string> played = Md5s("-rtsp_transport udp -t 10", server.Url("mjpeg"), "");
    ASSERT_FALSE(expected.empty());
    ASSERT_GE(played.size(), 240u);
    for (size_t i = 0; i < played.size(); ++i)
        ASSERT_EQ(played[i], expected[i % expected.size()]) << "picture " << i;
}

}  // namespace
