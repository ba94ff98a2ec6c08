#include <atomic>
#include <chrono>
#include <thread>

#include "http_fixture.h"
#include "platform/http_transport.h"

using namespace norvane;
using camsim::HttpAuthConfig;
using camsim::HttpReply;
using camsim::HttpRequest;
using Web::ByteBuffer;
using Web::CHttpClient;

namespace {

std::string Pattern(size_t size) {
    std::string text(size, '\0');
    for (size_t i = 0; i < size; ++i)
        text[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
    return text;
}

uint32_t ElapsedMs(std::chrono::steady_clock::time_point since) {
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now() - since)
                                     .count());
}

}  // namespace

class HttpClientTest : public test::HttpTest {};

TEST_F(HttpClientTest, KeepAliveServesEveryRequestOverOneConnection) {
    Serve("/cgi-bin/a.cgi", 200, "a:(1)\r\n");
    auto client = MakeClient();
    ByteBuffer body;
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(client->SendRequest("GET", "/cgi-bin/a.cgi?status=1"));
        EXPECT_EQ(client->StatusCode(), 200u);
        EXPECT_EQ(client->ContentLength(), 7u);
        ASSERT_EQ(client->ReadResponse(body), 7u);
    }
    EXPECT_EQ(client->Protocol(), CHttpClient::PROTOCOL_HTTP);
    EXPECT_EQ(server.ConnectionCount(), 1u);
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 5u);
    EXPECT_EQ(requests[0].Header("user-agent"), "Norvane::HttpClient");
    EXPECT_EQ(requests[0].target, "/cgi-bin/a.cgi?status=1");
    EXPECT_EQ(requests[0].Header("authorization"), "");
}

TEST_F(HttpClientTest, BodiesAroundTheChunkSizeArriveWhole) {
    for (const size_t size : {size_t{10240}, size_t{10241}, size_t{3 * 10240 + 1}, size_t{1}}) {
        const std::string content = Pattern(size);
        Serve("/big", 200, content);
        auto client = MakeClient();
        ASSERT_TRUE(client->SendRequest("GET", "/big"));
        ByteBuffer body;
        ASSERT_EQ(client->ReadResponse(body), size);
        EXPECT_EQ(body.size(), size);
        EXPECT_EQ(Text(body, static_cast<uint32_t>(size)), content);
        EXPECT_EQ(client->QueryDataAvailable(), 0u);
    }
}

TEST_F(HttpClientTest, BinaryAndSlowBodiesAreReadWhole) {
    std::string binary;
    for (int i = 0; i < 512; ++i)
        binary += static_cast<char>(i & 0xFF);
    server.Route("/bin", [&](const HttpRequest&) { return HttpReply::Text(200, binary); });
    server.Route("/slow", [](const HttpRequest&) {
        HttpReply reply = HttpReply::Text(200, Pattern(3000));
        reply.pieceSize = 1000;
        reply.piecePauseMs = 30;  // each pause well inside the 200 ms receive time-out
        return reply;
    });
    auto client = MakeClient();
    ByteBuffer body;
    ASSERT_TRUE(client->SendRequest("GET", "/bin"));
    ASSERT_EQ(client->ReadResponse(body), 512u);
    EXPECT_EQ(Text(body, 512), binary);
    ASSERT_TRUE(client->SendRequest("GET", "/slow"));
    ASSERT_EQ(client->ReadResponse(body), 3000u);
    EXPECT_EQ(Text(body, 3000), Pattern(3000));
}

