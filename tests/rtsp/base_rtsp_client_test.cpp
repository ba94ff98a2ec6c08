#include "rtsp/base_rtsp_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <thread>

#include "camsim/scripted_peer.h"
#include "foundation/event.h"
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

// The Digest answer of admin in realm "Sanyo cam" up to its response hash.
std::string DigestAnswer(const std::string& nonce, const std::string& uri) {
    return "Authorization: Digest username=\"admin\", realm=\"Sanyo cam\", nonce=\"" + nonce +
           "\", uri=\"" + uri + "\", response=\"";
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

    // The first DESCRIBE, challenged for Digest with nonce 4a1f9b7c and a Content-Base of BASE.
    Exchange ChallengedDescribe() const {
        return Reply(Request("DESCRIBE " + DefaultUrl(), 1, AGENT + ACCEPT + "\r\n"),
                     Unauthorized(1, "Digest realm=\"Sanyo cam\", nonce=\"4a1f9b7c\"",
                                  "Content-Base: " + BASE + "\r\n"));
    }

    // Presentation URL without Content-Base: leading '/' of the path removed.
    std::string DefaultUrl() const { return "rtsp://127.0.0.1:" + std::to_string(peer.Port()) + "/live/h264"; }

    camsim::ScriptedPeer peer;
    CBaseRTSPClient client;
    RTSPConnectionParams params;
};

}  // namespace

// Expected response hashes computed independently (python3 hashlib, RFC 2617 without qop):
//   HA1 = md5("admin:Sanyo cam:secret"); HA2 = md5("<METHOD>:<request URI>")
//   response = md5(HA1 + ":4a1f9b7c:" + HA2)
// The 401 reply carries a Content-Base, which makes the uri independent of the ephemeral port.
TEST_F(RtspClientTest, DigestChallengeRetriedWithRightResponseAndCSeqOneHigher) {
    const std::string digest = DigestAnswer("4a1f9b7c", BASE);
    const std::string sdp = "v=0\r\nm=video 0 RTP/AVP 96\r\na=control:trackID=1\r\n";
    Run({
        ChallengedDescribe(),
        // The reply arrives in 7-byte pieces, 5 ms apart.
        SplitReply(Request("DESCRIBE " + BASE, 2,
                           digest + "66d8ccfaeec4f71d261954aa6b8652fd\"\r\n" + AGENT + ACCEPT + "\r\n"),
                   Ok(2, "Content-Type: application/sdp\r\n", sdp), 7, 5),
        // The SETUP's uri is its own request URI (RFC 2617 3.2.2.5).
        Reply(Request("SETUP " + BASE + "trackID=1", 3,
                      DigestAnswer("4a1f9b7c", BASE + "trackID=1") +
                          "6ad2151cd7aa4eed531e9c9ed2593a01\"\r\n"
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
        Reply(Request("GET_PARAMETER " + url, 6, BASIC + session + AGENT + "\r\n"), Ok(6)),
        Reply(Request("PAUSE " + url, 7, BASIC + session + range + AGENT + "\r\n"), Ok(7)),
        Reply(Request("TEARDOWN " + url, 8, BASIC + session + AGENT + "\r\n"), Ok(8)),
    });
    for (RTSPMethod method :
         {RTSPMethod::Describe, RTSPMethod::Setup, RTSPMethod::Play, RTSPMethod::Options,
          RTSPMethod::GetParameter, RTSPMethod::Pause, RTSPMethod::Teardown})
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

// A reply that fills one receive exactly is complete by its Content-Length; no further receive
// waits for a time-out (which here would outlast the test's bound).
TEST_F(RtspClientTest, ReplyOfExactlyOneReceiveEndsWithoutWaiting) {
    params.receiveTimeout = 20000;
    std::string reply = Ok(1, "Server: \r\n");
    reply =
        Ok(1, "Server: " + std::string(CBaseRTSPClient::INBOX_CHUNK - reply.size(), 's') + "\r\n");
    ASSERT_EQ(reply.size(), CBaseRTSPClient::INBOX_CHUNK);
    Run({Reply(Request("OPTIONS " + DefaultUrl(), 1, AGENT + "\r\n"), reply)});
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(client.Execute(RTSPMethod::Options));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    Finish();
}

// Without Content-Length a 200 DESCRIBE reply with a Content-Type is read until the camera
// closes or falls quiet, and all of it after the headers is the SDP body.
TEST_F(RtspClientTest, TypedDescribeWithoutContentLengthEndsAtPeerClose) {
    params.receiveTimeout = 30000;
    Exchange describe = Reply(Request("DESCRIBE " + DefaultUrl(), 1, AGENT + ACCEPT + "\r\n"),
                              "RTSP/1.0 200 OK\r\nCSeq: 1\r\nContent-Type: application/sdp\r\n\r\n", true);
    describe.reply.push_back({"m=video 0 RTP/AVP 96\r\n", 20});
    describe.reply.push_back({"a=control:trackID=1\r\n", 20});
    Run({describe});
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(client.Execute(RTSPMethod::Describe));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));
    EXPECT_EQ(client.GetParser().GetControl(norvane::MediaKind::Video), "trackID=1");
    Finish();
}

TEST_F(RtspClientTest, TypedDescribeWithoutContentLengthEndsAtReceiveTimeout) {
    params.receiveTimeout = 100;
    Run({Reply(Request("DESCRIBE " + DefaultUrl(), 1, AGENT + ACCEPT + "\r\n"),
               "RTSP/1.0 200 OK\r\nCSeq: 1\r\nContent-Type: application/sdp\r\n\r\n"
               "m=video 0 RTP/AVP 96\r\na=control:v\r\n"),
         Reply(Request("OPTIONS " + DefaultUrl(), 2, AGENT + "\r\n"), Ok(2))});
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(client.Execute(RTSPMethod::Describe));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(90));
    EXPECT_EQ(client.GetParser().GetControl(norvane::MediaKind::Video), "v");
    // The connection is still usable after the time-out.
    EXPECT_TRUE(client.Execute(RTSPMethod::Options));
    Finish();
}

