#include "rtsp/rtcp_handler.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <set>
#include <string>

#include "camsim/udp_sender.h"
#include "support/fake_driver.h"
#include "support/wine.h"

using camsim::Bytes;
using camsim::ReadBigEndian32;
using norvane::CRTCPHandler;
using norvane::CRTCPReportSchedule;
using norvane::platform::LoopbackIPv4;
using norvane::platform::MakeIPv4;

namespace {

constexpr uint32_t CAMERA_SSRC = 0xCAFEF00D;
constexpr uint32_t NTP_SECONDS = 0x83AA7E80;
constexpr uint32_t NTP_FRACTION = 0x12345678;
constexpr uint8_t RTCP_RR = 201;
constexpr uint8_t RTCP_SDES = 202;
constexpr uint8_t RTCP_BYE = 203;

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

struct RtcpPart {
    uint8_t count;  // report, chunk or source count
    uint8_t type;
    Bytes bytes;
};

// The packets of a compound datagram; empty when their lengths do not fill it exactly.
std::vector<RtcpPart> SplitCompound(const Bytes& datagram) {
    std::vector<RtcpPart> parts;
    for (size_t at = 0; at < datagram.size();) {
        if (datagram.size() - at < 4)
            return {};
        const size_t size = 4 * (((size_t{datagram[at + 2]} << 8) | datagram[at + 3]) + 1);
        if (size > datagram.size() - at)
            return {};
        parts.push_back({static_cast<uint8_t>(datagram[at] & 0x1F), datagram[at + 1],
                         Bytes(datagram.begin() + static_cast<long>(at),
                               datagram.begin() + static_cast<long>(at + size))});
        at += size;
    }
    return parts;
}

// Types of the packets of a datagram, in order.
std::vector<uint8_t> Types(const Bytes& datagram) {
    std::vector<uint8_t> types;
    for (const RtcpPart& part : SplitCompound(datagram))
        types.push_back(part.type);
    return types;
}

// The CNAME of an SDES packet whose one chunk is `ssrc`'s; empty when it has none.
std::string Cname(const Bytes& sdes, uint32_t ssrc) {
    if (sdes.size() < 12 || ReadBigEndian32(sdes, 4) != ssrc)
        return {};
    for (size_t at = 8; at + 2 <= sdes.size() && sdes[at] != 0; at += 2 + sdes[at + 1]) {
        if (sdes[at] == 1 && at + 2 + sdes[at + 1] <= sdes.size())
            return std::string(sdes.begin() + static_cast<long>(at + 2),
                               sdes.begin() + static_cast<long>(at + 2 + sdes[at + 1]));
    }
    return {};
}

// Report-block figures of a receiver report at the start of a datagram.
struct Figures {
    unsigned fraction;
    int32_t cumulative;
    uint32_t highest;
    uint32_t jitter;
};

Figures ReadFigures(const Bytes& rr) {
    const uint32_t lostWord = ReadBigEndian32(rr, 12);
    const auto cumulative = static_cast<int32_t>(lostWord << 8) >> 8;  // signed 24 bits
    return {lostWord >> 24, cumulative, ReadBigEndian32(rr, 16), ReadBigEndian32(rr, 20)};
}

Figures Report(CRTCPHandler& handler) {
    return ReadFigures(handler.BuildReceiverReport());
}

// One packet per frame of a 25 fps stream, numbered from `first`; packet i is sent at i * 40 ms
// (`step` units of the RTP clock, 90 kHz unless given) and arrives `delayUs` later.
struct Stream {
    CRTCPHandler& handler;
    uint16_t first = 0;
    uint32_t step = 3600;

