#include "camsim/media_source.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "camsim/send_stamp.h"
#include "rtsp/rtp_packet.h"

namespace {

// Two access units: SPS, PPS, IDR slice; then a non-IDR slice (first_mb_in_slice 0).
std::string WriteStream() {
    const std::vector<uint8_t> bytes = {0, 0, 0, 1, 0x67, 0x42, 0xC0, 0x1E, 0xDA,
                                        0, 0, 0, 1, 0x68, 0xCE, 0x3C, 0x80,
                                        0, 0, 1, 0x65, 0x88, 0x84, 0x21,
                                        0, 0, 1, 0x41, 0x9A, 0x11, 0x22};
    const std::string path = ::testing::TempDir() + "camsim_media_source.264";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
}

TEST(MediaSource, H264LoopsWithContinuousSequenceAndTimestamp) {
    const std::string path = WriteStream();
    camsim::MediaSource source;
    ASSERT_TRUE(source.Load(camsim::StreamCodec::H264, path));
    std::filesystem::remove(path);
    ASSERT_EQ(source.FrameCount(), 2u);
    EXPECT_EQ(source.Medium().sps, (camsim::NalUnit{0x67, 0x42, 0xC0, 0x1E, 0xDA}));

    camsim::FramePacketizer frames(source, 0x1234, 65534, 1000, 25);
    uint16_t expectedSequence = 65534;
    for (uint64_t frame = 0; frame < 5; ++frame) {
        EXPECT_EQ(frames.NextTimestamp(), 1000 + frame * 3600);
        const std::vector<camsim::Packet> packets = frames.NextFrame();
        ASSERT_FALSE(packets.empty());
        for (size_t i = 0; i < packets.size(); ++i) {
            norvane::CRTPPacket packet;
            ASSERT_TRUE(packet.Parse(packets[i].data(), packets[i].size()));
            EXPECT_EQ(packet.GetSequenceNumber(), expectedSequence++);
            EXPECT_EQ(packet.GetTimestamp(), 1000 + frame * 3600);
            EXPECT_EQ(packet.GetMarker() != 0, i + 1 == packets.size());
        }
    }
}

// With send stamps each frame ends with the stamp unit in its own last (marker) packet; the
// stamp written there at send time is read back from the reassembled frame, and nothing else
// reads as a stamp.
TEST(MediaSource, SendStampEndsEachFrameAndReadsBack) {
    const std::string path = WriteStream();
    camsim::MediaSource source;
    ASSERT_TRUE(source.Load(camsim::StreamCodec::H264, path));
    std::filesystem::remove(path);
    camsim::FramePacketizer frames(source, 0x1234, 0, 0, 25);
    frames.SetSendStamps(true);
    for (const uint64_t stamp : {0x0123456789abcdefull, 42ull}) {
        std::vector<camsim::Packet> packets = frames.NextFrame();
        ASSERT_GE(packets.size(), 2u);
        camsim::Packet& last = packets.back();
        ASSERT_TRUE(camsim::WriteSendStamp(last.data(), last.size(), stamp));
        EXPECT_FALSE(camsim::WriteSendStamp(packets.front().data(), packets.front().size(), stamp));
        norvane::CRTPPacket packet;
        ASSERT_TRUE(packet.Parse(last.data(), last.size()));
        EXPECT_EQ(packet.GetMarker(), 1);
        // The frame as a receiver rebuilds it: Annex B units, the stamp unit last.
        std::vector<uint8_t> frame = {0, 0, 0, 1, 0x65, 0x88};
        frame.insert(frame.end(), {0, 0, 0, 1});
        frame.insert(frame.end(), packet.GetPayload(), packet.GetPayload() + packet.GetPayloadLength());
        uint64_t read = 0;
        ASSERT_TRUE(camsim::ReadSendStamp(frame.data(), frame.size(), read));
        EXPECT_EQ(read, stamp);
        frame.back() ^= 0x01;  // the trailing bits broken: no stamp
        EXPECT_FALSE(camsim::ReadSendStamp(frame.data(), frame.size(), read));
    }
    frames.SetSendStamps(false);
    const std::vector<camsim::Packet> plain = frames.NextFrame();
    uint64_t read = 0;
    EXPECT_FALSE(camsim::ReadSendStamp(plain.back().data(), plain.back().size(), read));
}

TEST(MediaSource, RejectsUnusableMedia) {
    camsim::MediaSource source;
    EXPECT_FALSE(source.Load(camsim::StreamCodec::H264, "/nonexistent/file.264"));
    EXPECT_FALSE(source.Load(camsim::StreamCodec::Jpeg, "/nonexistent"));
    EXPECT_EQ(source.FrameCount(), 0u);
}

}  // namespace
