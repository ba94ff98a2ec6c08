#include "rtsp/udp_client.h"

#include <gtest/gtest.h>

#include <chrono>

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
    ASSERT_TRUE(sender.Send(big, client.GetPort()));
    ASSERT_TRUE(sender.Send(marker, client.GetPort()));
    ASSERT_TRUE(user.WaitUntil([&] { return user.datagrams.size() == 2; }));
    std::lock_guard<std::mutex> lock(user.mutex);
    EXPECT_EQ(user.datagrams[0], big);  // the second one fit the grown buffer
    EXPECT_EQ(user.datagrams[1], marker);
    EXPECT_EQ(client.GetBufferSize(), 100u + CUDPClient::BUFFER_GROWTH);
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