// Any other reply without Content-Length has an empty body and ends with its headers, so an
// authentication round costs no receive time-out (which here would outlast the test's bound).
TEST_F(RtspClientTest, RepliesWithoutContentLengthEndWithTheirHeaders) {
    params.receiveTimeout = 20000;
    const std::string url = DefaultUrl();
    Run({
        Reply(Request("DESCRIBE " + url, 1, AGENT + ACCEPT + "\r\n"),
              "RTSP/1.0 401 Unauthorized\r\nCSeq: 1\r\nWWW-Authenticate: Basic realm=\"cam\"\r\n\r\n"),
        Reply(Request("DESCRIBE " + url, 2, BASIC + AGENT + ACCEPT + "\r\n"), "RTSP/1.0 200 OK\r\nCSeq: 2\r\n\r\n"),
        Reply(Request("OPTIONS " + url, 3, BASIC + AGENT + "\r\n"), "RTSP/1.0 200 OK\r\nCSeq: 3\r\n\r\n"),
    });
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(client.Execute(RTSPMethod::Describe));
    ASSERT_TRUE(client.Execute(RTSPMethod::Options));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
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

// The challenge is found by its header name even though its realm holds "Server".
TEST_F(RtspClientTest, ChallengeWhoseRealmNamesAnotherHeaderIsAnswered) {
    Run({
        Reply(Request("DESCRIBE " + DefaultUrl(), 1, AGENT + ACCEPT + "\r\n"),
              Unauthorized(1, "Digest realm=\"Surveillance Server\", nonce=\"1\"",
                           "Content-Base: " + BASE + "\r\n")),
        // Response computed independently (python3 hashlib) as in the test above.
        Reply(Request("DESCRIBE " + BASE, 2,
                      "Authorization: Digest username=\"admin\", realm=\"Surveillance Server\", nonce=\"1\", "
                      "uri=\"" + BASE + "\", response=\"95a55464319aec1f4c391342a613dbf9\"\r\n" + AGENT + ACCEPT +
                          "\r\n"),
              Ok(2)),
    });
    ASSERT_TRUE(client.Execute(RTSPMethod::Describe));
    EXPECT_EQ(client.GetParams().authScheme, AuthScheme::Digest);
    Finish();
}

// Once a connection's camera offered Digest, a Basic challenge is not answered: the password
// never goes out in the clear where Digest was possible.
TEST_F(RtspClientTest, NoBasicAnswerAfterDigestWasOffered) {
    const std::string digest = DigestAnswer("4a1f9b7c", BASE);
    Run({
        ChallengedDescribe(),
        Reply(Request("DESCRIBE " + BASE, 2,
                      digest + "66d8ccfaeec4f71d261954aa6b8652fd\"\r\n" + AGENT + ACCEPT + "\r\n"),
              Ok(2)),
        Reply(Request("OPTIONS " + BASE, 3,
                      digest + "8b3b855f07153b8602a570e0208f4599\"\r\n" + AGENT + "\r\n"),
              Unauthorized(3, "Basic realm=\"cam\"")),
    });
    ASSERT_TRUE(client.Execute(RTSPMethod::Describe));
    EXPECT_FALSE(client.Execute(RTSPMethod::Options));
    EXPECT_EQ(client.GetStatusCode(), 401u);
    Finish();
    EXPECT_EQ(peer.Requests().size(), 3u) << "no request with Basic credentials";
}

// A client configured for Digest cannot answer before it has a nonce: the 401 that brings one
// is retried, once per Execute.
TEST_F(RtspClientTest, ConfiguredDigestAnswersTheChallengeOncePerExecute) {
    params.authScheme = AuthScheme::Digest;
    Run({
        ChallengedDescribe(),
        Reply(Request("DESCRIBE " + BASE, 2,
                      DigestAnswer("4a1f9b7c", BASE) + "66d8ccfaeec4f71d261954aa6b8652fd\"\r\n" + AGENT + ACCEPT + "\r\n"),
              Unauthorized(2, "Digest realm=\"Sanyo cam\", nonce=\"5b2e0c8d\"")),
        Reply(Request("DESCRIBE " + BASE, 3,
                      DigestAnswer("5b2e0c8d", BASE) + "ab9ff3b120b5ebd0f8836e6c922dee00\"\r\n" + AGENT + ACCEPT + "\r\n"),
              Ok(3)),
    });
    EXPECT_FALSE(client.Execute(RTSPMethod::Describe));  // the retry met a second 401
    EXPECT_EQ(client.GetStatusCode(), 401u);
    EXPECT_TRUE(client.Execute(RTSPMethod::Describe));  // answers the newest nonce at once
    Finish();
    EXPECT_EQ(peer.Requests().size(), 3u);
}

// An absurd transport profile fails SETUP before anything is sent; one at the limit is sent whole.
TEST_F(RtspClientTest, OverlongTransportProfileFailsSetup) {
    const std::string longest(CBaseRTSPClient::MAX_TRANSPORT_PROFILE, 'P');
    const std::string url = DefaultUrl();
    const auto describe = [&](int cseq, const std::string& profile) {
        return Reply(Request("DESCRIBE " + url, cseq, AGENT + ACCEPT + "\r\n"),
                     Ok(cseq, "", "m=video 0 " + profile + " 96\r\na=control:v\r\n"));
    };
    Run({
        describe(1, longest),
        Reply(Request("SETUP " + url + "/v", 2,
                      "Transport: " + longest + ";unicast;client_port=3556-3557\r\n" + AGENT + "\r\n"),
              Ok(2, "Session: S\r\n")),
        describe(3, longest + "P"),
    });
    ASSERT_TRUE(client.Execute(RTSPMethod::Describe));
    EXPECT_TRUE(client.Execute(RTSPMethod::Setup));
    ASSERT_TRUE(client.Execute(RTSPMethod::Describe));
    EXPECT_FALSE(client.Execute(RTSPMethod::Setup));
    EXPECT_TRUE(client.BuildRequest(RTSPMethod::Setup).empty());
    Finish();  // the peer saw no request after the last DESCRIBE
}

// A new connection of the same client must not offer the old connection's session.
TEST_F(RtspClientTest, ReconnectStartsWithoutSession) {
    const std::string url = DefaultUrl();
    Run({
        Reply(Request("SETUP " + url, 1, "Transport: RTP/AVP/UDP;unicast;client_port=3556-3557\r\n" + AGENT + "\r\n"),
              Ok(1, "Session: OLD1;timeout=60\r\n")),
        Reply(Request("PLAY " + url, 2, "Session: OLD1\r\nRange: npt=0.000-\r\n" + AGENT + "\r\n"), Ok(2)),
    });
    ASSERT_TRUE(client.Execute(RTSPMethod::Setup));
    ASSERT_TRUE(client.Execute(RTSPMethod::Play));
    Finish();

    camsim::ScriptedPeer second;
    ASSERT_TRUE(second.Listen());
    params.rtspPort = second.Port();
    const std::string url2 = "rtsp://127.0.0.1:" + std::to_string(second.Port()) + "/live/h264";
    ASSERT_TRUE(second.Start({Reply(Request("OPTIONS " + url2, 3, AGENT + "\r\n"), Ok(3))}));
    ASSERT_TRUE(client.Connect(params));
    EXPECT_TRUE(client.GetParser().GetSessionId().empty());
    EXPECT_TRUE(client.Execute(RTSPMethod::Options));
    client.Disconnect();
    ASSERT_TRUE(second.WaitDone(5000));
    EXPECT_EQ(second.Error(), "");
}

// A peer trickling its reply byte by byte, each byte well within the receive time-out, still
// cannot hold an exchange past twice that time-out.
TEST_F(RtspClientTest, TricklingReplyFailsAtTheExchangeBound) {
    params.receiveTimeout = 200;
    const std::string reply = Ok(1, "Server: " + std::string(60, 's') + "\r\n");
    Run({SplitReply(Request("OPTIONS " + DefaultUrl(), 1, AGENT + "\r\n"), reply, 1, 40)});
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(client.Execute(RTSPMethod::Options));  // the whole trickle takes over 4 s
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(390));
    EXPECT_LT(took, std::chrono::milliseconds(3000));
    client.Disconnect();
    peer.Stop();
}

