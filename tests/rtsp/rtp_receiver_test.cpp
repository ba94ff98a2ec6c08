#include "rtsp/rtp_receiver.h"

#include <gtest/gtest.h>

#include "camsim/udp_sender.h"
#include "foundation/event.h"
#include "recording_users.h"
#include "support/fake_driver.h"

using norvane::CRTPReceiver;
using norvane::platform::LoopbackIPv4;
using test::Bytes;

namespace {

Bytes Packet(uint16_t sequence, size_t payloadSize = 4) {
    camsim::RtpHeaderFields header;
    header.sequence = sequence;
    return camsim::BuildRtpPacket(header, Bytes(payloadSize, 0x33));
}

class RtpReceiverTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sender.Open());
        receiver.SetUser(&user);
        ASSERT_TRUE(receiver.Open(0));
        ASSERT_NE(receiver.GetPort(), 0);
    }

    // Delivers packet 0 and keeps the consumer inside that delivery until `release` is set.
    bool HoldFirstDelivery() {
        user.gate = [this] {
            inFirst.Set();
            release.Wait(10000);
        };
        Feed(Packet(0));
        return inFirst.Wait(5000);
    }

    // Feeds one datagram as the receiver's UDP client would.
    void Feed(const Bytes& datagram) {
        receiver.OnDatagram(receiver.GetClient(), source, datagram.data(),
                            static_cast<uint32_t>(datagram.size()));
    }

    test::FakeDriver driver;
    norvane::CManualEvent inFirst;  // before the receiver: its queue thread may wait on them
    norvane::CManualEvent release;
    test::RecordingReceiverUser user;
    CRTPReceiver receiver{&driver};
    camsim::UdpSender sender;
    norvane::SocketAddress source = norvane::platform::MakeInetAddress(LoopbackIPv4(), 5000);
};

}  // namespace

TEST_F(RtpReceiverTest, DeliversInArrivalOrderAndDropsMalformed) {
    const uint16_t port = receiver.GetPort();
    ASSERT_TRUE(sender.Send(Packet(5), port));
    ASSERT_TRUE(sender.Send(Bytes(12, 0x80), port));        // header only
    ASSERT_TRUE(sender.Send(Packet(3), port));
    Bytes wrongVersion = Packet(99);
    wrongVersion[0] = 0x40;
    ASSERT_TRUE(sender.Send(wrongVersion, port));
    ASSERT_TRUE(sender.Send(Packet(4), port));
    ASSERT_TRUE(user.WaitUntil([&] { return user.sequences.size() == 3; }));
    std::lock_guard<std::mutex> lock(user.mutex);
    EXPECT_EQ(user.sequences, (std::vector<uint16_t>{5, 3, 4}));
    EXPECT_EQ(user.sources[0].address, LoopbackIPv4());
    EXPECT_EQ(norvane::platform::InetPort(user.sources[0]), sender.Port());
}

TEST_F(RtpReceiverTest, DatagramsFromAnotherClientAreIgnored) {
    const Bytes packet = Packet(1);
    norvane::CUDPClient other(&driver);
    receiver.OnDatagram(&other, source, packet.data(), static_cast<uint32_t>(packet.size()));
    Feed(Packet(2));
    ASSERT_TRUE(user.WaitUntil([&] { return !user.sequences.empty(); }));
    std::lock_guard<std::mutex> lock(user.mutex);
    EXPECT_EQ(user.sequences, (std::vector<uint16_t>{2}));
}

// A consumer that stalls must not let the queue grow without bound: the oldest packets go.
TEST_F(RtpReceiverTest, FullQueueDropsOldestByCount) {
    ASSERT_TRUE(HoldFirstDelivery());
    const uint16_t total = 5000;
    for (uint16_t s = 1; s <= total; ++s)
        Feed(Packet(s));
    EXPECT_EQ(receiver.GetQueuedCount(), CRTPReceiver::MAX_QUEUED_PACKETS);
    EXPECT_EQ(receiver.GetDroppedCount(), total - CRTPReceiver::MAX_QUEUED_PACKETS);
    release.Set();
    ASSERT_TRUE(user.WaitUntil([&] { return user.sequences.size() == 1 + CRTPReceiver::MAX_QUEUED_PACKETS; }));
    std::lock_guard<std::mutex> lock(user.mutex);
    EXPECT_EQ(user.sequences[0], 0);
    EXPECT_EQ(user.sequences[1], total - CRTPReceiver::MAX_QUEUED_PACKETS + 1);
    EXPECT_EQ(user.sequences.back(), total);
}

TEST_F(RtpReceiverTest, FullQueueDropsOldestByBytes) {
    ASSERT_TRUE(HoldFirstDelivery());
    const size_t datagram = Packet(0, 8000).size();
    const size_t fit = CRTPReceiver::MAX_QUEUED_BYTES / datagram;
    for (uint16_t s = 1; s <= fit + 10; ++s)
        Feed(Packet(s, 8000));
    EXPECT_EQ(receiver.GetQueuedCount(), fit);
    EXPECT_EQ(receiver.GetDroppedCount(), 10u);
    release.Set();
    ASSERT_TRUE(user.WaitUntil([&] { return user.sequences.size() == 1 + fit; }));
    std::lock_guard<std::mutex> lock(user.mutex);
    EXPECT_EQ(user.sequences[1], 11);
}

