#include "rtsp/udp_client.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <thread>

#include "camsim/udp_sender.h"
#include "recording_users.h"
#include "support/fake_driver.h"

using norvane::CUDPClient;
using norvane::platform::LoopbackIPv4;
using test::Bytes;

namespace {

class UdpClientTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(sender.Open()); }

    test::FakeDriver driver;
    test::RecordingClientUser user;
    camsim::UdpSender sender;
};

// Holds the reader inside its first delivery (bounded) until Release, so that what is sent
// meanwhile waits in the kernel.
class FirstDeliveryHold {
public:
    explicit FirstDeliveryHold(test::RecordingClientUser& user) : released_(release_.get_future().share()) {
        user.gate = [this] {
            if (!held_.exchange(true)) {
                entered_.set_value();
                released_.wait_for(std::chrono::seconds(10));
            }
        };
    }
    ~FirstDeliveryHold() { Release(); }
    bool WaitEntered() {
        return entered_.get_future().wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    }
    void Release() {
        if (!releasedOnce_.exchange(true))
            release_.set_value();
    }

private:
    std::promise<void> entered_, release_;
    std::shared_future<void> released_;
    std::atomic<bool> held_{false};
    std::atomic<bool> releasedOnce_{false};
};

}  // namespace

TEST_F(UdpClientTest, DeliversDatagramWithSourceAndSends) {
    CUDPClient client(&driver);
    ASSERT_TRUE(client.Open(&user, 0));
    ASSERT_NE(client.GetPort(), 0);
    const Bytes datagram = {1, 2, 3, 4, 5};
    ASSERT_TRUE(sender.Send(datagram, client.GetPort()));
    ASSERT_TRUE(user.WaitUntil([&] { return !user.datagrams.empty(); }));
    {
        std::lock_guard<std::mutex> lock(user.mutex);
        EXPECT_EQ(user.datagrams[0], datagram);
        EXPECT_EQ(user.sources[0].address, LoopbackIPv4());
        EXPECT_EQ(norvane::platform::InetPort(user.sources[0]), sender.Port());
    }
    const Bytes reply = {9, 8, 7};
    ASSERT_TRUE(client.SendTo(reply.data(), 3,
                              norvane::platform::MakeInetAddress(LoopbackIPv4(), sender.Port())));
    Bytes received;
    ASSERT_TRUE(sender.Receive(received, 2000));
    EXPECT_EQ(received, reply);
}

TEST_F(UdpClientTest, TruncatedDatagramIsLostAndBufferGrows) {
    CUDPClient client(&driver);
    client.SetBufferSize(100);
    ASSERT_TRUE(client.Open(&user, 0));
    const Bytes big(150, 0xAB);
    const Bytes marker = {0x42};
    ASSERT_TRUE(sender.Send(big, client.GetPort()));
    ASSERT_TRUE(sender.Send(marker, client.GetPort()));
    ASSERT_TRUE(user.WaitUntil([&] { return user.datagrams.size() == 1; }));
    EXPECT_EQ(client.GetBufferSize(), 100u + CUDPClient::BUFFER_GROWTH);
    // The next one fits the grown buffer.
    ASSERT_TRUE(sender.Send(big, client.GetPort()));
    ASSERT_TRUE(user.WaitUntil([&] { return user.datagrams.size() == 2; }));
    std::lock_guard<std::mutex> lock(user.mutex);
    EXPECT_EQ(user.datagrams[0], marker);
    EXPECT_EQ(user.datagrams[1], big);
}

// Datagrams that wait while the reader is busy come in batches; every one of a burst of several
// batches arrives, whole and in order, at a user that takes them one by one.
TEST_F(UdpClientTest, BurstArrivesWholeAndInOrder) {
    constexpr size_t kBurst = 5 * CUDPClient::MAX_BATCH + 3;
    FirstDeliveryHold hold(user);  // outlives the client, whose reader calls it
    CUDPClient client(&driver);
    client.SetBufferSize(1536);
    ASSERT_TRUE(client.Open(&user, 0));
    auto datagram = [](size_t i) {
        Bytes bytes(200 + i * 7 % 1300, static_cast<uint8_t>(i));
        bytes[0] = static_cast<uint8_t>(i >> 8);
        return bytes;
    };
    ASSERT_TRUE(sender.Send(datagram(0), client.GetPort()));
    ASSERT_TRUE(hold.WaitEntered());
    for (size_t i = 1; i < kBurst; ++i)  // all wait in the kernel: the reader is held
        ASSERT_TRUE(sender.Send(datagram(i), client.GetPort()));
    hold.Release();
    ASSERT_TRUE(user.WaitUntil([&] { return user.datagrams.size() == kBurst; }));
    std::lock_guard<std::mutex> lock(user.mutex);
    for (size_t i = 0; i < kBurst; ++i)
        ASSERT_EQ(user.datagrams[i], datagram(i)) << "datagram " << i;
}