namespace {

// Runs `call` on another thread; Abort once `ready` is true must make it return false promptly.
template <typename Call>
void ExpectAbortEnds(CBaseRTSPClient& client, Call call, const std::function<bool()>& ready) {
    std::promise<bool> result;
    std::future<bool> done = result.get_future();
    std::thread caller([&] { result.set_value(call()); });
    const bool wasReady = ready();
    const auto start = std::chrono::steady_clock::now();
    client.Abort();
    const bool ended = done.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    const auto took = std::chrono::steady_clock::now() - start;
    caller.join();  // without a working Abort, the call ends by its own time-out
    EXPECT_TRUE(wasReady);
    ASSERT_TRUE(ended);
    EXPECT_FALSE(done.get());
    EXPECT_LT(took, std::chrono::milliseconds(1000));
}

// Connects `client` to `listener` (port and host set in `params`) and accepts the camera's side.
bool ConnectToListener(norvane::platform::TcpListener& listener, RTSPConnectionParams& params,
                       CBaseRTSPClient& client, norvane::platform::TcpSocket& camera) {
    params.host = "127.0.0.1";
    params.rtspPort = listener.LocalPort();
    return client.Connect(params) &&
           listener.Accept(camera, 5000) == norvane::platform::WaitResult::Ready;
}

}  // namespace