    void Arrive(uint32_t i, uint64_t delayUs = 0) {
        handler.OnRtpPacket(static_cast<uint16_t>(first + i), 5000 + i * step,
                            1000000 + uint64_t{i} * 40000 + delayUs);
    }
    // Packets from..to-1 in order, except those of `lost`.
    void Run(uint32_t from, uint32_t to, const std::set<uint32_t>& lost = {}) {
        for (uint32_t i = from; i < to; ++i)
            if (!lost.count(i))
                Arrive(i);
    }
};

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

TEST_F(RtcpHandlerTest, AnswersSenderReportWithCompoundReceiverReport) {
    Stream stream{handler, 100};
    stream.Run(0, 3);
    const auto sent = std::chrono::steady_clock::now();
    ASSERT_TRUE(camera.Send(SenderReport(), port));
    Bytes rr;
    norvane::platform::InetAddress from;
    ASSERT_TRUE(camera.Receive(rr, 5000, &from));
    const auto elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now() - sent).count();
    const std::vector<RtcpPart> parts = SplitCompound(rr);
    ASSERT_EQ(Types(rr), (std::vector<uint8_t>{RTCP_RR, RTCP_SDES}));
    ASSERT_EQ(parts[0].bytes.size(), 32u);
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
    // RFC 3550 6.1: the CNAME of the own SSRC comes with every report.
    EXPECT_EQ(parts[1].count, 1);
    EXPECT_EQ(Cname(parts[1].bytes, handler.GetOwnSsrc()), handler.GetCname());
    EXPECT_FALSE(handler.GetCname().empty());
}

// 20000 sender reports as fast as the socket takes them are answered at the schedule's rate:
// one at once, then at most one per shortest interval.
TEST_F(RtcpHandlerTest, AFloodOfSenderReportsDoesNotRaiseTheReportRate) {
    constexpr int FLOOD = 20000;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < FLOOD; ++i)
        ASSERT_TRUE(camera.Send(SenderReport(), port));
    // Reports are counted until none came for a while after the flood.
    unsigned reports = 0;
    Bytes rr;
    while (camera.Receive(rr, 500)) {
        ++reports;
        EXPECT_EQ(Types(rr), (std::vector<uint8_t>{RTCP_RR, RTCP_SDES}));
        ASSERT_LT(reports, 100u) << "reports keep coming";
    }
    const auto elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now() - start)
                               .count();
    EXPECT_GE(reports, 1u);
    EXPECT_LE(reports, 1 + elapsedMs / CRTCPReportSchedule::SHORTEST_MS) << elapsedMs << " ms";
}

// With no RTCP from the camera after the first sender report, reports still go out on the
// interval, and each carries the loss of its own interval.
TEST_F(RtcpHandlerTest, ReportsOnItsOwnIntervalWithTheIntervalsLoss) {
    Stream stream{handler, 40000};
    stream.Run(0, 100);
    ASSERT_TRUE(camera.Send(SenderReport(), port));
    Bytes rr;
    ASSERT_TRUE(camera.Receive(rr, 5000));
    EXPECT_EQ(ReadFigures(rr).fraction, 0u);
    stream.Run(100, 200, {110, 120, 130, 140});
    ASSERT_TRUE(camera.Receive(rr, CRTCPReportSchedule::LONGEST_MS + 5000));
    EXPECT_EQ(Types(rr), (std::vector<uint8_t>{RTCP_RR, RTCP_SDES}));
    const Figures figures = ReadFigures(rr);
    EXPECT_EQ(figures.fraction, 4u * 256 / 100);
    EXPECT_EQ(figures.cumulative, 4);
    EXPECT_EQ(figures.highest, 40199u);
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
        ASSERT_TRUE(camera.Receive(rr, 5000)) << "round " << round;
        EXPECT_EQ(Types(rr).back(), RTCP_BYE) << "round " << round;
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
    // RFC 3550 6.1: BYE goes last in a compound packet that starts with a report.
    const std::vector<RtcpPart> parts = SplitCompound(packet);
    ASSERT_EQ(Types(packet), (std::vector<uint8_t>{RTCP_RR, RTCP_SDES, RTCP_BYE}));
    EXPECT_EQ(Cname(parts[1].bytes, handler.GetOwnSsrc()), handler.GetCname());
    const Bytes& bye = parts[2].bytes;
    ASSERT_EQ(bye.size(), 8u);
    EXPECT_EQ(bye[0], 0x81);
    EXPECT_EQ(bye[2], 0);
    EXPECT_EQ(bye[3], 1);
    EXPECT_EQ(ReadBigEndian32(bye, 4), handler.GetOwnSsrc());
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
    Stream{handler, 65534}.Run(0, 4);
    const CRTCPHandler::SequenceState state = handler.GetSequenceState();
    EXPECT_EQ(state.cycles, 65536u);
    EXPECT_EQ(state.maxSeq, 1);
    EXPECT_EQ(state.received, 4u);
    EXPECT_EQ(handler.GetExtendedHighestSequence(), 65537u);
    EXPECT_EQ(ReadBigEndian32(handler.BuildReceiverReport(), 16), 65537u);
}

