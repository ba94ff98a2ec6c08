#include <gtest/gtest.h>

#include <vector>

#include "camsim/h264_packetizer.h"
#include "camsim/jpeg_packetizer.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Payload(const camsim::Packet& p) { return Bytes(p.begin() + 12, p.end()); }
uint16_t Sequence(const camsim::Packet& p) { return static_cast<uint16_t>(p[2] << 8 | p[3]); }
bool Marker(const camsim::Packet& p) { return p[1] & 0x80; }

}  // namespace

TEST(H264Packetizer, AggregatesParameterSetsFragmentsLargeSlicesMarksTheLast) {
    camsim::H264Packetizer packetizer(0x01020304, 0xFFFF, 100);
    const Bytes sps(20, 0x67), pps(4, 0x68);
    Bytes idr(250, 0xAB);
    idr[0] = 0x65;
    Bytes small(50, 0xCD);
    small[0] = 0x65;
    const auto packets = packetizer.Packetize({sps, pps, idr, small}, 3600);
    // STAP-A (sps, pps), FU-A x3 (249 bytes after the header in 98-byte pieces), single.
    ASSERT_EQ(packets.size(), 5u);
    EXPECT_EQ(Payload(packets[0])[0], 0x78);
    EXPECT_EQ(Payload(packets[0]).size(), 1u + 2 + 20 + 2 + 4);
    EXPECT_EQ(Payload(packets[1])[0], 0x7C);
    EXPECT_EQ(Payload(packets[1])[1], 0x85);  // start, IDR
    EXPECT_EQ(Payload(packets[2])[1], 0x05);
    EXPECT_EQ(Payload(packets[3])[1], 0x45);  // end
    EXPECT_EQ(Payload(packets[1]).size() + Payload(packets[2]).size() + Payload(packets[3]).size(),
              249u + 6);
    EXPECT_EQ(Payload(packets[4]), small);
    for (size_t i = 0; i < packets.size(); ++i) {
        EXPECT_EQ(Marker(packets[i]), i == 4);
        EXPECT_EQ(Sequence(packets[i]), static_cast<uint16_t>(0xFFFF + i));
        EXPECT_EQ(packets[i][1] & 0x7F, 96);
        EXPECT_EQ(Bytes(packets[i].begin() + 4, packets[i].begin() + 12),
                  (Bytes{0, 0, 0x0E, 0x10, 1, 2, 3, 4}));
    }
    EXPECT_EQ(packetizer.Stream().NextSequence(), 4);
    EXPECT_EQ(camsim::VideoTimestamp(100, 25, 25), 90100u);
}

TEST(JpegPacketizer, InBandTablesOnlyInTheFirstPacketAndOffsetsOfTheScan) {
    camsim::JpegPicture picture;
    picture.type = 1;
    picture.width = 640;
    picture.height = 480;
    picture.luma.fill(3);
    picture.chroma.fill(4);
    picture.scan.assign(500, 0x55);
    camsim::JpegPacketizer packetizer(7, 10, 300);
    for (uint8_t q : {uint8_t{255}, uint8_t{50}}) {
        const auto packets = packetizer.Packetize(picture, q, 1234);
        size_t scanBytes = 0;
        for (size_t i = 0; i < packets.size(); ++i) {
            const Bytes p = Payload(packets[i]);
            ASSERT_LE(p.size(), 300u);
            const uint32_t offset = uint32_t{p[1]} << 16 | p[2] << 8 | p[3];
            EXPECT_EQ(offset, scanBytes);
            EXPECT_EQ(Bytes(p.begin() + 4, p.begin() + 8), (Bytes{1, q, 80, 60}));
            const bool tables = q >= 128 && i == 0;
            if (tables) {
                EXPECT_EQ(Bytes(p.begin() + 8, p.begin() + 12), (Bytes{0, 0, 0, 128}));
                EXPECT_EQ(p[12], 3);
                EXPECT_EQ(p[76], 4);
            }
            scanBytes += p.size() - (tables ? 140 : 8);
            EXPECT_EQ(Marker(packets[i]), i + 1 == packets.size());
            EXPECT_EQ(packets[i][1] & 0x7F, 26);
        }
        EXPECT_EQ(scanBytes, 500u);
    }
}