// No credentials go out before the camera asks; then the scheme it asked for is answered and
// remembered for its address, so a later client sends Basic at once.
TEST_F(HttpClientTest, BasicGoesOnlyToACameraThatAskedForIt) {
    RequireAuth(HttpAuthConfig::Mode::Basic);
    Serve("/p", 200, "ok");
    auto client = MakeClient();
    ASSERT_TRUE(client->SendRequest("GET", "/p"));
    EXPECT_EQ(client->StatusCode(), 200u);
    EXPECT_EQ(client->AuthScheme(), platform::HTTP_AUTH_BASIC);
    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].Header("authorization"), "");
    EXPECT_EQ(requests[0].status, 401);
    EXPECT_EQ(requests[1].Header("authorization"), "Basic YWRtaW46c2VjcmV0");
    EXPECT_EQ(requests[1].user, "admin");

    auto later = MakeClient();
    ASSERT_TRUE(later->SendRequest("GET", "/p"));
    EXPECT_EQ(later->StatusCode(), 200u);
    requests = server.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[2].Header("authorization"), "Basic YWRtaW46c2VjcmV0");
}

TEST_F(HttpClientTest, EmptyUserSendsNoCredentials) {
    RequireAuth(HttpAuthConfig::Mode::Basic);
    SetCredentials("", "secret");
    auto client = MakeClient();
    ASSERT_TRUE(client->SendRequest("GET", "/p"));
    EXPECT_EQ(client->StatusCode(), 401u);
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);  // Basic offered while Basic is the scheme: no retry
    EXPECT_EQ(requests[0].Header("authorization"), "");
}

TEST_F(HttpClientTest, WrongBasicPasswordShowsOneRefusal) {
    RequireAuth(HttpAuthConfig::Mode::Basic);
    SetCredentials("admin", "wrong");
    auto client = MakeClient();
    ASSERT_TRUE(client->SendRequest("GET", "/p"));
    EXPECT_EQ(client->StatusCode(), 401u);
    EXPECT_EQ(server.RequestCount(), 2u);  // the request without credentials, the refused answer
    EXPECT_EQ(client->AuthScheme(), platform::HTTP_AUTH_BASIC);
}

TEST_F(HttpClientTest, DigestOnlyServerIsReachedAfterOneRefusal) {
    if (test::RunningUnderWine())
        GTEST_SKIP() << test::WINE_LACKS_DIGEST;
    RequireAuth(HttpAuthConfig::Mode::Digest);
    Serve("/cgi-bin/p.cgi", 200, "digest ok");
    auto client = MakeClient();
    ASSERT_TRUE(client->SendRequest("GET", "/cgi-bin/p.cgi?x=1"));
    EXPECT_EQ(client->StatusCode(), 200u);
    EXPECT_EQ(client->AuthScheme(), platform::HTTP_AUTH_DIGEST);
    ByteBuffer body;
    ASSERT_EQ(client->ReadResponse(body), 9u);
    EXPECT_EQ(Text(body, 9), "digest ok");  // the refusals' bodies are not part of it
    auto requests = server.Requests();
    ASSERT_GE(requests.size(), 2u);
    EXPECT_EQ(requests.front().Header("authorization"), "");
    EXPECT_EQ(requests.front().status, 401);
    EXPECT_TRUE(requests.back().Header("authorization").starts_with("Digest "));
    EXPECT_EQ(requests.back().user, "admin");

    // The scheme stays chosen: later requests succeed without a Basic attempt.
    ASSERT_TRUE(client->SendRequest("GET", "/cgi-bin/p.cgi?x=2"));
    EXPECT_EQ(client->StatusCode(), 200u);
    EXPECT_EQ(server.ConnectionCount(), 1u);

    // Once the camera asked for Digest, a later challenge for Basic at its address is not
    // answered: the owner sees the refusal, and the password never crosses in the clear.
    RequireAuth(HttpAuthConfig::Mode::Basic);
    auto later = MakeClient();
    ASSERT_TRUE(later->SendRequest("GET", "/cgi-bin/p.cgi?x=3"));
    EXPECT_EQ(later->StatusCode(), 401u);
    requests = server.Requests();
    for (const HttpRequest& request : requests)
        EXPECT_FALSE(request.Header("authorization").starts_with("Basic ")) << request.target;
}