// Abort from another thread ends an exchange blocked on the reply, and every later call.
TEST(RtspClientAbort, EndsExchangeWaitingForReply) {
    norvane::platform::TcpListener listener;
    ASSERT_TRUE(listener.Listen(norvane::platform::LoopbackIPv4(), 0));
    RTSPConnectionParams params;
    params.receiveTimeout = 30000;
    CBaseRTSPClient client;
    norvane::platform::TcpSocket camera;
    ASSERT_TRUE(ConnectToListener(listener, params, client, camera));
    // Ready once the whole request has arrived: the client is then waiting for the reply.
    const auto requestArrived = [&] {
        std::string request;
        char buffer[256];
        while (request.find("\r\n\r\n") == std::string::npos) {
            const int got = camera.ReceiveWithin(buffer, sizeof(buffer), 5000);
            if (got <= 0)
                return false;
            request.append(buffer, static_cast<size_t>(got));
        }
        return true;
    };
    ExpectAbortEnds(client, [&] { return client.Execute(RTSPMethod::Options); }, requestArrived);
    EXPECT_FALSE(client.Execute(RTSPMethod::Options));
    client.Disconnect();
    EXPECT_FALSE(client.Connect(params));
}

// Abort ends a connect that the peer leaves pending (its accept queue is full).
TEST(RtspClientAbort, EndsPendingConnect) {
    norvane::platform::TcpListener listener;
    ASSERT_TRUE(listener.Listen(norvane::platform::LoopbackIPv4(), 0, 0));
    norvane::platform::TcpSocket filler;
    ASSERT_TRUE(filler.Connect(norvane::platform::LoopbackIPv4(), listener.LocalPort(), 2000));
    RTSPConnectionParams params;
    params.host = "127.0.0.1";
    params.rtspPort = listener.LocalPort();
    params.connectTimeout = 30000;
    CBaseRTSPClient client;
    norvane::CManualEvent started;
    ExpectAbortEnds(
        client,
        [&] {
            started.Set();
            return client.Connect(params);
        },
        [&] { return started.Wait(5000); });
    EXPECT_FALSE(client.IsConnected());
}