// A reader that always finds a full batch waiting goes on receiving without a wait; it must
// still end promptly when told to stop.
TEST_F(UdpClientTest, CloseEndsReaderPromptlyUnderFlood) {
    CUDPClient client(&driver);
    ASSERT_TRUE(client.Open(&user, 0));
    const uint16_t port = client.GetPort();
    std::atomic<bool> sending{true};
    std::thread flood([&] {
        for (int i = 0; i < 200000 && sending; ++i)
            sender.Send({static_cast<uint8_t>(i), 1, 2, 3}, port);
    });
    ASSERT_TRUE(user.WaitUntil([&] { return user.datagrams.size() >= 2 * CUDPClient::MAX_BATCH; }));
    auto closed = std::async(std::launch::async, [&] { return client.Close(); });
    const bool prompt = closed.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    sending = false;
    flood.join();
    if (!prompt) {
        ADD_FAILURE() << "Close did not return under a flood";
        std::fflush(nullptr);
        std::_Exit(1);
    }
    EXPECT_TRUE(closed.get());
    EXPECT_EQ(client.GetPort(), 0);
    EXPECT_EQ(driver.log.CountContaining("was not stopped"), 0u);
}

TEST_F(UdpClientTest, BufferGrowthStopsAtLargestDatagram) {
    CUDPClient client(&driver);
    client.SetBufferSize(65000);
    ASSERT_TRUE(client.Open(&user, 0));
    const Bytes largest(65507, 0x5A);  // the largest IPv4 UDP payload
    ASSERT_TRUE(sender.Send(largest, client.GetPort()));
    // The socket's kernel buffer holds one such datagram at a time, so a copy that arrives while
    // the first is still queued is dropped by the kernel: send again until one is delivered.
    bool delivered = false;
    for (int attempt = 0; attempt < 20 && !delivered; ++attempt) {
        ASSERT_TRUE(sender.Send(largest, client.GetPort()));
        delivered = user.WaitUntil([&] { return !user.datagrams.empty(); }, 250);
    }
    ASSERT_TRUE(delivered);
    EXPECT_EQ(client.GetBufferSize(), CUDPClient::MAX_BUFFER_SIZE);
    std::lock_guard<std::mutex> lock(user.mutex);
    EXPECT_EQ(user.datagrams[0].size(), largest.size());
}

TEST_F(UdpClientTest, WaitTimeoutsAreReported) {
    CUDPClient client(&driver);
    client.SetWaitTime(0, 1999);  // 999 microseconds: waits of 1 ms
    ASSERT_TRUE(client.Open(&user, 0));
    EXPECT_TRUE(user.WaitUntil([&] { return user.timeouts >= 3; }));
}

TEST_F(UdpClientTest, CloseWakesReaderAtOnceAndReportsSocketError) {
    CUDPClient client(&driver);
    client.SetWaitTime(60, 0);
    const int users = norvane::platform::SocketLibraryUsers();
    ASSERT_TRUE(client.Open(&user, 0));
    EXPECT_EQ(norvane::platform::SocketLibraryUsers(), users + 1);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(client.Close());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(client.GetPort(), 0);
    EXPECT_EQ(user.errors, 1);
    EXPECT_EQ(user.timeouts, 0);
    EXPECT_EQ(norvane::platform::SocketLibraryUsers(), users);
    EXPECT_EQ(driver.log.CountContaining("will be terminated"), 0u);
}

TEST_F(UdpClientTest, CloseWithoutOpenCallsNoUserOperation) {
    CUDPClient client(&driver);
    EXPECT_TRUE(client.Close());
    EXPECT_EQ(user.errors + user.timeouts, 0);
}

TEST_F(UdpClientTest, SecondOpenFailsAndClosesAndPortInUseFails) {
    CUDPClient client(&driver);
    ASSERT_TRUE(client.Open(&user, 0));
    const uint16_t port = client.GetPort();

    CUDPClient rival(&driver);
    test::RecordingClientUser rivalUser;
    EXPECT_FALSE(rival.Open(&rivalUser, port));
    EXPECT_EQ(rival.GetPort(), 0);

    EXPECT_FALSE(client.Open(&user, port));
    EXPECT_EQ(client.GetPort(), 0);
    EXPECT_EQ(user.errors, 1);
    // Reopening after the close works.
    EXPECT_TRUE(client.Open(&user, port));
    EXPECT_EQ(client.GetPort(), port);
}

