// Ending a request from another thread: at every stage it can wait on the camera, and when the
// close races with the request's start.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <future>
#include <sstream>
#include <thread>
#include <vector>

#include "camsim/camera.h"
#include "camsim/http_server.h"
#include "http/camera_request.h"
#include "http_fixture.h"
#include "platform/socket.h"

using namespace norvane;
using camsim::HttpReply;
using camsim::HttpRequest;
using Web::ByteBuffer;
using Web::CHttpClient;

namespace {

using Clock = std::chrono::steady_clock;

// A close must end the request within this, whatever the request waits for.
constexpr uint32_t CLOSE_LIMIT_MS = 200;
// Long enough that only a close can end a request in these tests.
constexpr unsigned LONG_TIMEOUT_MS = 3000;
// Bounds every wait of the test itself.
constexpr unsigned TEST_WAIT_MS = 5000;

uint32_t MsSince(Clock::time_point since) {
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

struct CloseOutcome {
    bool reachedStage = false;
    bool ended = false;     // the request returned within TEST_WAIT_MS of the close
    bool succeeded = true;  // what the request returned
    uint32_t afterCloseMs = 0;
};

// Runs `request` on its own thread; once `inStage` holds, closes the client from this thread
// and measures how long the request takes to return.
CloseOutcome CloseDuring(CHttpClient& client, const std::function<bool()>& request,
                         const std::function<bool(unsigned)>& inStage) {
    CloseOutcome outcome;
    auto result = std::async(std::launch::async, request);
    outcome.reachedStage = inStage(TEST_WAIT_MS);
    const Clock::time_point start = Clock::now();
    client.CloseRequest();
    outcome.ended =
        result.wait_for(std::chrono::milliseconds(TEST_WAIT_MS)) == std::future_status::ready;
    outcome.afterCloseMs = MsSince(start);
    outcome.succeeded = result.get();
    return outcome;
}

// Sockets of this process in SYN-SENT towards 127.0.0.1:`port`, from the kernel's table.
int ConnectsUnderWay(uint16_t port) {
    std::ifstream table("/proc/net/tcp");
    std::string line;
    std::getline(table, line);  // column names
    char remote[16];
    std::snprintf(remote, sizeof remote, "0100007F:%04X", port);
    int count = 0;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, peer, state;
        fields >> slot >> local >> peer >> state;
        count += peer == remote && state == "02";
    }
    return count;
}

// A loopback port whose accept queue is full: a connect to it hangs, its SYNs dropped.
class FullListener {
public:
    bool Start() {
        if (!listener_.Listen(platform::LoopbackIPv4(), 0, 0))
            return false;
        for (int i = 0; i < 8; ++i) {
            platform::TcpSocket probe;
            if (!probe.Create())
                return false;
            const auto state = probe.StartConnect(platform::LoopbackIPv4(), Port());
            if (state == platform::TcpSocket::ConnectState::Pending &&
                probe.PollConnect(300) == platform::TcpSocket::ConnectState::Pending)
                return true;  // the probe closes here; later connects hang the same way
            fillers_.push_back(std::move(probe));
        }
        return false;
    }
    uint16_t Port() const { return listener_.LocalPort(); }

private:
    platform::TcpListener listener_;
    std::vector<platform::TcpSocket> fillers_;
};

}  // namespace

class HttpAbortTest : public test::HttpTest {
protected:
    void SetUp() override {
        test::HttpTest::SetUp();
        driver.info.timeout = LONG_TIMEOUT_MS;
    }

    // Starts the simulated camera; the client then talks to it.
    void StartCamera() {
        camsim::CameraConfig config;
        config.personality = camsim::Personality::ForModel("VCC-HD4000");
        camera = std::make_unique<camsim::Camera>(config);
        ASSERT_TRUE(camera->Start());
        driver.info.port = camera->HttpPort();
    }

    std::function<bool(unsigned)> RequestsSeen(camsim::HttpServer& http, size_t count) {
        return [&http, count](unsigned limit) {
            return http.WaitUntil([&] { return http.RequestCount() >= count; }, limit);
        };
    }

    static void ExpectEndedByClose(const CloseOutcome& outcome) {
        EXPECT_TRUE(outcome.reachedStage);
        EXPECT_TRUE(outcome.ended);
        EXPECT_FALSE(outcome.succeeded);
        EXPECT_LT(outcome.afterCloseMs, CLOSE_LIMIT_MS);
    }

    std::unique_ptr<camsim::Camera> camera;
};

TEST_F(HttpAbortTest, CloseEndsAHangingConnect) {
    FullListener full;
    ASSERT_TRUE(full.Start());
    driver.info.port = full.Port();
    auto client = MakeClient();
    const CloseOutcome outcome = CloseDuring(
        *client, [&] { return client->SendRequest("GET", "/cgi-bin/aspect.cgi?status=1"); },
        [&](unsigned limit) {
            const Clock::time_point start = Clock::now();
            while (ConnectsUnderWay(full.Port()) == 0 && MsSince(start) < limit)
                std::this_thread::yield();
            return ConnectsUnderWay(full.Port()) > 0;
        });
    ExpectEndedByClose(outcome);
    EXPECT_EQ(client->StatusCode(), 0u);
}