// Between exchanges the client notices a server that closes the connection, drops what the server
// sends unasked, and ends its wait at an Abort.
TEST(RtspClientReadUnasked, NoticesTheServerClosingAndEndsAtAbort) {
    norvane::platform::TcpListener listener;
    ASSERT_TRUE(listener.Listen(norvane::platform::LoopbackIPv4(), 0));
    RTSPConnectionParams params;
    CBaseRTSPClient client;
    norvane::platform::TcpSocket camera;
    ASSERT_TRUE(ConnectToListener(listener, params, client, camera));
    const std::string unasked = "ANNOUNCE rtsp://cam/ RTSP/1.0\r\nCSeq: 1\r\n\r\n";
    ASSERT_TRUE(camera.SendAll(unasked.data(), unasked.size()));
    EXPECT_EQ(client.ReadUnasked(200), CBaseRTSPClient::ReadEnd::TimePassed)
        << "open connection taken for closed";

    ExpectAbortEnds(
        client, [&] { return client.ReadUnasked(30000) == CBaseRTSPClient::ReadEnd::Closed; },
        [] { return true; });

    CBaseRTSPClient second;
    norvane::platform::TcpSocket secondCamera;
    ASSERT_TRUE(ConnectToListener(listener, params, second, secondCamera));
    ASSERT_TRUE(secondCamera.SendAll(unasked.data(), unasked.size()));
    secondCamera.Close();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(second.ReadUnasked(30000), CBaseRTSPClient::ReadEnd::Closed);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

namespace {

// Records the interleaved frames handed over, as "channel:data".
class FrameLog : public norvane::IInterleavedUser {
public:
    void OnInterleaved(uint8_t channel, const uint8_t* data, uint32_t length) override {
        frames.push_back(std::to_string(channel) + ":" +
                         std::string(reinterpret_cast<const char*>(data), length));
    }
    std::vector<std::string> frames;
};

// One interleaved frame as it travels: '$', channel, 16-bit length, data.
std::string Frame(uint8_t channel, const std::string& data, size_t length) {
    return std::string{'$', static_cast<char>(channel), static_cast<char>(length >> 8),
                       static_cast<char>(length & 0xFF)} +
           data;
}

std::string Frame(uint8_t channel, const std::string& data) {
    return Frame(channel, data, data.size());
}

class RtspClientInterleaved : public RtspClientTest {
protected:
    void SetUp() override {
        RtspClientTest::SetUp();
        params.transport = norvane::RTSPTransport::Tcp;
        client.SetInterleavedUser(&log);
    }

    // DESCRIBE and a SETUP that asks for channels 0 and 1 on the connection, then `after`.
    void RunSession(std::vector<Exchange> after) {
        const std::string sdp = "m=video 0 RTP/AVP 96\r\na=control:trackID=1\r\n";
        std::vector<Exchange> script{
            Reply(Request("DESCRIBE " + DefaultUrl(), 1, AGENT + ACCEPT + "\r\n"),
                  Ok(1, "Content-Type: application/sdp\r\n", sdp)),
            Reply(Request("SETUP " + DefaultUrl() + "/trackID=1", 2,
                          "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n" + AGENT + "\r\n"),
                  Ok(2, "Session: S1\r\nTransport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n")),
        };
        script.insert(script.end(), after.begin(), after.end());
        Run(std::move(script));
        ASSERT_TRUE(client.Execute(RTSPMethod::Describe));
        ASSERT_TRUE(client.Execute(RTSPMethod::Setup));
    }

    FrameLog log;
};

}  // namespace

// Frames before and after a keep-alive's reply, cut into 3-byte pieces so that frames, their
// headers and the reply arrive split over many reads, go to the user in order; the reply to its
// exchange. A report sent meanwhile goes out as one frame on channel 1.
TEST_F(RtspClientInterleaved, FramesAroundAReplyReachTheUserAndTheReplyItsExchange) {
    const std::string report = "RR-and-SDES";
    RunSession({
        Reply(Frame(1, report), ""),
        SplitReply(Request("GET_PARAMETER " + DefaultUrl(), 3, "Session: S1\r\n" + AGENT + "\r\n"),
                   Frame(0, "rtp-1") + Frame(1, "sr") + Ok(3, "Session: S1\r\n") +
                       Frame(0, std::string(1400, 'p')),
                   3, 1),
    });
    ASSERT_TRUE(
        client.SendInterleaved(1, reinterpret_cast<const uint8_t*>(report.data()), report.size()));
    ASSERT_TRUE(client.Execute(RTSPMethod::GetParameter));
    EXPECT_EQ(client.GetStatusCode(), 200u);
    EXPECT_EQ(log.frames, (std::vector<std::string>{"0:rtp-1", "1:sr"}));
    EXPECT_EQ(client.ReadUnasked(10000, [&] { return log.frames.size() == 3; }),
              CBaseRTSPClient::ReadEnd::Done);
    ASSERT_EQ(log.frames.size(), 3u);
    EXPECT_EQ(log.frames[2], "0:" + std::string(1400, 'p'));
    Finish();
}

struct BadStreamCase {
    const char* name;
    std::string bytes;  // after one good frame
};

class RtspClientInterleavedBadStream : public RtspClientInterleaved,
                                       public ::testing::WithParamInterface<BadStreamCase> {};

// What is neither a bounded frame nor a reply ends the reading at once, also inside an exchange;
// the good frame before it is still handed over.
TEST_P(RtspClientInterleavedBadStream, EndsTheReadAsMalformed) {
    RunSession({Reply("", Frame(0, "good") + GetParam().bytes)});
    EXPECT_EQ(client.ReadUnasked(10000), CBaseRTSPClient::ReadEnd::Malformed);
    EXPECT_EQ(log.frames, std::vector<std::string>{"0:good"});
    EXPECT_FALSE(client.Execute(RTSPMethod::Options));
    client.Disconnect();
    peer.Stop();
}

INSTANTIATE_TEST_SUITE_P(
    Streams, RtspClientInterleavedBadStream,
    ::testing::Values(
        BadStreamCase{"oversizedLength", Frame(0, "", CBaseRTSPClient::MAX_INTERLEAVED_FRAME + 1)},
        BadStreamCase{"garbage", "\x01\x02garbage\r\n\r\n"},
        BadStreamCase{"requestFromTheServer", "ANNOUNCE rtsp://cam/ RTSP/1.0\r\nCSeq: 1\r\n\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });
