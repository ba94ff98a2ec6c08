#include "platform/socket.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "support/camera_checks.h"
#include "support/silent_name_server.h"

using namespace norvane::platform;

namespace {

struct ConnectedPair {
    TcpListener listener;
    TcpSocket client;
    TcpSocket server;
};

void Connect(ConnectedPair& pair) {
    ASSERT_TRUE(pair.listener.Listen(LoopbackIPv4(), 0));
    ASSERT_NE(pair.listener.LocalPort(), 0);
    ASSERT_TRUE(pair.client.Connect(LoopbackIPv4(), pair.listener.LocalPort(), 1000));
    ASSERT_EQ(pair.listener.Accept(pair.server, 1000), WaitResult::Ready);
}

}  // namespace

TEST(Addresses, LoopbackTextAndResolution) {
    EXPECT_EQ(FormatIPv4(LoopbackIPv4()), "127.0.0.1");
    EXPECT_EQ(ResolveIPv4("127.0.0.1"), LoopbackIPv4());
    EXPECT_EQ(ResolveIPv4("localhost"), LoopbackIPv4());
    EXPECT_EQ(ResolveIPv4(""), 0u);
    EXPECT_EQ(ResolveIPv4("no such host.invalid"), 0u);
    const InetAddress address = MakeInetAddress(MakeIPv4(10, 0, 0, 5), 554);
    EXPECT_EQ(InetPort(address), 554);
    EXPECT_EQ(FormatIPv4(address.address), "10.0.0.5");
}

// A look-up the caller abandons returns at once (dotted text needs none); look-ups left running
// are bounded, so a resolver that never answers cannot grow the process.
TEST(SlowResolver, AbandonedLookUpsReturnAtOnceAndAreBounded) {
    if (!test::SilentNameServer::Available())
        GTEST_SKIP() << "needs scripts/with-silent-resolver.sh";
    test::SilentNameServer names;
    ASSERT_TRUE(names.Open());
    EXPECT_EQ(ResolveIPv4("127.0.0.1", [] { return true; }), LoopbackIPv4());
    std::atomic<bool> asked{false};
    std::thread server([&] { asked = names.WaitForQuery(5000); });
    const long long waited = test::MillisecondsOf(
        [&] { EXPECT_EQ(ResolveIPv4("camera.slow.test", [&] { return asked.load(); }), 0u); });
    server.join();
    EXPECT_TRUE(asked);
    EXPECT_LT(waited, 1000);

    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(ResolveIPv4("camera.slow.test", [] { return true; }), 0u);
    unsigned queries = 0;
    while (names.WaitForQuery(500))
        ++queries;
    EXPECT_GE(queries, 1u);
    EXPECT_LT(queries, 64u) << "past the bound a look-up fails without asking";
}

TEST(SocketLibrary, CountsStartupsAndNeverGoesNegative) {
    const int before = SocketLibraryUsers();
    EXPECT_TRUE(SocketLibraryStartup());
    EXPECT_EQ(SocketLibraryUsers(), before + 1);
    SocketLibraryCleanup();
    EXPECT_EQ(SocketLibraryUsers(), before);
}

TEST(Tcp, SendReceiveAndPeerClose) {
    ConnectedPair pair;
    Connect(pair);
    ASSERT_TRUE(pair.client.SendAll("hello", 5));
    char buffer[16] = {};
    ASSERT_EQ(pair.server.ReceiveWithin(buffer, sizeof(buffer), 1000), 5);
    EXPECT_EQ(std::string(buffer, 5), "hello");
    pair.server.Close();
    EXPECT_EQ(pair.client.ReceiveWithin(buffer, sizeof(buffer), 1000), 0);
}

TEST(Tcp, ReceiveTimeoutEndsBlockingReceive) {
    ConnectedPair pair;
    Connect(pair);
    ASSERT_TRUE(pair.client.SetReceiveTimeout(20));
    char buffer[4];
    EXPECT_EQ(pair.client.Receive(buffer, sizeof(buffer)), -1);
}

TEST(Tcp, RefusedConnectFails) {
    TcpListener listener;
    ASSERT_TRUE(listener.Listen(LoopbackIPv4(), 0));
    const uint16_t port = listener.LocalPort();
    listener.Close();
    TcpSocket client;
    EXPECT_FALSE(client.Connect(LoopbackIPv4(), port, 1000));
    EXPECT_FALSE(client.IsOpen());
}