TEST(RtcpSequence, JumpIgnoredOnceThenRestartsWithFreshFigures) {
    test::FakeDriver driver;
    CRTCPHandler handler(&driver);
    Stream stream{handler, 100};
    stream.Run(0, 4, {2});
    stream.Arrive(5003);  // jump of 5000: ignored, remembered as bad
    CRTCPHandler::SequenceState state = handler.GetSequenceState();
    EXPECT_EQ(state.maxSeq, 103);
    EXPECT_EQ(state.received, 3u);
    EXPECT_EQ(state.badSeq, 5104u);
    stream.Arrive(5004);  // the next consecutive number: restart
    state = handler.GetSequenceState();
    EXPECT_EQ(state.maxSeq, 5104);
    EXPECT_EQ(state.baseSeq, 5103u);
    EXPECT_EQ(state.received, 1u);
    EXPECT_EQ(state.cycles, 0u);
    EXPECT_EQ(state.badSeq, 65537u);
    // The loss before the jump belongs to the old numbering.
    stream.Run(5005, 5010);
    const Figures figures = Report(handler);
    EXPECT_EQ(figures.cumulative, 0);
    EXPECT_EQ(figures.fraction, 0u);
    EXPECT_EQ(figures.highest, 5109u);
}

TEST(RtcpSequence, LateAndDuplicatePacketsOnlyCount) {
    test::FakeDriver driver;
    CRTCPHandler handler(&driver);
    Stream stream{handler, 950};
    stream.Arrive(50);
    stream.Arrive(50);  // duplicate: udelta 0 counts as in order
    stream.Arrive(0);   // late by 50
    const CRTCPHandler::SequenceState state = handler.GetSequenceState();
    EXPECT_EQ(state.maxSeq, 1000);
    EXPECT_EQ(state.received, 3u);
    EXPECT_EQ(state.cycles, 0u);
    EXPECT_EQ(state.baseSeq, 999u);
}

TEST(RtcpStatistics, FractionAndCumulativeLossPerReport) {
    test::FakeDriver driver;
    CRTCPHandler handler(&driver);
    Stream stream{handler, 1000};
    stream.Run(0, 100, {10, 20, 30, 40, 50});
    Figures figures = Report(handler);
    EXPECT_EQ(figures.fraction, 5u * 256 / 100);  // 12.8: truncated
    EXPECT_EQ(figures.cumulative, 5);
    EXPECT_EQ(figures.highest, 1099u);

    stream.Run(100, 200);  // no loss in this interval
    figures = Report(handler);
    EXPECT_EQ(figures.fraction, 0u);
    EXPECT_EQ(figures.cumulative, 5);

    std::set<uint32_t> lost;
    for (uint32_t i = 200; i < 300; i += 4)
        lost.insert(i);
    stream.Run(200, 300, lost);
    figures = Report(handler);
    EXPECT_EQ(figures.fraction, 64u);  // a quarter
    EXPECT_EQ(figures.cumulative, 30);
    EXPECT_EQ(figures.highest, 1299u);
    EXPECT_EQ(Report(handler).fraction, 0u);  // nothing expected since
}

TEST(RtcpStatistics, LossAcrossTheSequenceWrap) {
    test::FakeDriver driver;
    CRTCPHandler handler(&driver);
    Stream stream{handler, 65500};
    stream.Run(0, 100, {30, 36, 37});  // 36 would be number 0
    const Figures figures = Report(handler);
    EXPECT_EQ(figures.highest, 65536u + 63);
    EXPECT_EQ(figures.cumulative, 3);
    EXPECT_EQ(figures.fraction, 3u * 256 / 100);
}

