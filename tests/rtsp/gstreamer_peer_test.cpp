// GStreamer's RTSP server as a peer no one here wrote: the RTSP client, the RTP receiver and the
// depacketisers play its H.264 and RTP/JPEG streams, without and with Basic and Digest
// authentication in its default realm, and what they capture decodes to the source media.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "camsim/annexb.h"
#include "camsim/media_files.h"
#include "camsim/udp_sender.h"
#include "rtsp/base_rtsp_client.h"
#include "rtsp/h264_media_parser.h"
#include "rtsp/jpeg_media_parser.h"
#include "rtsp/rtp_receiver.h"
#include "support/fake_driver.h"
#include "support/media.h"

using namespace norvane;
using test::Bytes;

namespace {

// The interpreter python3-gi belongs to (a python3 earlier on PATH may lack it).
const std::string kPython = "/usr/bin/python3";
const std::string kScript = std::string(TAVRIN_SOURCE_DIR) + "/tests/peers/gst_rtsp_server.py";
constexpr const char* kUser = "viewer";
constexpr const char* kPassword = "s3cret";
// Bounds a reply that never ends (the peer's slowest honest answer is far below it).
constexpr uint32_t kReceiveTimeoutMs = 1000;
constexpr unsigned kSlowestExchangeMs = 500;  // well below the receive time-out, loose under load
constexpr unsigned kStreamWaitMs = 4000;  // the longest source lasts one second at 25 fps
constexpr unsigned kPeerLifetimeS = 60;

bool GStreamerServerAvailable() {
    return test::RunCommand(kPython +
                            " -c \"import gi; gi.require_version('Gst', '1.0'); "
                            "gi.require_version('GstRtspServer', '1.0'); "
                            "from gi.repository import Gst, GstRtspServer\" 2>/dev/null");
}

// The peer process: started with its authentication mode, told to end when the test is done
// (and ending by itself after kPeerLifetimeS in any case).
class GstPeer {
public:
    // `h264` maps mount points to Annex B files.
    bool Start(const std::string& auth,
               const std::vector<std::pair<std::string, std::string>>& h264,
               const std::string& scratch) {
        std::string command = "exec " + kPython + " '" + kScript + "'";
        for (const auto& [mount, file] : h264)
            command += " --h264 '" + mount + "=" + file + "'";
        command += " --jpeg '" + test::MediaPath("jpeg420") + "' --auth " + auth + " --user " +
                   kUser + " --password " + kPassword + " --lifetime " +
                   std::to_string(kPeerLifetimeS) + " 2>'" + scratch + "/peer.log'";
        pipe_ = popen(command.c_str(), "r");
        if (!pipe_)
            return false;
        char line[128];
        for (int i = 0; i < 2 && std::fgets(line, sizeof line, pipe_); ++i) {
            std::istringstream fields(line);
            std::string name;
            unsigned value = 0;
            fields >> name >> value;
            if (name == "PORT")
                port_ = static_cast<uint16_t>(value);
            else if (name == "PID")
                pid_ = value;
        }
        return port_ != 0 && pid_ != 0;
    }
    ~GstPeer() {
        if (pid_)
            test::RunCommand("kill " + std::to_string(pid_));
        if (pipe_)
            pclose(pipe_);
    }
    uint16_t Port() const { return port_; }
    // Ends the server as a crash would: no word to its clients.
    void Kill() {
        if (pid_)
            test::RunCommand("kill -KILL " + std::to_string(pid_));
        pid_ = 0;
    }

private:
    FILE* pipe_ = nullptr;
    uint16_t port_ = 0;
    unsigned pid_ = 0;
};

// Hands every received packet to the depacketiser, on the receiver's queue thread. The
// parameter sets reach the depacketiser through it too: the receiver runs from before SETUP,
// and the packets that follow PLAY are no synchronisation a race detector can see.
class ParserFeed : public IRTPReceiverUser {
public:
    explicit ParserFeed(CRTPMediaParser& parser) : parser_(parser) {}
    void OnPacket(CRTPPacket*) override {}
    void OnPacketFrom(const SocketAddress&, CRTPPacket* packet) override {
        std::lock_guard<std::mutex> lock(mutex_);
        parser_.ProcessPacket(*packet);
    }
    void OnReceiveTimeout() override {}
    void OnReceiveError() override {}

