#include "http/camera_request.h"

#include <chrono>

#include "camsim/oversized_pages.h"
#include "http/utils.h"
#include "http_fixture.h"
#include "platform/socket.h"

using namespace norvane;
using camsim::HttpReply;
using camsim::HttpRequest;
using Utils::SendRequestRD;
using Web::ByteBuffer;

class CameraRequestTest : public test::HttpTest {
protected:
    std::string Peer() const { return "host 127.0.0.1:" + std::to_string(server.Port()); }
};

TEST_F(CameraRequestTest, BodyIsReturnedWithTerminatingZero) {
    Serve("/cgi-bin/codec_stream.cgi", 200, "stream1_name:(FRONT)\r\nstream1_sw:(1)\r\n");
    auto client = MakeClient();
    ByteBuffer reply{'s', 't', 'a', 'l', 'e'};
    const CResultDef result = SendRequestRD(reply, *client, "/cgi-bin/codec_stream.cgi?status=1");
    EXPECT_TRUE(result.Succeeded());
    EXPECT_EQ(result.Level(), 3);
    EXPECT_TRUE(result.Message().empty());
    ASSERT_EQ(reply.size(), 39u);
    EXPECT_EQ(reply.back(), 0);
    const char* text = reinterpret_cast<const char*>(reply.data());
    EXPECT_EQ(Utils::GetBracketedReplyValue("stream1_name", text), "FRONT");
    EXPECT_EQ(Utils::GetBracketedReplyValue("stream1_sw", text), "1");
}

TEST_F(CameraRequestTest, EmptyBodyGivesCode10) {
    Serve("/e", 204, "");
    auto client = MakeClient();
    ByteBuffer reply;
    const CResultDef result = SendRequestRD(reply, *client, "/e");
    EXPECT_EQ(result.Code(), 10u);
    EXPECT_EQ(result.Level(), 1);
    EXPECT_EQ(result.Message(), "norvane::Utils::SendRequestRD: incorrect response for request \"/e\" from " + Peer());
    EXPECT_EQ(reply, ByteBuffer{0});
}

TEST_F(CameraRequestTest, RefusedStatusGivesCode6WithoutReadingTheBody) {
    Serve("/missing", 404, "not here");
    auto client = MakeClient();
    ByteBuffer reply{1, 2, 3};
    const CResultDef result = SendRequestRD(reply, *client, "/missing");
    EXPECT_EQ(result.Code(), 6u);
    EXPECT_EQ(result.Level(), 1);
    EXPECT_EQ(result.Message(), "norvane::Utils::SendRequestRD: " + Peer() +
                                    " sent does not process request \"/missing\", status code = 404");
    EXPECT_TRUE(reply.empty());
    EXPECT_EQ(client->QueryDataAvailable(), 8u);  // the body is still there, unread
}

TEST_F(CameraRequestTest, NoStatusGivesCode9NotLogged) {
    const std::string peer = Peer();
    server.Stop();
    auto client = MakeClient();
    ByteBuffer reply{1};
    const CResultDef result = SendRequestRD(reply, *client, "/cgi-bin/x.cgi");
    EXPECT_EQ(result.Code(), 9u);
    EXPECT_EQ(result.Level(), 4);
    EXPECT_EQ(result.Message(), "norvane::Utils::SendRequestRD: can not send request \"/cgi-bin/x.cgi\" to " + peer);
    EXPECT_TRUE(reply.empty());
    Utils::LogResult(&driver, result);
    EXPECT_EQ(driver.log.Count(), 0u);
}

TEST_F(CameraRequestTest, VariantsAgreeWithTheFullForm) {
    Serve("/ok", 200, "a:1");
    Serve("/bad", 500, "oops");
    auto client = MakeClient();
    ByteBuffer reply;
    EXPECT_TRUE(SendRequestRD(*client, reply, "/ok"));
    EXPECT_EQ(reply.size(), 4u);
    EXPECT_FALSE(SendRequestRD(*client, reply, "/bad"));
    EXPECT_TRUE(SendRequestRD(*client, "/ok").Succeeded());
    EXPECT_EQ(SendRequestRD(*client, "/bad").Code(), 6u);
}

