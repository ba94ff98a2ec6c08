#include "rtsp/rtcp_handler.h"

#include <gtest/gtest.h>

#include <chrono>

#include "camsim/udp_sender.h"
#include "support/fake_driver.h"
#include "support/wine.h"

using camsim::ReadBigEndian32;
using norvane::CRTCPHandler;
using norvane::platform::LoopbackIPv4;
using norvane::platform::MakeIPv4;
using camsim::Bytes;

namespace {

constexpr uint32_t CAMERA_SSRC = 0xCAFEF00D;
constexpr uint32_t NTP_SECONDS = 0x83AA7E80;
constexpr uint32_t NTP_FRACTION = 0x12345678;

Bytes SenderReport(uint32_t ssrc = CAMERA_SSRC) {
    return camsim::BuildSenderReport(ssrc, NTP_SECONDS, NTP_FRACTION, 90000, 10, 14000);
}

// A receiver report (type 201) as the first packet of a datagram, 32 bytes.
Bytes ReceiverReport(uint32_t ssrc) {
    Bytes rr = SenderReport(ssrc);
    rr[1] = 201;
    rr.resize(32, 0);
    return rr;
}

class RtcpHandlerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(camera.Open());
        ASSERT_TRUE(handler.Start(0, LoopbackIPv4()));
        port = handler.GetPort();
        ASSERT_NE(port, 0);
    }

    // `sender` sends `ignored`, then `answered` a sender report (SSRC 3): the one report answers
    // the sender report and goes to `answered`, none to `sender`.
    void ExpectOnlySenderReportAnswered(camsim::UdpSender& sender, const Bytes& ignored,
                                        camsim::UdpSender& answered) {
        ASSERT_TRUE(sender.Send(ignored, port));
        ASSERT_TRUE(answered.Send(SenderReport(3), port));
        Bytes rr;
        ASSERT_TRUE(answered.Receive(rr, 5000));
        EXPECT_EQ(ReadBigEndian32(rr, 8), 3u);
        EXPECT_FALSE(sender.Receive(rr, 0));
    }

    test::FakeDriver driver;
    CRTCPHandler handler{&driver};
    camsim::UdpSender camera;
    uint16_t port = 0;
};

}  // namespace

TEST_F(RtcpHandlerTest, AnswersSenderReportWithReceiverReport) {
    for (uint16_t s : {100, 101, 102})
        handler.OnRtpSequence(s);
    const auto sent = std::chrono::steady_clock::now();
    ASSERT_TRUE(camera.Send(SenderReport(), port));
    Bytes rr;
    norvane::platform::InetAddress from;
    ASSERT_TRUE(camera.Receive(rr, 5000, &from));
    const auto elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now() - sent).count();
    ASSERT_EQ(rr.size(), 32u);
    EXPECT_EQ(rr[0], 0x81);
    EXPECT_EQ(rr[1], 201);
    EXPECT_EQ(rr[2], 0);
    EXPECT_EQ(rr[3], 7);
    EXPECT_EQ(ReadBigEndian32(rr, 4), handler.GetOwnSsrc());
    EXPECT_EQ(ReadBigEndian32(rr, 8), CAMERA_SSRC);
    EXPECT_EQ(ReadBigEndian32(rr, 12), 0u);  // fraction and cumulative lost
    EXPECT_EQ(ReadBigEndian32(rr, 16), 102u);
    EXPECT_EQ(ReadBigEndian32(rr, 20), 0u);  // jitter
    EXPECT_EQ(ReadBigEndian32(rr, 24), (NTP_SECONDS << 16) | (NTP_FRACTION >> 16));
    // Delay since the SR in 1/65536 s: at most the time the test saw pass (plus a tick).
    EXPECT_LE(ReadBigEndian32(rr, 28), static_cast<uint32_t>((elapsedMs + 1) * 65536 / 1000));
    EXPECT_EQ(from.address, LoopbackIPv4());
    EXPECT_EQ(norvane::platform::InetPort(from), port);
    EXPECT_TRUE(handler.IsReporting());

    // Each further RTCP datagram gets its own report.
    ASSERT_TRUE(camera.Send(ReceiverReport(0x0BADBEEF), port));
    ASSERT_TRUE(camera.Receive(rr, 5000));
    EXPECT_EQ(ReadBigEndian32(rr, 8), 0x0BADBEEFu);
}