    void SetParameterSets(const CRTSPResponseParser& sdp) {
        std::lock_guard<std::mutex> lock(mutex_);
        parser_.SetParameterSets(sdp.GetSequenceParameterSet(), sdp.GetPictureParameterSet(),
                                 sdp.GetCodecConfiguration());
    }

private:
    std::mutex mutex_;
    CRTPMediaParser& parser_;
};

struct Exchange {
    RTSPMethod method;
    bool succeeded;
    unsigned ms;
};

// One exchange, timed and added to `exchanges`; true when it succeeded.
bool Timed(CBaseRTSPClient& client, RTSPMethod method, std::vector<Exchange>& exchanges) {
    const auto start = std::chrono::steady_clock::now();
    const bool succeeded = client.Execute(method);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
    exchanges.push_back({method, succeeded, static_cast<unsigned>(ms)});
    return succeeded;
}

// DESCRIBE, SETUP and PLAY; stops at the first failure. `described` runs after a successful
// DESCRIBE, before any packet can arrive. True when all three succeeded.
bool Play(CBaseRTSPClient& client, const RTSPConnectionParams& params,
          const std::function<void()>& described, std::vector<Exchange>& exchanges) {
    if (!client.Connect(params) || !Timed(client, RTSPMethod::Describe, exchanges))
        return false;
    described();
    return Timed(client, RTSPMethod::Setup, exchanges) &&
           Timed(client, RTSPMethod::Play, exchanges);
}

Bytes Concat(const std::vector<Bytes>& parts) {
    Bytes whole;
    for (const Bytes& part : parts)
        whole.insert(whole.end(), part.begin(), part.end());
    return whole;
}

// The same stream with each access unit's SEI moved to its front, before the parameter sets, as
// many encoders and cameras send it.
Bytes SeiFirst(const Bytes& stream) {
    constexpr uint8_t SEI = 6;
    Bytes out;
    for (const camsim::AccessUnit& unit : camsim::SplitAccessUnits(camsim::SplitNalUnits(stream))) {
        camsim::AccessUnit reordered;
        for (const camsim::NalUnit& nal : unit)
            if (!nal.empty() && (nal[0] & 0x1F) == SEI)
                reordered.push_back(nal);
        for (const camsim::NalUnit& nal : unit)
            if (nal.empty() || (nal[0] & 0x1F) != SEI)
                reordered.push_back(nal);
        const Bytes annexB = camsim::ToAnnexB(reordered);
        out.insert(out.end(), annexB.begin(), annexB.end());
    }
    return out;
}

std::string Describe(const std::vector<Exchange>& exchanges) {
    std::string text;
    for (const Exchange& e : exchanges)
        text += std::string(RTSPMethodName(e.method)) + (e.succeeded ? " ok " : " failed ") +
                std::to_string(e.ms) + " ms; ";
    return text;
}

}  // namespace

class GStreamerPeerTest : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        if (!GStreamerServerAvailable())
            GTEST_SKIP() << "python3-gi or the GStreamer RTSP server typelib is missing";
        ASSERT_FALSE(test::MediaDir().empty());
        scratch = test::OutputDir();
        const std::string seiFirst = scratch + "/sei_first.264";
        ASSERT_TRUE(test::WriteBytes(
            seiFirst, SeiFirst(camsim::ReadFileBytes(test::MediaPath("h264_1slice.264")))));
        ASSERT_TRUE(peer.Start(
            GetParam(), {{"/h264", test::MediaPath("h264_1slice.264")}, {"/h264-sei", seiFirst}},
            scratch))
            << test::ReadText(scratch + "/peer.log");
        driver.info.timeout = kReceiveTimeoutMs;
    }

    // The peer's stream at `path`, received on the local ports given.
    RTSPConnectionParams Params(const std::string& path, uint16_t rtpPort, uint16_t rtcpPort) {
        RTSPConnectionParams params;
        params.host = "127.0.0.1";
        params.rtspPort = peer.Port();
        params.rtpClientPort = rtpPort;
        params.rtcpClientPort = rtcpPort;
        params.userName = std::string(GetParam()) == "none" ? "" : kUser;
        params.password = params.userName.empty() ? "" : kPassword;
        params.connectTimeout = kReceiveTimeoutMs;
        params.receiveTimeout = kReceiveTimeoutMs;
        params.path = path;
        return params;
    }

    // Plays `path` into `parser` until `frames` frames reached the host or the wait ends; the
    // frames the host got, in order.
    std::vector<Bytes> Capture(const std::string& path, CRTPMediaParser& parser, size_t frames) {
        test::RecordingClient host;
        parser.SetClient(&host);
        ParserFeed feed(parser);
        CRTPReceiver receiver(&driver);
        receiver.SetUser(&feed);
        camsim::UdpSender rtcp;  // takes the sender reports
        if (!receiver.Open(0) || !rtcp.Open()) {
            ADD_FAILURE() << "no local UDP ports";
            return {};
        }
        const RTSPConnectionParams params = Params(path, receiver.GetPort(), rtcp.Port());
        CBaseRTSPClient client;
        std::vector<Exchange> exchanges;
        const bool playing = Play(
            client, params, [&] { feed.SetParameterSets(client.GetParser()); }, exchanges);
        if (playing) {
            host.sink.WaitForFrames(frames, std::chrono::milliseconds(kStreamWaitMs));
            Timed(client, RTSPMethod::Teardown, exchanges);
        }
        receiver.SetUser(nullptr);
        receiver.Close();
        const std::string timing = Describe(exchanges);
        EXPECT_EQ(exchanges.size(), 4u) << path << ": " << timing;
        for (const Exchange& e : exchanges) {
            EXPECT_TRUE(e.succeeded)
                << path << " " << RTSPMethodName(e.method) << ": status " << client.GetStatusCode();
            EXPECT_LT(e.ms, kSlowestExchangeMs)
                << path << " " << RTSPMethodName(e.method) << ": " << timing;
        }
        std::vector<Bytes> captured;
        for (const host::DeliveredFrame& frame : host.sink.Frames())
            captured.push_back(frame.data);
        return captured;
    }

    test::FakeDriver driver;
    GstPeer peer;
    std::string scratch;
};