TEST_F(CameraRequestTest, RepliesWithoutStatusOrBodyEndInTheirCodes) {
    server.Route("/garbage", [](const HttpRequest&) {
        HttpReply reply;
        reply.action = HttpReply::Action::Raw;
        reply.body = std::string("\x00\x01\x02 no status\r\n\r\n", 17);
        return reply;
    });
    ServeSilence("/silent");
    server.Route("/lying", [](const HttpRequest&) {
        HttpReply reply = HttpReply::Text(200, "");
        reply.contentLength = 50;  // nothing of it comes; the connection closes
        reply.close = true;
        return reply;
    });
    auto client = MakeClient();
    EXPECT_EQ(SendRequestRD(*client, "/garbage").Code(), 9u);
    EXPECT_EQ(SendRequestRD(*client, "/silent").Code(), 9u);
    EXPECT_EQ(SendRequestRD(*client, "/lying").Code(), 10u);
}

// CGI pages are a few KiB: a page past the reply bound fails with its own log line, whether it
// announces its length or never ends, and its connection is let go rather than drained. A page
// of exactly the bound is read whole.
TEST_F(CameraRequestTest, PagesPastTheReplyBoundFail) {
    constexpr uint32_t BOUND = Web::CHttpClient::MAX_RESPONSE;
    driver.info.timeout = 2000;  // the pages are refused by their size, not by a time-out
    server.Route("/cgi-bin/exact.cgi",
                 [](const HttpRequest&) { return camsim::OversizedPage(BOUND); });
    server.Route("/cgi-bin/over.cgi",
                 [](const HttpRequest&) { return camsim::OversizedPage(BOUND + 1); });
    server.Route("/cgi-bin/huge.cgi",
                 [](const HttpRequest&) { return camsim::OversizedPage(64u << 20); });
    server.Route("/cgi-bin/endless.cgi", [](const HttpRequest&) { return camsim::EndlessPage(); });
    auto client = MakeClient();
    ByteBuffer reply;
    ASSERT_TRUE(SendRequestRD(reply, *client, "/cgi-bin/exact.cgi").Succeeded());
    EXPECT_EQ(reply.size(), BOUND + 1u);
    for (const std::string path :
         {"/cgi-bin/over.cgi", "/cgi-bin/huge.cgi", "/cgi-bin/endless.cgi"}) {
        SCOPED_TRACE(path);
        const CResultDef result = SendRequestRD(reply, *client, path);
        EXPECT_EQ(result.Code(), CResultDef::CODE_REPLY_TOO_LONG);
        EXPECT_EQ(result.Level(), CResultDef::LEVEL_ERROR);
        EXPECT_EQ(result.Message(), "norvane::Utils::SendRequestRD: reply to request \"" + path +
                                        "\" from " + Peer() + " exceeds " + std::to_string(BOUND) +
                                        " bytes");
        EXPECT_EQ(reply, ByteBuffer{0});
        // Wine's WinHTTP may leave the connection until the server gives up on a peer that
        // takes nothing.
        EXPECT_TRUE(server.WaitUntil([&] { return server.OpenConnections() == 0; },
                                     test::ReleaseLimitMs(5000, camsim::HttpServer::PEER_WAIT_MS)));
    }
}

