#include "rtsp/rtsp_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "camsim/scripted_peer.h"
#include "platform/socket.h"

using camsim::Exchange;
using camsim::Reply;
using camsim::SplitReply;
using norvane::AuthScheme;
using norvane::CBaseRTSPClient;
using norvane::RTSPConnectionParams;
using norvane::RTSPMethod;

namespace {

const std::string BASE = "rtsp://cam.example/live/h264/";
const std::string AGENT = "User-Agent: Norvane\r\n";
const std::string ACCEPT = "Accept: application/sdp\r\n";
const std::string BASIC = "Authorization: Basic YWRtaW46c2VjcmV0\r\n";  // base64 of admin:secret

std::string Ok(int cseq, const std::string& headers = {}, const std::string& body = {}) {
    return "RTSP/1.0 200 OK\r\nCSeq: " + std::to_string(cseq) + "\r\n" + headers +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string Unauthorized(int cseq, const std::string& challenge, const std::string& extra = {}) {
    return "RTSP/1.0 401 Unauthorized\r\nCSeq: " + std::to_string(cseq) + "\r\n" + extra +
           "WWW-Authenticate: " + challenge + "\r\nContent-Length: 0\r\n\r\n";
}

std::string Request(const std::string& start, int cseq, const std::string& rest) {
    return start + " RTSP/1.0\r\nCSeq: " + std::to_string(cseq) + "\r\n" + rest;
}

class RtspClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(peer.Listen());
        params.host = "127.0.0.1";
        params.rtspPort = peer.Port();
        params.path = "//live/h264";
        params.userName = "admin";
        params.password = "secret";
        params.rtpClientPort = 3556;
        params.rtcpClientPort = 3557;
        params.receiveTimeout = 2000;
    }

    void Run(std::vector<Exchange> script) {
        ASSERT_TRUE(peer.Start(std::move(script)));
        ASSERT_TRUE(client.Connect(params));
    }

    // Disconnects and checks that every request matched the script.
    void Finish() {
        client.Disconnect();
        ASSERT_TRUE(peer.WaitDone(5000));
        EXPECT_EQ(peer.Error(), "");
    }

    // Presentation URL without Content-Base: leading '/' of the path removed.
    std::string DefaultUrl() const { return "rtsp://127.0.0.1:" + std::to_string(peer.Port()) + "/live/h264"; }

    camsim::ScriptedPeer peer;
    CBaseRTSPClient client;
    RTSPConnectionParams params;
};

}  // namespace

// Expected response hashes computed independently (python3 hashlib, RFC 2617 without qop):
//   HA1 = md5("admin:Sanyo cam:secret"); HA2 = md5("<METHOD>:rtsp://cam.example/live/h264/")
//   response = md5(HA1 + ":4a1f9b7c:" + HA2)
// The 401 reply carries a Content-Base, which makes the uri independent of the ephemeral port.
TEST_F(RtspClientTest, DigestChallengeRetriedWithRightResponseAndCSeqOneHigher) {
    const std::string digest = "Authorization: Digest username=\"admin\", realm=\"Sanyo cam\", "
                               "nonce=\"4a1f9b7c\", uri=\"" + BASE + "\", response=\"";
    const std::string sdp = "v=0\r\nm=video 0 RTP/AVP 96\r\na=control:trackID=1\r\n";
    Run({
        Reply(Request("DESCRIBE " + DefaultUrl(), 1, AGENT + ACCEPT + "\r\n"),
              Unauthorized(1, "Digest realm=\"Sanyo cam\", nonce=\"4a1f9b7c\"",
                           "Content-Base: " + BASE + "\r\n")),
        // The reply arrives in 7-byte pieces, 5 ms apart.
        SplitReply(Request("DESCRIBE " + BASE, 2,
                           digest + "66d8ccfaeec4f71d261954aa6b8652fd\"\r\n" + AGENT + ACCEPT + "\r\n"),
                   Ok(2, "Content-Type: application/sdp\r\n", sdp), 7, 5),
        Reply(Request("SETUP " + BASE + "trackID=1", 3,
                      digest + "d788ab99bd1b63157bb59c26222c9ea0\"\r\n"
                               "Transport: RTP/AVP;unicast;client_port=3556-3557\r\n" + AGENT + "\r\n"),
              Ok(3, "Session: 12345678;timeout=60\r\n")),
    });
    ASSERT_TRUE(client.Execute(RTSPMethod::Describe));
    EXPECT_EQ(client.GetStatusCode(), 200u);
    EXPECT_EQ(client.GetParams().authScheme, AuthScheme::Digest);
    ASSERT_TRUE(client.Execute(RTSPMethod::Setup));
    EXPECT_EQ(client.GetParser().GetSessionId(), "12345678");
    EXPECT_EQ(client.GetSessionTimeout(), 60u);
    Finish();
}

