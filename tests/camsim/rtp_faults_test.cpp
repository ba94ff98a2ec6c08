// Fault filter of a simulated RTP stream: what leaves, in which order, and within which bounds.
#include "camsim/rtp_faults.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/media.h"

using namespace camsim;

namespace {

// `count` packets from sequence `first` on.
std::vector<Packet> Frame(uint16_t first, int count) {
    std::vector<Packet> packets;
    for (int i = 0; i < count; ++i)
        packets.push_back(test::MakeDatagram(static_cast<uint16_t>(first + i), 0, i + 1 == count, {1, 2, 3}));
    return packets;
}

std::vector<uint16_t> Sequences(const std::vector<Packet>& packets) {
    std::vector<uint16_t> out;
    for (const Packet& packet : packets)
        out.push_back(static_cast<uint16_t>((packet[2] << 8) | packet[3]));
    return out;
}

TEST(RtpFaults, ChosenSequencesAreLostOnceAndAcrossTheWrap) {
    RtpFaultFilter filter;
    RtpFaults faults;
    faults.lossSequences = {65535, 1};
    filter.Set(faults);
    std::vector<Packet> packets = Frame(65534, 4);
    filter.Apply(packets);
    EXPECT_EQ(Sequences(packets), (std::vector<uint16_t>{65534, 0}));
    packets = Frame(65534, 4);  // the sequence space comes round again: nothing more is lost
    filter.Apply(packets);
    EXPECT_EQ(packets.size(), 4u);
    EXPECT_EQ(filter.Counts().lost, 2u);
}

TEST(RtpFaults, PercentageLossRepeatsWithTheSeedAndStopsAtTheBudget) {
    RtpFaults faults;
    faults.lossPercent = 10;
    faults.budget = 150;
    RtpFaultFilter first, second;
    first.Set(faults);
    second.Set(faults);
    std::vector<Packet> a = Frame(0, 1000), b = Frame(0, 1000);
    first.Apply(a);
    second.Apply(b);
    EXPECT_EQ(Sequences(a), Sequences(b));
    EXPECT_GT(first.Counts().lost, 60u);  // about 100 of 1000
    EXPECT_LT(first.Counts().lost, 140u);
    std::vector<Packet> more = Frame(1000, 3000);
    first.Apply(more);
    EXPECT_EQ(first.Counts().lost, 150u);
    EXPECT_EQ(a.size() + more.size(), 4000u - 150u);
}

TEST(RtpFaults, ReorderingSwapsNeighboursAcrossFramesAndDuplicationRepeats) {
    RtpFaultFilter filter;
    RtpFaults faults;
    faults.reorderEvery = 3;
    filter.Set(faults);
    std::vector<Packet> frame1 = Frame(10, 3), frame2 = Frame(13, 3);
    filter.Apply(frame1);
    filter.Apply(frame2);
    // Packet 12, the last of its frame, waits for 13.
    EXPECT_EQ(Sequences(frame1), (std::vector<uint16_t>{10, 11}));
    EXPECT_EQ(Sequences(frame2), (std::vector<uint16_t>{13, 12, 14}));
    EXPECT_EQ(filter.Counts().reordered, 2u);  // 15 is held now

    faults = {};
    faults.duplicateEvery = 2;
    faults.budget = 2;
    filter.Set(faults);
    std::vector<Packet> frame3 = Frame(16, 6);
    filter.Apply(frame3);
    EXPECT_EQ(Sequences(frame3), (std::vector<uint16_t>{16, 15, 17, 17, 18, 19, 19, 20, 21}));
    EXPECT_EQ(filter.Counts().duplicated, 2u);
}

TEST(RtpFaults, FreezeHappensOnceFromItsFrame) {
    RtpFaultFilter filter;
    RtpFaults faults;
    faults.freezeAtFrame = 5;
    faults.freezeMs = 10 * RtpFaultFilter::MAX_FREEZE_MS;
    filter.Set(faults);
    EXPECT_EQ(filter.FreezeAt(4), 0u);
    EXPECT_EQ(filter.FreezeAt(5), RtpFaultFilter::MAX_FREEZE_MS);  // bounded
    EXPECT_EQ(filter.FreezeAt(6), 0u);
    EXPECT_EQ(filter.Counts().freezes, 1u);
}

}  // namespace