// A body that stops short of its Content-Length is not the page, whether the camera closes the
// connection or holds it open.
TEST_F(CameraRequestTest, BodiesShortOfTheirLengthFail) {
    server.Route("/cgi-bin/held.cgi",
                 [](const HttpRequest&) { return camsim::ShortPage(1000, 430); });
    server.Route("/cgi-bin/cut.cgi", [](const HttpRequest&) {
        HttpReply reply = HttpReply::Text(200, std::string(1000, 'x'));
        reply.truncateAt = 430;
        return reply;
    });
    auto client = MakeClient();
    for (const std::string path : {"/cgi-bin/held.cgi", "/cgi-bin/cut.cgi"}) {
        SCOPED_TRACE(path);
        ByteBuffer reply{1, 2};
        const CResultDef result = SendRequestRD(reply, *client, path);
        EXPECT_EQ(result.Code(), CResultDef::CODE_EMPTY_REPLY);
        EXPECT_EQ(result.Message(),
                  "norvane::Utils::SendRequestRD: incorrect response for request \"" + path +
                      "\" from " + Peer());
        EXPECT_EQ(reply, ByteBuffer{0});
    }
    Serve("/cgi-bin/ok.cgi", 200, "a:(1)\r\n");
    EXPECT_TRUE(SendRequestRD(*client, "/cgi-bin/ok.cgi").Succeeded());
}

TEST(ResolveHostAddress, LoopbackNamesAndFailures) {
    EXPECT_EQ(Utils::ResolveHostAddress("127.0.0.1"), platform::LoopbackIPv4());
    EXPECT_EQ(Utils::ResolveHostAddress("localhost"), platform::LoopbackIPv4());
    EXPECT_EQ(Utils::ResolveHostAddress(""), 0u);
    EXPECT_EQ(Utils::ResolveHostAddress(std::string(70, 'x') + ".invalid"), 0u);
}

// A page must arrive whole within twice the receive time-out, however steadily it trickles; the
// picture stream, read without the helper, keeps only its per-read time-out.
TEST_F(CameraRequestTest, TrickledPagesFailAtTheExchangeBound) {
    const auto trickle = [](const HttpRequest&) {
        HttpReply reply = HttpReply::Text(200, "stream1_name:(" + std::string(60, 'x') + ")\r\n");
        reply.pieceSize = 1;
        reply.piecePauseMs = 40;  // each byte well inside the 200 ms receive time-out
        return reply;
    };
    server.Route("/cgi-bin/trickle.cgi", trickle);
    auto client = MakeClient();
    ByteBuffer reply{1, 2};
    auto start = std::chrono::steady_clock::now();
    const CResultDef body = SendRequestRD(reply, *client, "/cgi-bin/trickle.cgi");
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(body.Code(), 10u);
    EXPECT_EQ(body.Level(), 1);
    EXPECT_EQ(body.Message(), "norvane::Utils::SendRequestRD: incorrect response for request "
                              "\"/cgi-bin/trickle.cgi\" from " + Peer());
    EXPECT_EQ(reply, ByteBuffer{0});  // the part that came is not handed on
    EXPECT_LT(elapsed, std::chrono::milliseconds(1500));  // the whole page takes 2.7 s

    // The head trickled: no status in time.
    server.Route("/cgi-bin/head.cgi", [&](const HttpRequest& request) {
        HttpReply reply = trickle(request);
        reply.trickleHead = true;
        return reply;
    });
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(SendRequestRD(reply, *client, "/cgi-bin/head.cgi").Code(), 9u);
    elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_LT(elapsed, std::chrono::milliseconds(1500));
    EXPECT_TRUE(reply.empty());

    // Quick pages on the same client are not touched by the bound.
    Serve("/cgi-bin/ok.cgi", 200, "a:(1)\r\n");
    EXPECT_TRUE(SendRequestRD(*client, "/cgi-bin/ok.cgi").Succeeded());

    // A stream read through the client itself goes on past the bound.
    server.Route("/liveimg.cgi", [](const HttpRequest&) {
        HttpReply reply;
        reply.stream = [](camsim::HttpBodyWriter& out) { return out.Pause(40) && out.Send("p"); };
        return reply;
    });
    ASSERT_TRUE(client->SendRequest("GET", "/liveimg.cgi?serverpush=1"));
    start = std::chrono::steady_clock::now();
    size_t received = 0;
    char byte;
    while (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(3 * driver.info.timeout) &&
           received < 1000 && client->ReadData(&byte, 1) == 1)
        ++received;
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(3 * driver.info.timeout));
    EXPECT_GT(received, 5u);
    EXPECT_FALSE(client->ExchangeExpired());
    client->CloseRequest();
}