TEST_F(RtspClientTest, BasicChallengeAndEveryRequestForm) {
    const std::string url = DefaultUrl();
    const std::string session = "Session: S1\r\n";
    const std::string range = "Range: npt=0.000-\r\n";
    // An absolute control is the SETUP URL; an "m=" line of two words gives no profile.
    const std::string sdp = "m=video 0\r\na=control:rtsp://127.0.0.1:9/abs/track\r\n";
    Run({
        Reply(Request("DESCRIBE " + url, 1, AGENT + ACCEPT + "\r\n"), Unauthorized(1, "Basic realm=\"cam\"")),
        Reply(Request("DESCRIBE " + url, 2, BASIC + AGENT + ACCEPT + "\r\n"), Ok(2, "", sdp)),
        Reply(Request("SETUP rtsp://127.0.0.1:9/abs/track", 3,
                      BASIC + "Transport: RTP/AVP/UDP;unicast;client_port=3556-3557\r\n" + AGENT + "\r\n"),
              Ok(3, "Session: S1\r\n")),
        Reply(Request("PLAY " + url, 4, BASIC + session + range + AGENT + "\r\n"), Ok(4)),
        Reply(Request("OPTIONS " + url, 5, BASIC + session + AGENT + "\r\n"), Ok(5)),
        Reply(Request("PAUSE " + url, 6, BASIC + session + range + AGENT + "\r\n"), Ok(6)),
        Reply(Request("TEARDOWN " + url, 7, BASIC + session + AGENT + "\r\n"), Ok(7)),
    });
    for (RTSPMethod method : {RTSPMethod::Describe, RTSPMethod::Setup, RTSPMethod::Play,
                              RTSPMethod::Options, RTSPMethod::Pause, RTSPMethod::Teardown})
        EXPECT_TRUE(client.Execute(method)) << static_cast<int>(method);
    EXPECT_EQ(client.GetParams().authScheme, AuthScheme::Basic);
    Finish();
}

TEST_F(RtspClientTest, ContentBaseAndRelativeControlJoinWithOneSlash) {
    const std::string sdp = "m=video 0 RTP/AVP 96\r\na=control:trackID=1\r\n"
                            "m=audio 0 RTP/AVP 0\r\na=control:/audio\r\n";
    params.path = "live";
    Run({
        Reply(Request("DESCRIBE " + DefaultUrl().substr(0, DefaultUrl().size() - 5), 1, AGENT + ACCEPT + "\r\n"),
              Ok(1, "Content-Base: rtsp://cam/stream/\r\n", sdp)),
        Reply(Request("SETUP rtsp://cam/stream/trackID=1", 2,
                      "Transport: RTP/AVP;unicast;client_port=3556-3557\r\n" + AGENT + "\r\n"),
              Ok(2, "Session: X\r\n")),
    });
    ASSERT_TRUE(client.Execute(RTSPMethod::Describe));
    ASSERT_TRUE(client.Execute(RTSPMethod::Setup));
    Finish();
}