TEST(RtcpStatistics, ReorderedPacketsAreNotLostAndALateOneRepaysTheNextInterval) {
    test::FakeDriver driver;
    CRTCPHandler handler(&driver);
    Stream stream{handler, 7};
    for (uint32_t i : {0, 1, 3, 2, 4})
        stream.Arrive(i);
    Figures figures = Report(handler);
    EXPECT_EQ(figures.fraction, 0u);
    EXPECT_EQ(figures.cumulative, 0);
    EXPECT_EQ(figures.highest, 11u);

    for (uint32_t i : {5, 6, 8})  // 7 not yet here
        stream.Arrive(i);
    figures = Report(handler);
    EXPECT_EQ(figures.fraction, 64u);  // 1 of 4
    EXPECT_EQ(figures.cumulative, 1);

    for (uint32_t i : {7, 9})  // 2 received, 1 expected: none lost in this interval
        stream.Arrive(i);
    figures = Report(handler);
    EXPECT_EQ(figures.fraction, 0u);
    EXPECT_EQ(figures.cumulative, 0);
}

TEST(RtcpStatistics, DuplicatesMakeTheCumulativeLossNegative) {
    test::FakeDriver driver;
    CRTCPHandler handler(&driver);
    Stream stream{handler, 300};
    for (uint32_t i : {0, 1, 1, 2, 2, 3})
        stream.Arrive(i);
    const Bytes rr = handler.BuildReceiverReport();
    EXPECT_EQ(ReadBigEndian32(rr, 12), 0x00FFFFFEu);  // fraction 0, cumulative -2 in 24 bits
    EXPECT_EQ(ReadFigures(rr).cumulative, -2);
}

TEST(RtcpStatistics, CumulativeLossIsClampedToTwentyFourBits) {
    test::FakeDriver driver;
    CRTCPHandler handler(&driver);
    Stream stream{handler, 0};
    for (uint32_t i = 0; i < 3000; ++i)
        stream.Arrive(i * 2999);  // each step just within the accepted dropout
    const Figures figures = Report(handler);
    EXPECT_EQ(figures.cumulative, 0x7FFFFF);
    EXPECT_EQ(figures.fraction, 255u);
}

// Steady packets whose arrival is alternately on time and 5 ms late: every transit difference
// is 450 units of the 90 kHz clock, which the estimator approaches.
TEST(RtcpStatistics, JitterInUnitsOfTheStreamsClock) {
    test::FakeDriver driver;
    CRTCPHandler handler(&driver);
    Stream stream{handler, 0};
    stream.Run(0, 50);
    EXPECT_EQ(Report(handler).jitter, 0u);  // constant transit
    for (uint32_t i = 50; i < 400; ++i)
        stream.Arrive(i, i % 2 * 5000);
    EXPECT_NEAR(Report(handler).jitter, 450.0, 1.0);

    CRTCPHandler narrow(&driver);
    narrow.SetClockRate(8000);
    Stream eightKilohertz{narrow, 0, 320};
    for (uint32_t i = 0; i < 400; ++i)
        eightKilohertz.Arrive(i, i % 2 * 5000);
    EXPECT_NEAR(Report(narrow).jitter, 40.0, 1.0);
}

// Irregular arrival: the integer estimator stays within rounding of RFC 3550 6.4.1's
// J += (|D| - J) / 16.
TEST(RtcpStatistics, JitterFollowsTheRfcEstimator) {
    test::FakeDriver driver;
    CRTCPHandler handler(&driver);
    Stream stream{handler, 65000};  // across the sequence wrap
    double reference = 0;
    double previousTransit = 0;
    uint32_t random = 12345;
    for (uint32_t i = 0; i < 2000; ++i) {
        random = random * 1103515245u + 12345u;
        const uint64_t delayUs = (random >> 16) % 30000;
        stream.Arrive(i, delayUs);
        const double transit = static_cast<double>(delayUs) * 0.09;  // 90 kHz units
        if (i > 0)
            reference += (std::fabs(transit - previousTransit) - reference) / 16;
        previousTransit = transit;
    }
    EXPECT_NEAR(Report(handler).jitter, reference, 2.0);
    EXPECT_GT(reference, 500.0);  // the delays were irregular
}