TEST_F(RtcpHandlerTest, DelayFieldCountsSixtyFiveThousandthsPerMillisecond) {
    EXPECT_EQ(ReadBigEndian32(handler.BuildReceiverReport(), 28), 0u);  // nothing accepted yet
    ASSERT_TRUE(camera.Send(SenderReport(), port));
    Bytes rr;
    ASSERT_TRUE(camera.Receive(rr, 5000));
    const uint32_t arrival = handler.GetLastPacketTime();
    EXPECT_EQ(ReadBigEndian32(handler.BuildReceiverReportAt(arrival), 28), 0u);
    EXPECT_EQ(ReadBigEndian32(handler.BuildReceiverReportAt(arrival + 1000), 28), 65536u);
    EXPECT_EQ(ReadBigEndian32(handler.BuildReceiverReportAt(arrival + 250), 28), 16384u);
    EXPECT_EQ(ReadBigEndian32(handler.BuildReceiverReportAt(arrival + 7), 28), 458u);  // 458.752
}

TEST_F(RtcpHandlerTest, NoReportBeforeSenderReportAndDestinationFollowsCamera) {
    camsim::UdpSender other;
    ASSERT_TRUE(other.Open());
    // An RR-first datagram from the camera: destination learnt, no report.
    ASSERT_TRUE(other.Send(ReceiverReport(1), port));
    // The SR from the camera's other socket becomes the destination; the only report answers it.
    ASSERT_TRUE(camera.Send(SenderReport(), port));
    Bytes rr;
    ASSERT_TRUE(camera.Receive(rr, 5000));
    EXPECT_EQ(ReadBigEndian32(rr, 8), CAMERA_SSRC);
    EXPECT_FALSE(other.Receive(rr, 0));
    EXPECT_EQ(norvane::platform::InetPort(handler.GetDestination()), camera.Port());
}

// Rounds of two datagrams in quick succession: the second often arrives while the handler
// thread still handles the first, and must be answered all the same.
TEST_F(RtcpHandlerTest, DatagramArrivingWhileTheFirstIsHandledIsAnswered) {
    camsim::UdpSender other;
    ASSERT_TRUE(other.Open());
    for (int round = 0; round < 40; ++round) {
        handler.Stop();
        ASSERT_TRUE(handler.Start(0, LoopbackIPv4()));
        port = handler.GetPort();
        ASSERT_TRUE(other.Send(ReceiverReport(1), port));  // no report yet: no SR seen
        ASSERT_TRUE(camera.Send(SenderReport(), port));
        Bytes rr;
        ASSERT_TRUE(camera.Receive(rr, 5000)) << "round " << round;
        EXPECT_EQ(ReadBigEndian32(rr, 8), CAMERA_SSRC);
        handler.Stop();
        // Each accepted datagram may have had a report of its own; then comes the BYE.
        do {
            ASSERT_TRUE(camera.Receive(rr, 5000)) << "round " << round;
        } while (rr.size() > 1 && rr[1] == 201);
        EXPECT_EQ(rr[1], 203) << "round " << round;
    }
}

TEST_F(RtcpHandlerTest, IgnoresShortDatagrams) {
    Bytes shortSr = SenderReport(2);
    shortSr.resize(14);
    ExpectOnlySenderReportAnswered(camera, shortSr, camera);
}

TEST_F(RtcpHandlerTest, IgnoresOtherAddresses) {
    if (test::RunningUnderWine())
        GTEST_SKIP() << "Wine binds a UDP socket asked for 127.0.0.2 to all addresses, so its "
                        "datagrams leave from 127.0.0.1";
    handler.Stop();
    const uint32_t cameraAddress = MakeIPv4(127, 0, 0, 2);
    ASSERT_TRUE(handler.Start(0, cameraAddress));
    port = handler.GetPort();
    camsim::UdpSender realCamera;
    ASSERT_TRUE(realCamera.Open(0, cameraAddress));
    ExpectOnlySenderReportAnswered(camera, SenderReport(1), realCamera);  // 127.0.0.1: ignored
}