TEST_F(RtspClientTest, SecondUnauthorizedOrSameSchemeEndsWithFalse) {
    const std::string url = DefaultUrl();
    Run({
        Reply(Request("OPTIONS " + url, 1, AGENT + "\r\n"), Unauthorized(1, "Basic realm=\"cam\"")),
        Reply(Request("OPTIONS " + url, 2, BASIC + AGENT + "\r\n"), Unauthorized(2, "Basic realm=\"cam\"")),
        // The scheme in use is offered again: no retry.
        Reply(Request("OPTIONS " + url, 3, BASIC + AGENT + "\r\n"), Unauthorized(3, "Basic realm=\"cam\"")),
    });
    EXPECT_FALSE(client.Execute(RTSPMethod::Options));
    EXPECT_EQ(client.GetStatusCode(), 401u);
    EXPECT_FALSE(client.Execute(RTSPMethod::Options));
    Finish();
    EXPECT_EQ(peer.Requests().size(), 3u);
}

TEST_F(RtspClientTest, NotFoundAndMalformedRepliesFail) {
    const std::string url = DefaultUrl();
    Run({
        Reply(Request("OPTIONS " + url, 1, AGENT + "\r\n"), "RTSP/1.0 404 Not Found\r\nCSeq: 1\r\n\r\n"),
        Reply(Request("OPTIONS " + url, 2, AGENT + "\r\n"), "garbage\r\n\r\n"),
    });
    EXPECT_FALSE(client.Execute(RTSPMethod::Options));
    EXPECT_EQ(client.GetStatusCode(), 404u);
    EXPECT_FALSE(client.Execute(RTSPMethod::Options));
    EXPECT_FALSE(client.Execute(static_cast<RTSPMethod>(9)));  // unknown method: nothing is sent
    Finish();
}

// A reply split mid-line over several writes is read to its end (headers, then Content-Length
// bytes of body), not parsed half-read; with Content-Length no receive time-out is waited for.
TEST_F(RtspClientTest, SplitRepliesAreReadCompletely) {
    params.receiveTimeout = 30000;
    const std::string url = DefaultUrl();
    const std::string sdp = "v=0\r\nm=video 0 RTP/AVP 96\r\na=control:trackID=1\r\n"
                            "a=fmtp:96 packetization-mode=1;sprop-parameter-sets=Z0IAKeKQFAe2AtwEBAaQeJEV,aM48gA==\r\n";
    Exchange describe = Reply(Request("DESCRIBE " + url, 1, AGENT + ACCEPT + "\r\n"), "");
    const std::string reply = Ok(1, "Content-Type: application/sdp\r\n", sdp);
    const size_t cuts[] = {5, 20, reply.find("\r\n\r\n") + 2, reply.find("\r\n\r\n") + 4, reply.size() - 3};
    describe.reply.clear();
    size_t from = 0;
    for (size_t cut : cuts) {
        describe.reply.push_back({reply.substr(from, cut - from), 15});
        from = cut;
    }
    describe.reply.push_back({reply.substr(from), 15});
    Run({
        describe,
        SplitReply(Request("OPTIONS " + url, 2, AGENT + "\r\n"), Ok(2, "Server: cam\r\n"), 3, 2),
    });
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(client.Execute(RTSPMethod::Describe));
    EXPECT_EQ(client.GetParser().GetPictureParameterSet().size(), 4u);
    ASSERT_TRUE(client.Execute(RTSPMethod::Options));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
    Finish();
}