TEST_F(HttpAbortTest, CloseEndsTheWaitForTheHead) {
    // A server that accepts and never answers.
    ServeSilence("/silent");
    auto client = MakeClient();
    ExpectEndedByClose(CloseDuring(
        *client, [&] { return client->SendRequest("GET", "/silent"); }, RequestsSeen(server, 1)));
    EXPECT_EQ(client->StatusCode(), 0u);
    EXPECT_EQ(client->ReadData(nullptr, 0), 0u);
    const unsigned releaseLimit = test::ReleaseLimitMs(TEST_WAIT_MS, LONG_TIMEOUT_MS);
    EXPECT_TRUE(server.WaitUntil([&] { return server.OpenConnections() == 0; }, releaseLimit));

    // The camera in slow-reply mode, through the camera request helper.
    StartCamera();
    camera->SetReplyDelay(30000);
    auto cameraClient = MakeClient();
    ExpectEndedByClose(CloseDuring(
        *cameraClient,
        [&] {
            return Utils::SendRequestRD(*cameraClient, "/cgi-bin/aspect.cgi?status=1").Succeeded();
        },
        RequestsSeen(camera->Http(), 1)));
    EXPECT_TRUE(camera->Http().WaitUntil([&] { return camera->Http().OpenConnections() == 0; },
                                         releaseLimit));
    if (test::RunningUnderWine())
        GTEST_SKIP() << test::WINE_CLOSE_LEAVES_CONNECTION;
}

TEST_F(HttpAbortTest, CloseEndsATrickledHeadOrBody) {
    StartCamera();
    // Head: one byte a second, so the head is still coming when the close arrives.
    camera->SetTrickle(1000);
    auto client = MakeClient();
    ExpectEndedByClose(CloseDuring(
        *client, [&] { return client->SendRequest("GET", "/cgi-bin/aspect.cgi?status=1"); },
        RequestsSeen(camera->Http(), 1)));
    EXPECT_EQ(client->StatusCode(), 0u);

    // Body: the head comes quickly, then one byte every 100 ms.
    camera->SetTrickle(0);
    server.Route("/trickle", [](const HttpRequest&) {
        HttpReply reply = HttpReply::Text(200, std::string(200, 'x'));
        reply.pieceSize = 1;
        reply.piecePauseMs = 100;
        return reply;
    });
    driver.info.port = server.Port();
    auto reader = MakeClient();
    std::promise<void> firstByte;
    auto reading = firstByte.get_future();
    ByteBuffer body;
    const CloseOutcome outcome = CloseDuring(
        *reader,
        [&] {
            char byte;
            const bool started =
                reader->SendRequest("GET", "/trickle") && reader->ReadData(&byte, 1) == 1;
            firstByte.set_value();
            return started && reader->ReadResponse(body) == 199;
        },
        [&](unsigned limit) {
            return reading.wait_for(std::chrono::milliseconds(limit)) == std::future_status::ready;
        });
    ExpectEndedByClose(outcome);
    EXPECT_LT(body.size(), 199u);
    EXPECT_TRUE(server.WaitUntil([&] { return server.OpenConnections() == 0; }, TEST_WAIT_MS));
}

TEST_F(HttpAbortTest, StopEventSetBeforeTheRequestStartsIsNeverLost) {
    ServeSilence("/silent");
    Serve("/p", 200, "ok");
    CManualEvent stop;
    auto client = MakeClient();
    client->SetStopEvent(&stop);

    // Set and closed before the request begins: it fails without a connection.
    stop.Set();
    client->CloseRequest();
    const Clock::time_point start = Clock::now();
    EXPECT_FALSE(client->SendRequest("GET", "/silent"));
    EXPECT_LT(MsSince(start), CLOSE_LIMIT_MS);
    EXPECT_EQ(client->StatusCode(), 0u);
    EXPECT_EQ(server.ConnectionCount(), 0u);

    // The owner's pattern: its thread checks the event, then sends; the stop path sets the
    // event, then closes. Whatever the interleaving, the request ends at once.
    for (int round = 0; round < 40; ++round) {
        stop.Reset();
        auto request = std::async(std::launch::async, [&] {
            return !stop.Wait(0) && client->SendRequest("GET", "/silent");
        });
        for (int spin = 0; spin < round * 50; ++spin)
            std::this_thread::yield();
        stop.Set();
        const Clock::time_point closed = Clock::now();
        client->CloseRequest();
        ASSERT_EQ(request.wait_for(std::chrono::milliseconds(TEST_WAIT_MS)),
                  std::future_status::ready)
            << "round " << round;
        EXPECT_FALSE(request.get());
        EXPECT_LT(MsSince(closed), CLOSE_LIMIT_MS) << "round " << round;
    }

    // Cleared, the client serves again.
    stop.Reset();
    ASSERT_TRUE(client->SendRequest("GET", "/p"));
    EXPECT_EQ(client->StatusCode(), 200u);
}

TEST_F(HttpAbortTest, RequestAfterACloseRunsNormally) {
    Serve("/p", 200, "page");
    auto client = MakeClient();
    ByteBuffer body;
    client->CloseRequest();  // nothing to close yet
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(client->SendRequest("GET", "/p"));
        EXPECT_EQ(client->StatusCode(), 200u);
        EXPECT_EQ(client->ReadResponse(body), 4u);
        client->CloseRequest();  // as the picture-stream owner does after each stream
        EXPECT_EQ(client->QueryDataAvailable(), 0u);
    }
    // A close from another thread between two requests does not touch the next one.
    std::thread([&] { client->CloseRequest(); }).join();
    ASSERT_TRUE(client->SendRequest("GET", "/p"));
    EXPECT_EQ(client->ReadResponse(body), 4u);
}