// One call with several chunks' worth of datagrams, some malformed: the valid ones arrive in
// order with their own payloads.
TEST_F(RtpReceiverTest, BatchArrivesInOrderAcrossChunksSkippingMalformed) {
    constexpr size_t kCount = 3 * norvane::CUDPClient::MAX_BATCH + 5;
    std::vector<Bytes> datagrams;
    std::vector<norvane::Datagram> batch;
    std::vector<uint16_t> valid;
    for (size_t i = 0; i < kCount; ++i) {
        const bool malformed = i % 7 == 3;
        datagrams.push_back(malformed ? Bytes(12, 0x80) : Packet(static_cast<uint16_t>(i), 1 + i));
        if (!malformed)
            valid.push_back(static_cast<uint16_t>(i));
    }
    for (const Bytes& d : datagrams)
        batch.push_back({source, d.data(), static_cast<uint32_t>(d.size())});
    receiver.OnDatagrams(receiver.GetClient(), batch.data(), batch.size());
    ASSERT_TRUE(user.WaitUntil([&] { return user.sequences.size() == valid.size(); }));
    std::lock_guard<std::mutex> lock(user.mutex);
    EXPECT_EQ(user.sequences, valid);
    for (size_t i = 0; i < valid.size(); ++i)
        EXPECT_EQ(user.payloads[i], Bytes(1 + valid[i], 0x33)) << "packet " << valid[i];
}

// Packets are reused once handed over: a plain packet parsed into the storage of one with a
// CSRC list, a header extension and a longer payload shows none of them.
TEST_F(RtpReceiverTest, ReusedPacketsCarryNothingOfEarlierOnes) {
    Bytes rich = Packet(1, 600);
    rich[0] = 0x92;  // extension and two CSRC entries
    const Bytes extras = {0, 0, 0, 7, 0, 0, 0, 8, 0xBE, 0xDE, 0, 1, 1, 2, 3, 4};
    rich.insert(rich.begin() + 12, extras.begin(), extras.end());
    constexpr uint16_t kRounds = 50;
    for (uint16_t s = 0; s < kRounds; ++s) {
        rich[3] = static_cast<uint8_t>(2 * s);
        Feed(rich);
        Feed(Packet(static_cast<uint16_t>(2 * s + 1), 5));
    }
    ASSERT_TRUE(user.WaitUntil([&] { return user.sequences.size() == 2u * kRounds; }));
    std::lock_guard<std::mutex> lock(user.mutex);
    for (size_t i = 0; i < user.sequences.size(); ++i) {
        SCOPED_TRACE(i);
        const bool isRich = i % 2 == 0;
        EXPECT_EQ(user.headerExtras[i], isRich ? 2u + 4u : 0u);
        EXPECT_EQ(user.payloads[i].size(), isRich ? 600u : 5u);
    }
}

// A burst leaves packets for reuse, at most the bound; closing frees them, so reconnects never
// pile up what earlier sessions' bursts left.
TEST_F(RtpReceiverTest, SparePacketsAreBoundedAndFreedOnClose) {
    ASSERT_TRUE(HoldFirstDelivery());
    for (uint16_t s = 1; s <= 500; ++s)
        Feed(Packet(s, 1000));
    release.Set();
    ASSERT_TRUE(user.WaitUntil([&] { return user.sequences.size() == 501; }));
    EXPECT_TRUE(receiver.GetSpareCount() > 0 &&
                receiver.GetSpareCount() <= CRTPReceiver::MAX_SPARE_ITEMS)
        << receiver.GetSpareCount();
    receiver.Close();
    EXPECT_EQ(receiver.GetSpareCount(), 0u);
}

TEST_F(RtpReceiverTest, CloseReportsErrorToUserAndFreesPort) {
    const uint16_t port = receiver.GetPort();
    receiver.Close();
    EXPECT_EQ(user.errors, 1);
    EXPECT_EQ(receiver.GetPort(), 0);
    EXPECT_EQ(driver.log.CountContaining("will be terminated"), 0u);
    // The port is free again and a stopped receiver queues nothing.
    Feed(Packet(1));
    EXPECT_EQ(receiver.GetQueuedCount(), 0u);
    ASSERT_TRUE(receiver.Open(port));
    EXPECT_EQ(receiver.GetPort(), port);
}

TEST_F(RtpReceiverTest, OpenOnPortInUseFailsClosed) {
    test::RecordingReceiverUser other;
    CRTPReceiver second(&driver);
    second.SetUser(&other);
    EXPECT_FALSE(second.Open(receiver.GetPort()));
    EXPECT_EQ(second.GetPort(), 0);
}