// A camera that moves from Basic to Digest is never sent Basic again, not even by a client that
// learnt Basic from it before.
TEST_F(HttpClientTest, NoClientSendsBasicOnceTheCameraAskedForDigest) {
    if (test::RunningUnderWine())
        GTEST_SKIP() << test::WINE_LACKS_DIGEST;
    RequireAuth(HttpAuthConfig::Mode::Basic);
    Serve("/p", 200, "ok");
    auto first = MakeClient();
    ASSERT_TRUE(first->SendRequest("GET", "/p"));
    ASSERT_EQ(first->StatusCode(), 200u);
    RequireAuth(HttpAuthConfig::Mode::Digest);
    auto second = MakeClient();
    ASSERT_TRUE(second->SendRequest("GET", "/p"));  // Basic at once, then the Digest challenge
    ASSERT_EQ(second->StatusCode(), 200u);
    const size_t before = server.RequestCount();
    ASSERT_TRUE(first->SendRequest("GET", "/p?again=1"));
    EXPECT_EQ(first->StatusCode(), 200u);
    EXPECT_EQ(first->AuthScheme(), platform::HTTP_AUTH_DIGEST);
    const auto requests = server.Requests();
    for (size_t i = before; i < requests.size(); ++i)
        EXPECT_FALSE(requests[i].Header("authorization").starts_with("Basic ")) << i;
}

// A camera that restarted forgot its nonces: the client's Digest answer gets a new challenge,
// which is answered once within the same request.
TEST_F(HttpClientTest, DigestIsAnsweredAgainWhenTheCameraForgetsItsNonce) {
    if (test::RunningUnderWine())
        GTEST_SKIP() << test::WINE_LACKS_DIGEST;
    RequireAuth(HttpAuthConfig::Mode::Digest);
    Serve("/cgi-bin/p.cgi", 200, "digest ok");
    auto client = MakeClient();
    ASSERT_TRUE(client->SendRequest("GET", "/cgi-bin/p.cgi?x=1"));
    ASSERT_EQ(client->StatusCode(), 200u);
    RequireAuth(HttpAuthConfig::Mode::Digest);  // the nonces given so far no longer hold
    const size_t before = server.RequestCount();
    ASSERT_TRUE(client->SendRequest("GET", "/cgi-bin/p.cgi?x=2"));
    EXPECT_EQ(client->StatusCode(), 200u);
    EXPECT_EQ(server.RequestCount() - before, 2u) << "one refusal, one answer";
    // A second refusal of the answer is the owner's to see.
    SetCredentials("admin", "wrong");
    auto wrong = MakeClient();
    ASSERT_TRUE(wrong->SendRequest("GET", "/cgi-bin/p.cgi?x=3"));
    EXPECT_EQ(wrong->StatusCode(), 401u);
}

TEST_F(HttpClientTest, SeveralOfferedSchemesPickDigestBeforeBasic) {
    if (test::RunningUnderWine())
        GTEST_SKIP() << test::WINE_LACKS_DIGEST;
    RequireAuth(HttpAuthConfig::Mode::Digest);
    HttpAuthConfig auth;
    auth.mode = HttpAuthConfig::Mode::Digest;
    auth.user = "admin";
    auth.password = "secret";
    auth.offered = {"Basic", "Digest"};
    server.SetAuth(auth);
    auto client = MakeClient();
    ASSERT_TRUE(client->SendRequest("GET", "/p"));
    EXPECT_EQ(client->StatusCode(), 404u);  // authorised; no page there
    EXPECT_EQ(client->AuthScheme(), platform::HTTP_AUTH_DIGEST);
}

TEST_F(HttpClientTest, SchemeOrderPrefersNtlmOverBasic) {
    if (!(platform::SupportedHttpAuthSchemes() & platform::HTTP_AUTH_NTLM))
        GTEST_SKIP() << "libcurl without NTLM";
    HttpAuthConfig auth;
    auth.mode = HttpAuthConfig::Mode::Basic;
    auth.user = "admin";
    auth.password = "secret";
    auth.offered = {"Basic", "NTLM"};
    server.SetAuth(auth);
    SetCredentials("admin", "wrong");
    auto client = MakeClient();
    ASSERT_TRUE(client->SendRequest("GET", "/p"));
    // The server cannot finish NTLM: the refusal repeats and the owner sees it.
    EXPECT_EQ(client->StatusCode(), 401u);
    EXPECT_EQ(client->AuthScheme(), platform::HTTP_AUTH_NTLM);
    EXPECT_TRUE(server.Requests().back().Header("authorization").starts_with("NTLM "));
}