TEST(Tcp, AcceptTimesOutAndWakes) {
    TcpListener listener;
    ASSERT_TRUE(listener.Listen(LoopbackIPv4(), 0));
    TcpSocket client;
    EXPECT_EQ(listener.Accept(client, 10), WaitResult::Timeout);
    auto waiter = std::async(std::launch::async, [&] { return listener.Accept(client, 60000); });
    listener.Wake();
    EXPECT_EQ(waiter.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(waiter.get(), WaitResult::Woken);
}

TEST(Udp, DatagramWithSourceAndTruncation) {
    UdpSocket receiver;
    UdpSocket sender;
    ASSERT_TRUE(receiver.Open(0, LoopbackIPv4()));
    ASSERT_TRUE(sender.Open(0, LoopbackIPv4()));
    const InetAddress to = MakeInetAddress(LoopbackIPv4(), receiver.LocalPort());
    const char data[10] = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9'};
    ASSERT_TRUE(sender.SendTo(data, sizeof(data), to));
    ASSERT_TRUE(sender.SendTo(data, 3, to));

    char buffer[4] = {};
    InetAddress from;
    bool truncated = false;
    ASSERT_EQ(receiver.WaitReadable(1000), WaitResult::Ready);
#if defined(_WIN32)
    // Windows does not tell a truncated datagram's length: one more than fitted.
    EXPECT_EQ(receiver.ReceiveFrom(buffer, sizeof(buffer), from, truncated), 5);
#else
    EXPECT_EQ(receiver.ReceiveFrom(buffer, sizeof(buffer), from, truncated), 10);
#endif
    EXPECT_TRUE(truncated);
    EXPECT_EQ(std::memcmp(buffer, data, 4), 0);
    EXPECT_EQ(from.address, LoopbackIPv4());
    EXPECT_EQ(InetPort(from), sender.LocalPort());

    ASSERT_EQ(receiver.WaitReadable(1000), WaitResult::Ready);
    EXPECT_EQ(receiver.ReceiveFrom(buffer, sizeof(buffer), from, truncated), 3);
    EXPECT_FALSE(truncated);
    EXPECT_EQ(receiver.ReceiveFrom(buffer, sizeof(buffer), from, truncated), -1);  // none left
}

// A batch receive takes waiting datagrams in arrival order, at most MAX_BATCH per call, each
// within its own slot: an oversized one is cut at its slot's end and flagged, never spilling
// into the next slot.
TEST(Udp, BatchReceiveKeepsOrderAndSlotBounds) {
    UdpSocket receiver;
    UdpSocket sender;
    ASSERT_TRUE(receiver.Open(0, LoopbackIPv4()));
    ASSERT_TRUE(sender.Open(0, LoopbackIPv4()));
    const InetAddress to = MakeInetAddress(LoopbackIPv4(), receiver.LocalPort());
    constexpr size_t kSlot = 64, kGuard = 16, kSlots = UdpSocket::MAX_BATCH + 8, kSent = 150;
    constexpr size_t kOversized = 70;  // index of the one datagram larger than a slot
    auto sizeOf = [](size_t i) { return i == kOversized ? kSlot + 40 : 1 + i % kSlot; };
    for (size_t i = 0; i < kSent; ++i) {
        const std::vector<uint8_t> datagram(sizeOf(i), static_cast<uint8_t>(i));
        ASSERT_TRUE(sender.SendTo(datagram.data(), datagram.size(), to));
    }
    std::vector<uint8_t> memory(kSlots * (kSlot + kGuard), 0xEE);
    std::vector<ReceivedDatagram> slots(kSlots);
    size_t got = 0;
    for (int round = 0; round < 100 && got < kSent; ++round) {
        for (size_t i = 0; i < kSlots; ++i)
            slots[i] = {memory.data() + i * (kSlot + kGuard), kSlot, 0, false, {}};
        ASSERT_EQ(receiver.WaitReadable(2000), WaitResult::Ready);
        const int n = receiver.ReceiveBatch(slots.data(), slots.size());
        ASSERT_GT(n, 0);
        ASSERT_LE(static_cast<size_t>(n), UdpSocket::MAX_BATCH);
        for (int i = 0; i < n; ++i, ++got) {
            SCOPED_TRACE(got);
            const ReceivedDatagram& slot = slots[i];
            EXPECT_EQ(slot.truncated, got == kOversized);
            EXPECT_EQ(slot.length, std::min(sizeOf(got), kSlot));
            EXPECT_EQ(slot.data[0], static_cast<uint8_t>(got));
            EXPECT_EQ(slot.data[slot.length - 1], static_cast<uint8_t>(got));
            EXPECT_EQ(InetPort(slot.source), sender.LocalPort());
        }
        for (size_t i = 0; i < kSlots; ++i)
            for (size_t g = 0; g < kGuard; ++g)
                ASSERT_EQ(memory[i * (kSlot + kGuard) + kSlot + g], 0xEE) << "slot " << i;
    }
    EXPECT_EQ(got, kSent);
    EXPECT_EQ(receiver.ReceiveBatch(slots.data(), slots.size()), 0);  // none left
    receiver.Close();
    EXPECT_EQ(receiver.ReceiveBatch(slots.data(), slots.size()), -1);
}

TEST(Udp, WakeEndsWaitAtOnceAndStays) {
    UdpSocket socket;
    ASSERT_TRUE(socket.Open(0, LoopbackIPv4()));
    EXPECT_EQ(socket.WaitReadable(5), WaitResult::Timeout);
    auto waiter = std::async(std::launch::async, [&] { return socket.WaitReadable(60000); });
    socket.Wake();
    EXPECT_EQ(waiter.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(waiter.get(), WaitResult::Woken);
    EXPECT_EQ(socket.WaitReadable(60000), WaitResult::Woken);
}

TEST(Udp, PortInUseFailsAndClosedSocketHasNoPort) {
    UdpSocket first;
    ASSERT_TRUE(first.Open(0));
    UdpSocket second;
    EXPECT_FALSE(second.Open(first.LocalPort()));
    EXPECT_FALSE(second.IsOpen());
    first.Close();
    EXPECT_EQ(first.LocalPort(), 0);
    EXPECT_EQ(first.WaitReadable(0), WaitResult::Error);
}
