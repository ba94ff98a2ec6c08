#include "rtsp/rtp_packet.h"

#include <gtest/gtest.h>

#include <vector>

using norvane::CRTPPacket;

namespace {

using Bytes = std::vector<uint8_t>;

// Fixed header: V=2, given flags in byte 0, marker+PT 0xE0 (marker, type 96), seq 0x1234,
// timestamp 0x89ABCDEF, SSRC 01 02 03 04.
Bytes Header(uint8_t byte0) {
    return {byte0, 0xE0, 0x12, 0x34, 0x89, 0xAB, 0xCD, 0xEF, 0x01, 0x02, 0x03, 0x04};
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

bool Parse(CRTPPacket& packet, const Bytes& bytes) { return packet.Parse(bytes.data(), bytes.size()); }

}  // namespace

TEST(RtpHeader, FixedFieldsInHostOrderSsrcAsReceived) {
    CRTPPacket packet;
    ASSERT_TRUE(Parse(packet, Header(0x80) + Bytes{0xAA, 0xBB}));
    EXPECT_EQ(packet.GetMarker(), 1);
    EXPECT_EQ(packet.GetPayloadType(), 96);
    EXPECT_EQ(packet.GetSequenceNumber(), 0x1234);
    EXPECT_EQ(packet.GetTimestamp(), 0x89ABCDEFu);
    uint32_t raw = packet.GetSsrc();
    const auto* bytes = reinterpret_cast<const uint8_t*>(&raw);
    EXPECT_EQ(Bytes(bytes, bytes + 4), (Bytes{1, 2, 3, 4}));
    ASSERT_EQ(packet.GetPayloadLength(), 2u);
    EXPECT_EQ(packet.GetPayload()[0], 0xAA);
    EXPECT_EQ(packet.GetPadding(), 0);
}

TEST(RtpHeader, RejectsShortAndWrongVersion) {
    CRTPPacket packet;
    EXPECT_FALSE(Parse(packet, Header(0x80)));                 // exactly 12 bytes
    EXPECT_FALSE(Parse(packet, Header(0x40) + Bytes{1}));      // version 1
    EXPECT_FALSE(Parse(packet, Header(0xC0) + Bytes{1}));      // version 3
    EXPECT_FALSE(packet.Parse(nullptr, 20));
}

TEST(RtpHeader, CsrcListMustLeaveBytes) {
    CRTPPacket packet;
    ASSERT_TRUE(Parse(packet, Header(0x82) + Bytes{0, 0, 0, 1, 0, 0, 0, 2, 0x55}));
    EXPECT_EQ(packet.GetCsrcCount(), 2);
    ASSERT_EQ(packet.GetCsrcList().size(), 2u);
    EXPECT_EQ(packet.GetPayloadLength(), 1u);
    EXPECT_EQ(packet.GetPayload()[0], 0x55);
    // The list fills the rest exactly: refused.
    EXPECT_FALSE(Parse(packet, Header(0x82) + Bytes{0, 0, 0, 1, 0, 0, 0, 2}));
    // The list would run past the end.
    EXPECT_FALSE(Parse(packet, Header(0x8F) + Bytes{1, 2, 3}));
}

TEST(RtpHeader, ExtensionParsedOrRejectedWhenItDoesNotFit) {
    CRTPPacket packet;
    ASSERT_TRUE(Parse(packet, Header(0x90) + Bytes{0xBE, 0xDE, 0, 1, 9, 8, 7, 6, 0x77}));
    EXPECT_EQ(packet.GetExtensionProfile(), 0xBEDE);
    EXPECT_EQ(packet.GetExtensionLength(), 1);
    EXPECT_EQ(packet.GetExtensionData(), (Bytes{9, 8, 7, 6}));
    EXPECT_EQ(packet.GetPayloadLength(), 1u);
    // Length 0 consumes only the 4-byte extension header.
    ASSERT_TRUE(Parse(packet, Header(0x90) + Bytes{0, 1, 0, 0, 0x77}));
    EXPECT_EQ(packet.GetPayloadLength(), 1u);
    EXPECT_EQ(packet.GetPayload()[0], 0x77);
    // Fewer than 4 bytes for the extension header, or a length past the end.
    EXPECT_FALSE(Parse(packet, Header(0x90) + Bytes{0, 1, 0}));
    EXPECT_FALSE(Parse(packet, Header(0x90) + Bytes{0, 1, 0, 2, 1, 2, 3, 4}));
}

TEST(RtpHeader, PaddingCases) {
    CRTPPacket packet;
    // Padding of 2 leaves one payload byte.
    ASSERT_TRUE(Parse(packet, Header(0xA0) + Bytes{0x11, 0x00, 0x02}));
    EXPECT_EQ(packet.GetPadding(), 1);
    ASSERT_EQ(packet.GetPayloadLength(), 1u);
    EXPECT_EQ(packet.GetPayload()[0], 0x11);
    // Padding equal to the rest: accepted with an empty payload.
    ASSERT_TRUE(Parse(packet, Header(0xA0) + Bytes{0x00, 0x00, 0x03}));
    EXPECT_EQ(packet.GetPayloadLength(), 0u);
    EXPECT_EQ(packet.GetPayload(), nullptr);
    // Padding longer than the rest: dropped.
    EXPECT_FALSE(Parse(packet, Header(0xA0) + Bytes{0x00, 0x04}));
}