TEST_F(HttpClientTest, EndlessRefusalEndsWithTheOwnerSeeing401) {
    HttpAuthConfig auth;
    auth.mode = HttpAuthConfig::Mode::Digest;
    auth.user = "admin";
    auth.password = "secret";
    auth.denyAll = true;
    server.SetAuth(auth);
    SetCredentials("admin", "secret");
    auto client = MakeClient();
    ASSERT_TRUE(client->SendRequest("GET", "/p"));
    EXPECT_EQ(client->StatusCode(), 401u);
    EXPECT_EQ(client->AuthScheme(), platform::HTTP_AUTH_DIGEST);
    // One request without credentials, then one Digest attempt (an unanswered and an answered
    // request).
    EXPECT_LE(server.RequestCount(), 3u);
    for (const HttpRequest& request : server.Requests())
        EXPECT_FALSE(request.Header("authorization").starts_with("Basic ")) << request.target;
}

TEST_F(HttpClientTest, AlternatingChallengesStopAfterFiveChanges) {
    // 401 and 407 in turn, each with a new Digest nonce: every reply differs from the last and
    // asks to be answered again (Basic, never sent once Digest was asked for, cannot alternate).
    std::atomic<int> replies{0};
    server.Route("/p", [&](const HttpRequest&) {
        const int n = replies++;
        const bool server401 = n % 2 == 0;
        HttpReply reply = HttpReply::Text(server401 ? 401 : 407, "no");
        reply.headers.emplace_back(
            server401 ? "WWW-Authenticate" : "Proxy-Authenticate",
            "Digest realm=\"r\", nonce=\"n" + std::to_string(n) + "\", qop=\"auth\"");
        return reply;
    });
    SetCredentials("admin", "secret");
    auto client = MakeClient();
    ASSERT_TRUE(client->SendRequest("GET", "/p"));
    // Each of the five attempts after the first follows a change; the fifth change ends it.
    EXPECT_EQ(client->StatusCode(), 401u);
    EXPECT_EQ(server.RequestCount(), 5u);
    EXPECT_EQ(client->AuthScheme(), platform::HTTP_AUTH_DIGEST);
}

TEST_F(HttpClientTest, CloseRequestFromAnotherThreadEndsABlockedRead) {
    driver.info.timeout = 10000;  // the read must end by the close, not by the time-out
    server.Route("/push", [](const HttpRequest&) {
        HttpReply reply;
        reply.stream = [sent = false](camsim::HttpBodyWriter& out) mutable {
            if (!sent) {
                sent = true;
                return out.Send("first");
            }
            return out.Pause(20000);  // then silence until the peer leaves
        };
        return reply;
    });
    auto client = MakeClient();
    ASSERT_TRUE(client->SendRequest("GET", "/push"));
    char buffer[64];
    ASSERT_EQ(client->ReadData(buffer, sizeof buffer), 5u);

    std::atomic<bool> reading{false};
    std::atomic<uint32_t> result{99};
    std::thread reader([&] {
        reading = true;
        result = client->ReadData(buffer, sizeof buffer);
    });
    while (!reading) {
        std::this_thread::yield();
    }
    const auto start = std::chrono::steady_clock::now();
    client->CloseRequest();
    reader.join();
    EXPECT_EQ(result.load(), 0u);
    EXPECT_LT(ElapsedMs(start), 2000u);
    EXPECT_EQ(client->ReadData(buffer, sizeof buffer), 0u);
    EXPECT_EQ(client->QueryDataAvailable(), 0u);
    EXPECT_TRUE(server.WaitUntil([&] { return server.OpenConnections() == 0; },
                                 test::ReleaseLimitMs(5000, driver.info.timeout)));
    if (test::RunningUnderWine())
        GTEST_SKIP() << test::WINE_CLOSE_LEAVES_CONNECTION;
}