// The reference file (SPS, PPS, SEI, IDR) and the same pictures with the SEI first.
TEST_P(GStreamerPeerTest, H264FramesEqualTheSourceFromTheFirstOn) {
    const std::vector<std::string> source =
        test::FrameMd5("h264", test::MediaPath("h264_1slice.264"), scratch);
    ASSERT_FALSE(source.empty());
    for (const std::string mount : {"/h264", "/h264-sei"}) {
        CH264RTPMediaParser parser(&driver, "gstreamer");
        const std::vector<Bytes> frames = Capture(mount, parser, source.size());
        EXPECT_EQ(frames.size(), source.size()) << mount;
        Bytes stream = Concat(frames);
        // Every frame ends in an access unit delimiter; the last one has no picture after it,
        // which the decoder would report.
        const Bytes delimiter = {0, 0, 1, 9, 0x30};
        if (stream.size() >= delimiter.size() &&
            std::equal(delimiter.begin(), delimiter.end(), stream.end() - delimiter.size()))
            stream.resize(stream.size() - delimiter.size());
        const std::string file = scratch + "/captured" + mount.substr(1) + ".264";
        ASSERT_TRUE(test::WriteBytes(file, stream));
        std::string errors;
        EXPECT_EQ(test::FrameMd5("h264", file, scratch, &errors), source)
            << mount << ": " << errors;
    }
}

// The pictures are compared by what they decode to: the depacketiser rebuilds each header from
// the RTP/JPEG fields, so the bytes differ from the source files while the pixels must not.
TEST_P(GStreamerPeerTest, JpegPicturesDecodeEqualToTheSource) {
    const std::vector<Bytes> files = camsim::ReadJpegFolder(test::MediaPath("jpeg420"));
    ASSERT_FALSE(files.empty());
    ASSERT_TRUE(test::WriteBytes(scratch + "/source.mjpeg", Concat(files)));
    const std::vector<std::string> source =
        test::FrameMd5("mjpeg", scratch + "/source.mjpeg", scratch);
    ASSERT_FALSE(source.empty());
    CJpegRTPMediaParser parser(&driver, "gstreamer");
    const std::vector<Bytes> pictures = Capture("/jpeg", parser, source.size());
    EXPECT_EQ(pictures.size(), source.size());
    ASSERT_TRUE(test::WriteBytes(scratch + "/captured.mjpeg", Concat(pictures)));
    std::string errors;
    EXPECT_EQ(test::FrameMd5("mjpeg", scratch + "/captured.mjpeg", scratch, &errors), source)
        << errors;
}

// The server's OPTIONS reply offers GET_PARAMETER, which it answers (authenticated like the
// rest) as a keep-alive; when the server dies while it streams, the client sees its connection
// closed at once.
TEST_P(GStreamerPeerTest, GetParameterKeepsAliveAndAKilledServerIsSeenAtOnce) {
    camsim::UdpSender rtp, rtcp;  // take the stream unread
    ASSERT_TRUE(rtp.Open() && rtcp.Open());
    CBaseRTSPClient client;
    std::vector<Exchange> exchanges;
    ASSERT_TRUE(Play(
        client, Params("/h264", rtp.Port(), rtcp.Port()), [] {}, exchanges))
        << Describe(exchanges);
    ASSERT_TRUE(Timed(client, RTSPMethod::Options, exchanges)) << Describe(exchanges);
    EXPECT_TRUE(client.GetParser().OffersGetParameter());
    EXPECT_TRUE(Timed(client, RTSPMethod::GetParameter, exchanges))
        << "status " << client.GetStatusCode();
    EXPECT_EQ(client.ReadUnasked(200), CBaseRTSPClient::ReadEnd::TimePassed)
        << "the connection of a live server taken for closed";
    peer.Kill();
    const auto killed = std::chrono::steady_clock::now();
    EXPECT_EQ(client.ReadUnasked(10000), CBaseRTSPClient::ReadEnd::Closed);
    EXPECT_LT(std::chrono::steady_clock::now() - killed, std::chrono::seconds(5));
}

INSTANTIATE_TEST_SUITE_P(Auth, GStreamerPeerTest, ::testing::Values("none", "basic", "digest"),
                         [](const auto& info) { return std::string(info.param); });