TEST(RtcpStatistics, ReportAndGoodbyeAreCompoundPacketsWithTheCname) {
    test::FakeDriver driver;
    CRTCPHandler handler(&driver);
    const Bytes report = handler.BuildReceiverReport();
    ASSERT_EQ(Types(report), (std::vector<uint8_t>{RTCP_RR, RTCP_SDES}));
    const Bytes goodbye = handler.BuildBye();
    ASSERT_EQ(Types(goodbye), (std::vector<uint8_t>{RTCP_RR, RTCP_SDES, RTCP_BYE}));
    const std::string cname = Cname(SplitCompound(report)[1].bytes, handler.GetOwnSsrc());
    EXPECT_EQ(cname.size(), 16u);  // 96 random bits in Base64 (RFC 7022)
    EXPECT_EQ(Cname(SplitCompound(goodbye)[1].bytes, handler.GetOwnSsrc()), cname);
    CRTCPHandler other(&driver);
    EXPECT_NE(other.GetCname(), cname);
    EXPECT_NE(other.GetOwnSsrc(), handler.GetOwnSsrc());
}

TEST(RtcpReportSchedule, TheFirstRequestIsAnsweredAtOnceThenTheIntervalHolds) {
    CRTCPReportSchedule schedule(7);
    EXPECT_EQ(schedule.DueInMs(1000, 10000), 10000u);  // nothing asked yet
    schedule.Request();
    EXPECT_EQ(schedule.DueInMs(1000, 10000), 0u);
    schedule.Sent(1000);
    const uint32_t interval = schedule.GetIntervalMs();
    EXPECT_EQ(schedule.DueInMs(1000, 10000), interval);  // on the interval without requests
    EXPECT_EQ(schedule.DueInMs(1000 + interval, 10000), 0u);
    schedule.Request();  // a camera packet: as soon as the shortest interval allows
    EXPECT_EQ(schedule.DueInMs(1500, 10000), CRTCPReportSchedule::SHORTEST_MS - 500);
    EXPECT_EQ(schedule.DueInMs(1000 + CRTCPReportSchedule::SHORTEST_MS, 10000), 0u);
    schedule.Sent(1000 + CRTCPReportSchedule::SHORTEST_MS);
    schedule.Restart();  // a new session is answered at once again
    schedule.Request();
    EXPECT_EQ(schedule.DueInMs(3100, 10000), 0u);
}

TEST(RtcpReportSchedule, IntervalsAreRandomisedOverTheRfcRange) {
    CRTCPReportSchedule schedule(1);
    uint32_t shortest = UINT32_MAX, longest = 0;
    uint64_t sum = 0;
    constexpr uint32_t DRAWS = 2000;
    for (uint32_t i = 0; i < DRAWS; ++i) {
        schedule.Sent(0);
        shortest = std::min(shortest, schedule.GetIntervalMs());
        longest = std::max(longest, schedule.GetIntervalMs());
        sum += schedule.GetIntervalMs();
    }
    EXPECT_GE(shortest, CRTCPReportSchedule::SHORTEST_MS);
    EXPECT_LE(longest, CRTCPReportSchedule::LONGEST_MS);
    EXPECT_LT(shortest, 2300u);
    EXPECT_GT(longest, 5900u);
    EXPECT_NEAR(static_cast<double>(sum) / DRAWS, 5000 / 1.21828, 100.0);  // mean 5 s / (e - 3/2)
}

// A request every millisecond for 20 s: the reports keep the shortest spacing.
TEST(RtcpReportSchedule, ConstantRequestsKeepTheShortestSpacing) {
    CRTCPReportSchedule schedule(3);
    unsigned sent = 0;
    uint32_t last = 0;
    for (uint32_t now = 1; now <= 20000; ++now) {
        schedule.Request();
        if (schedule.DueInMs(now, 10000) != 0)
            continue;
        if (sent > 0) {
            EXPECT_GE(now - last, CRTCPReportSchedule::SHORTEST_MS);
        }
        schedule.Sent(now);
        last = now;
        ++sent;
    }
    EXPECT_EQ(sent, 1 + 19999 / CRTCPReportSchedule::SHORTEST_MS);
}