TEST_F(HttpClientTest, EndlessPushStreamsWithBoundedBuffering) {
    constexpr size_t PIECE = 32 * 1024;
    constexpr size_t LIMIT = 64u * 1024 * 1024;  // the server gives up here at the latest
    const std::string piece = Pattern(PIECE);
    server.Route("/push", [&](const HttpRequest&) {
        HttpReply reply;
        reply.stream = [&piece, sent = size_t{0}](camsim::HttpBodyWriter& out) mutable {
            sent += piece.size();
            return sent <= LIMIT && out.Send(piece);
        };
        return reply;
    });
    auto client = MakeClient();
    ASSERT_TRUE(client->SendRequest("GET", "/push"));
    EXPECT_EQ(client->ContentLength(), 0u);
    constexpr size_t WANTED = 8u * 1024 * 1024;
    std::vector<char> buffer(3000);
    size_t total = 0;
    uint32_t largest = 0;
    bool intact = true;
    while (total < WANTED) {
        const uint32_t available = client->QueryDataAvailable();
        ASSERT_GT(available, 0u);
        largest = std::max(largest, available);
        const uint32_t got = client->ReadData(buffer.data(), static_cast<uint32_t>(buffer.size()));
        ASSERT_GT(got, 0u);
        for (uint32_t i = 0; i < got && intact; ++i)
            intact = buffer[i] == piece[(total + i) % PIECE];
        total += got;
    }
    EXPECT_TRUE(intact);
    EXPECT_LE(largest, platform::HttpTransport::BUFFER_LIMIT + 64 * 1024);
    client->CloseRequest();
    EXPECT_TRUE(server.WaitUntil([&] { return server.OpenConnections() == 0; }, 5000));
}

TEST_F(HttpClientTest, SilentServerFailsWithinTheTimeOut) {
    ServeSilence("/p");
    auto client = MakeClient();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(client->SendRequest("GET", "/p"));
    EXPECT_LT(ElapsedMs(start), 3000u);
    EXPECT_EQ(client->StatusCode(), 0u);
    EXPECT_EQ(client->Protocol(), CHttpClient::PROTOCOL_UNKNOWN);
    EXPECT_EQ(server.ConnectionCount(), 1u);  // no HTTPS attempt followed
}

// What came of a body that stalled short of its length is not the body.
TEST_F(HttpClientTest, StalledBodyFailsAfterTheReceiveTimeOut) {
    server.Route("/p", [](const HttpRequest&) {
        HttpReply reply = HttpReply::Text(200, "abc");
        reply.contentLength = 100;  // the rest never comes; the connection stays open
        return reply;
    });
    auto client = MakeClient();
    ASSERT_TRUE(client->SendRequest("GET", "/p"));
    EXPECT_EQ(client->ContentLength(), 100u);
    ByteBuffer body{1};
    EXPECT_EQ(client->ReadResponse(body), 0u);
    EXPECT_TRUE(body.empty());
    EXPECT_EQ(client->QueryDataAvailable(), 0u);
}