// Without Content-Length a DESCRIBE reply is read until the camera closes or the receive times
// out; the body counts as empty (Content-Length 0 until a reply gives one).
TEST_F(RtspClientTest, DescribeWithoutContentLengthEndsAtPeerClose) {
    params.receiveTimeout = 30000;
    Exchange describe = Reply(Request("DESCRIBE " + DefaultUrl(), 1, AGENT + ACCEPT + "\r\n"),
                              "RTSP/1.0 200 OK\r\nCSeq: 1\r\n\r\n", true);
    describe.reply.push_back({"m=video 0 RTP/AVP 96\r\na=control:trackID=1\r\n", 20});
    Run({describe});
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(client.Execute(RTSPMethod::Describe));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
    EXPECT_EQ(client.GetParser().GetControl(norvane::MediaKind::Video), "");
    Finish();
}

TEST_F(RtspClientTest, DescribeWithoutContentLengthEndsAtReceiveTimeout) {
    params.receiveTimeout = 100;
    Run({Reply(Request("DESCRIBE " + DefaultUrl(), 1, AGENT + ACCEPT + "\r\n"),
               "RTSP/1.0 200 OK\r\nCSeq: 1\r\n\r\n"),
         Reply(Request("OPTIONS " + DefaultUrl(), 2, AGENT + "\r\n"), Ok(2))});
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(client.Execute(RTSPMethod::Describe));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(90));
    // The connection is still usable after the time-out.
    EXPECT_TRUE(client.Execute(RTSPMethod::Options));
    Finish();
}

// A peer streaming without end cannot grow the reply beyond its bound.
TEST_F(RtspClientTest, OversizedReplyFails) {
    const std::string url = DefaultUrl();
    const std::string garbage(CBaseRTSPClient::MAX_REPLY_SIZE + 4096, 'x');
    const std::string hugeBody = "RTSP/1.0 200 OK\r\nCSeq: 1\r\nContent-Length: 100000\r\n\r\n" +
                                 std::string(100000, 'v');
    Run({Reply(Request("DESCRIBE " + url, 1, AGENT + ACCEPT + "\r\n"), hugeBody, true)});
    EXPECT_FALSE(client.Execute(RTSPMethod::Describe));
    client.Disconnect();
    ASSERT_TRUE(peer.WaitDone(5000));

    camsim::ScriptedPeer second;
    ASSERT_TRUE(second.Listen());
    params.rtspPort = second.Port();
    const std::string url2 = "rtsp://127.0.0.1:" + std::to_string(second.Port()) + "/live/h264";
    ASSERT_TRUE(second.Start({Reply(Request("OPTIONS " + url2, 1, AGENT + "\r\n"), garbage, true)}));
    CBaseRTSPClient other;
    ASSERT_TRUE(other.Connect(params));
    EXPECT_FALSE(other.Execute(RTSPMethod::Options));
    other.Disconnect();
    EXPECT_TRUE(second.WaitDone(5000));
}

TEST_F(RtspClientTest, ConnectFailuresLeaveClientClosed) {
    const int users = norvane::platform::SocketLibraryUsers();
    RTSPConnectionParams bad = params;
    bad.host.clear();
    EXPECT_FALSE(client.Connect(bad));
    EXPECT_FALSE(client.IsConnected());
    bad.host = "no such host.invalid";
    EXPECT_FALSE(client.Connect(bad));
    // Nothing listens on the port any more: refused.
    norvane::platform::TcpListener closed;
    ASSERT_TRUE(closed.Listen(norvane::platform::LoopbackIPv4(), 0));
    bad = params;
    bad.rtspPort = closed.LocalPort();
    closed.Close();
    EXPECT_FALSE(client.Connect(bad));
    EXPECT_FALSE(client.IsConnected());
    EXPECT_FALSE(client.Execute(RTSPMethod::Options));
    EXPECT_EQ(norvane::platform::SocketLibraryUsers(), users);
}

TEST_F(RtspClientTest, ConnectWhileConnectedKeepsParameters) {
    Run({});
    RTSPConnectionParams other = params;
    other.path = "other";
    EXPECT_TRUE(client.Connect(other));
    EXPECT_EQ(client.GetParams().path, params.path);
    Finish();
}