// A caller that stops the reader through the thread interface alone, without Close, gets it
// back at once: the stop wakes the wait, and the reader tests its stop event on every round.
TEST_F(UdpClientTest, StopAndJoinWithoutCloseEndTheReader) {
    using StopCall = std::function<bool(CUDPClient&)>;
    const std::vector<std::pair<const char*, StopCall>> stops = {
        {"StopThread", [](CUDPClient& c) { return c.StopThread(1000); }},
        {"JoinThread", [](CUDPClient& c) { return c.JoinThread(1000); }},
        // The stop event alone (no wake-up): the reader ends at its next 1 ms wait.
        {"stop event only", [](CUDPClient& c) { return c.CBaseThread::StopThread(1000); }},
    };
    for (const auto& [name, stop] : stops) {
        SCOPED_TRACE(name);
        CUDPClient client(&driver);
        const bool stopEventOnly = std::string(name) == "stop event only";
        client.SetWaitTime(stopEventOnly ? 0 : 60, stopEventOnly ? 1999 : 0);
        ASSERT_TRUE(client.Open(&user, 0));
        auto stopped = std::async(std::launch::async, [&] { return stop(client); });
        if (stopped.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
            // A reader that ignores its stop event cannot be freed while the stop waits for it:
            // end the program rather than hang.
            ADD_FAILURE() << name << " did not return";
            std::fflush(nullptr);
            std::_Exit(1);
        }
        EXPECT_TRUE(stopped.get());
        EXPECT_EQ(driver.log.CountContaining("was not stopped"), 0u);
        // Datagrams are no longer read, and Close still closes the socket.
        const uint16_t port = client.GetPort();
        ASSERT_TRUE(sender.Send({1, 2, 3}, port));
        EXPECT_TRUE(client.Close());
        EXPECT_EQ(client.GetPort(), 0);
    }
    std::lock_guard<std::mutex> lock(user.mutex);
    EXPECT_TRUE(user.datagrams.empty());
}

// A second Open replaces the user while the reader of the first one still delivers datagrams
// (a data race unless the user is read atomically; the thread sanitizer build checks that).
TEST_F(UdpClientTest, SecondOpenSwapsTheUserWhileTheReaderRuns) {
    CUDPClient client(&driver);
    ASSERT_TRUE(client.Open(&user, 0));
    const uint16_t port = client.GetPort();
    std::atomic<bool> sending{true};
    std::thread flood([&] {
        for (int i = 0; i < 100000 && sending; ++i)
            sender.Send({static_cast<uint8_t>(i)}, port);
    });
    ASSERT_TRUE(user.WaitUntil([&] { return user.datagrams.size() >= 10; }));
    test::RecordingClientUser second;
    EXPECT_FALSE(client.Open(&second, port));
    sending = false;
    flood.join();
    EXPECT_EQ(client.GetPort(), 0);
    EXPECT_EQ(second.errors, 1);  // told of the close, as the user stored last
    // Nothing reaches either user once Close has returned.
    const size_t firstCount = user.Count(), secondCount = second.Count();
    ASSERT_TRUE(sender.Send({9}, port));
    EXPECT_FALSE(user.WaitUntil([&] { return user.datagrams.size() > firstCount; }, 50));
    EXPECT_EQ(second.Count(), secondCount);
}

// A burst larger than the old 64 KiB buffer (a second of a 16 Mbit/s stream) waits in the
// kernel while the reader is held up, and every datagram of it is delivered.
TEST_F(UdpClientTest, ReceiveBufferHoldsASecondOfA16MbitBurst) {
    constexpr size_t kDatagram = 1400, kBurst = 2000000 / kDatagram + 1;
    FirstDeliveryHold hold(user);  // outlives the client, whose reader calls it
    CUDPClient client(&driver);
    ASSERT_TRUE(client.Open(&user, 0));
    const int granted = client.GetReceiveBufferSize();
    EXPECT_EQ(driver.log.CountContaining(
                  "Receive buffer of port " + std::to_string(client.GetPort()) + ": " +
                  std::to_string(CUDPClient::SOCKET_RECEIVE_BUFFER) + " bytes asked, " +
                  std::to_string(granted) + " granted"),
              1u);
    // Linux doubles the asked size for its bookkeeping; a buffer capped by the system (no
    // right to exceed net.core.rmem_max) cannot hold the burst.
    if (granted < 2 * CUDPClient::SOCKET_RECEIVE_BUFFER) {
        hold.Release();
        GTEST_SKIP() << "the kernel granted only " << granted << " bytes";
    }
    const Bytes datagram(kDatagram, 0x5A);
    ASSERT_TRUE(sender.Send(datagram, client.GetPort()));
    ASSERT_TRUE(hold.WaitEntered());
    for (size_t i = 0; i < kBurst; ++i)
        ASSERT_TRUE(sender.Send(datagram, client.GetPort()));
    hold.Release();
    EXPECT_TRUE(user.WaitUntil([&] { return user.datagrams.size() == kBurst + 1; }, 10000))
        << user.Count() << " of " << kBurst + 1 << " delivered";
}