TEST_F(HttpClientTest, MalformedRepliesFailOrEndCleanly) {
    server.Route("/nostatus", [](const HttpRequest&) {
        HttpReply reply;
        reply.action = HttpReply::Action::Raw;
        reply.body = "hello there\r\n\r\n";
        return reply;
    });
    server.Route("/huge", [](const HttpRequest&) {
        HttpReply reply = HttpReply::Text(200, "abc");
        reply.contentLength = 1ull << 40;
        reply.close = true;
        reply.truncateAt = 3;
        return reply;
    });
    server.Route("/cut", [](const HttpRequest&) {
        HttpReply reply = HttpReply::Text(200, Pattern(5000));
        reply.truncateAt = 1000;
        return reply;
    });
    server.Route("/drop", [](const HttpRequest&) {
        HttpReply reply;
        reply.action = HttpReply::Action::Drop;
        return reply;
    });
    server.Route("/headers", [](const HttpRequest&) {
        HttpReply reply = HttpReply::Text(200, "x");
        for (int i = 0; i < 5000; ++i)
            reply.headers.emplace_back("X-Filler-" + std::to_string(i), std::string(40, 'f'));
        return reply;
    });
    auto client = MakeClient();
    ByteBuffer body;
    EXPECT_FALSE(client->SendRequest("GET", "/nostatus"));
    EXPECT_FALSE(client->SendRequest("GET", "/drop"));
    EXPECT_FALSE(client->SendRequest("GET", "/headers"));

    // Bodies cut short by a close are not taken for whole ones.
    ASSERT_TRUE(client->SendRequest("GET", "/huge"));
    EXPECT_EQ(client->ContentLength(), 0u);  // beyond 32 bits
    EXPECT_EQ(client->ReadResponse(body), 0u);

    ASSERT_TRUE(client->SendRequest("GET", "/cut"));
    EXPECT_EQ(client->ContentLength(), 5000u);
    EXPECT_EQ(client->ReadResponse(body), 0u);
    EXPECT_TRUE(body.empty());
}

TEST_F(HttpClientTest, UnreachablePortAndUnknownNameFailWithoutRetry) {
    const uint16_t port = server.Port();
    server.Stop();
    auto client = MakeClient();
    EXPECT_FALSE(client->SendRequest("GET", "/p"));
    EXPECT_EQ(client->Protocol(), CHttpClient::PROTOCOL_UNKNOWN);
    driver.info.address = std::string(70, 'x') + ".invalid";  // refused before any look-up is sent
    driver.info.port = port;
    auto unknown = MakeClient();
    EXPECT_FALSE(unknown->SendRequest("GET", "/p"));
    EXPECT_EQ(unknown->StatusCode(), 0u);
    ByteBuffer body;
    EXPECT_EQ(unknown->ReadResponse(body), 0u);
    EXPECT_FALSE(client->SendRequest("", "/p"));
}

class HttpsRetryTest : public test::HttpTest {
protected:
    bool UseTls() const override { return true; }
};

TEST_F(HttpsRetryTest, FailedRetryOverPlainHttpMovesToTlsOnTheSamePort) {
    // Plain connections get the Digest challenge, then nothing; TLS ones are served.
    RequireAuth(HttpAuthConfig::Mode::Digest);
    server.Route("/p", [](const HttpRequest& request) {
        if (!request.secure) {
            HttpReply reply;
            reply.action = HttpReply::Action::Drop;
            return reply;
        }
        return HttpReply::Text(200, "secure");
    });
    auto client = MakeClient();
    ASSERT_TRUE(client->SendRequest("GET", "/p"));
    EXPECT_EQ(client->StatusCode(), 200u);
    EXPECT_EQ(client->Protocol(), CHttpClient::PROTOCOL_HTTPS);
    ByteBuffer body;
    ASSERT_EQ(client->ReadResponse(body), 6u);
    EXPECT_EQ(Text(body, 6), "secure");
    const auto requests = server.Requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_FALSE(requests.front().secure);
    EXPECT_TRUE(requests.back().secure);

    // The state holds: the next request goes over TLS at once.
    const size_t before = requests.size();
    ASSERT_TRUE(client->SendRequest("GET", "/p"));
    EXPECT_EQ(client->StatusCode(), 200u);
    const auto later = server.Requests();
    for (size_t i = before; i < later.size(); ++i)
        EXPECT_TRUE(later[i].secure);
}

TEST_F(HttpsRetryTest, PlainServiceStaysPlain) {
    Serve("/p", 200, "plain");
    auto client = MakeClient();
    ASSERT_TRUE(client->SendRequest("GET", "/p"));
    EXPECT_EQ(client->Protocol(), CHttpClient::PROTOCOL_HTTP);
    EXPECT_FALSE(server.Requests().front().secure);
}