TEST_F(RtcpHandlerTest, StopSendsByeOnlyAfterReporting) {
    ASSERT_TRUE(camera.Send(SenderReport(), port));
    Bytes packet;
    ASSERT_TRUE(camera.Receive(packet, 5000));
    handler.Stop();
    ASSERT_TRUE(camera.Receive(packet, 5000));
    ASSERT_EQ(packet.size(), 8u);
    EXPECT_EQ(packet[0], 0x81);
    EXPECT_EQ(packet[1], 203);
    EXPECT_EQ(packet[2], 0);
    EXPECT_EQ(packet[3], 1);
    EXPECT_EQ(ReadBigEndian32(packet, 4), handler.GetOwnSsrc());
    EXPECT_FALSE(handler.IsReporting());
    EXPECT_EQ(handler.GetPort(), 0);

    // Restarted, stopped before any SR: nothing is sent.
    ASSERT_TRUE(handler.Start(0, LoopbackIPv4()));
    handler.Stop();
    EXPECT_FALSE(camera.Receive(packet, 50));
}

TEST_F(RtcpHandlerTest, StartRefusesOpenClientAndNoCameraAddress) {
    EXPECT_FALSE(handler.Start(0, LoopbackIPv4()));
    handler.Stop();
    EXPECT_FALSE(handler.Start(0, 0));
}

TEST(RtcpSequence, WrapGivesExtendedHighest65537) {
    test::FakeDriver driver;
    CRTCPHandler handler(&driver);
    for (uint16_t s : {65534, 65535, 0, 1})
        handler.OnRtpSequence(s);
    const CRTCPHandler::SequenceState state = handler.GetSequenceState();
    EXPECT_EQ(state.cycles, 65536u);
    EXPECT_EQ(state.maxSeq, 1);
    EXPECT_EQ(state.received, 4u);
    EXPECT_EQ(handler.GetExtendedHighestSequence(), 65537u);
    EXPECT_EQ(ReadBigEndian32(handler.BuildReceiverReport(), 16), 65537u);
}

TEST(RtcpSequence, JumpIgnoredOnceThenRestarts) {
    test::FakeDriver driver;
    CRTCPHandler handler(&driver);
    handler.OnRtpSequence(100);
    handler.OnRtpSequence(101);
    handler.OnRtpSequence(5101);  // jump of 5000: ignored, remembered as bad
    CRTCPHandler::SequenceState state = handler.GetSequenceState();
    EXPECT_EQ(state.maxSeq, 101);
    EXPECT_EQ(state.received, 2u);
    EXPECT_EQ(state.badSeq, 5102u);
    handler.OnRtpSequence(5102);  // the next consecutive number: restart
    state = handler.GetSequenceState();
    EXPECT_EQ(state.maxSeq, 5102);
    EXPECT_EQ(state.baseSeq, 5101u);
    EXPECT_EQ(state.received, 1u);
    EXPECT_EQ(state.cycles, 0u);
    EXPECT_EQ(state.badSeq, 65537u);
}

TEST(RtcpSequence, LateAndDuplicatePacketsOnlyCount) {
    test::FakeDriver driver;
    CRTCPHandler handler(&driver);
    handler.OnRtpSequence(1000);
    handler.OnRtpSequence(1000);  // duplicate: udelta 0 counts as in order
    handler.OnRtpSequence(950);   // late by 50
    const CRTCPHandler::SequenceState state = handler.GetSequenceState();
    EXPECT_EQ(state.maxSeq, 1000);
    EXPECT_EQ(state.received, 3u);
    EXPECT_EQ(state.cycles, 0u);
    EXPECT_EQ(state.baseSeq, 999u);
}
