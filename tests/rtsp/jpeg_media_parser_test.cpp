#include "rtsp/jpeg_media_parser.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <thread>
#include <vector>

#include "camsim/media_files.h"
#include "rtsp/jpeg_header.h"
#include "support/fake_driver.h"
#include "support/media.h"

using norvane::CJpegRTPMediaParser;
using test::Bytes;

namespace {

const Bytes kEoi = {0xFF, 0xD9};

// RTP/JPEG main header followed by `data`.
Bytes Fragment(uint32_t offset, uint8_t type, uint8_t q, uint8_t w8, uint8_t h8, const Bytes& data) {
    Bytes p(8 + data.size());
    p[1] = static_cast<uint8_t>(offset >> 16);
    p[2] = static_cast<uint8_t>(offset >> 8);
    p[3] = static_cast<uint8_t>(offset);
    p[4] = type, p[5] = q, p[6] = w8, p[7] = h8;
    std::copy(data.begin(), data.end(), p.begin() + 8);
    return p;
}

Bytes Scan(size_t size, uint8_t fill) { return Bytes(size, fill); }

Bytes Cat(const Bytes& a, const Bytes& b) {
    Bytes out(a.size() + b.size());
    std::copy(b.begin(), b.end(), std::copy(a.begin(), a.end(), out.begin()));
    return out;
}

// The in-band table header (precision 0, length 128) and the tables.
Bytes TableHeader(size_t size, uint8_t fill) {
    Bytes t(size, fill);
    t[0] = t[1] = t[2] = 0;
    t[3] = 128;
    return t;
}

// The in-band table header (MBZ, `precision`, `length`) and `count` table bytes first, first + 1...
Bytes Tables(uint16_t length, size_t count, uint8_t first = 1, uint8_t precision = 0) {
    Bytes t(4 + count);
    t[1] = precision;
    t[2] = static_cast<uint8_t>(length >> 8);
    t[3] = static_cast<uint8_t>(length);
    for (size_t i = 0; i < count; ++i)
        t[4 + i] = static_cast<uint8_t>(first + i);
    return t;
}

// The restart header of types 64-127: interval, F and L set, count 0x3FFF.
Bytes Restart(uint16_t interval) {
    return {static_cast<uint8_t>(interval >> 8), static_cast<uint8_t>(interval), 0xFF, 0xFF};
}

// Offsets of the parts of the 605-byte header.
constexpr size_t kLumaDqt = 2 + 5, kChromaDqt = 2 + 69 + 5, kSof = 2 + 138;

class JpegParser : public ::testing::Test {
protected:
    JpegParser() : parser(&driver, "Tavrin") { parser.SetClient(&client); }

    void Send(const Bytes& payload, bool marker) {
        parser.ProcessPacket(test::ToPacket(test::MakeDatagram(sequence++, 3600, marker, payload, 26)));
    }
    // A picture in two fragments: 300 bytes of scan data, then 200 ending with EOI.
    void SendPicture(uint8_t type = 1, uint8_t q = 50, uint8_t w8 = 40, uint8_t h8 = 30) {
        Send(Fragment(0, type, q, w8, h8, Scan(300, 0x11)), false);
        Send(Fragment(300, type, q, w8, h8, Cat(Scan(198, 0x22), kEoi)), true);
    }
    Bytes ExpectedPicture(uint8_t type, uint8_t q, uint16_t w, uint16_t h) {
        norvane::QuantTable luma, chroma;
        norvane::MakeQuantTables(q, luma, chroma);
        Bytes out;
        norvane::AppendJpegHeader(out, type, w, h, luma.data(), chroma.data());
        return Cat(Cat(Cat(out, Scan(300, 0x11)), Scan(198, 0x22)), kEoi);
    }
    std::vector<host::DeliveredFrame> Frames() { return client.sink.Frames(); }

    test::FakeDriver driver;
    test::RecordingClient client;
    CJpegRTPMediaParser parser;
    uint16_t sequence = 500;
};

}  // namespace

TEST_F(JpegParser, JoinedMidPictureCollectsFromTheFirstMarker) {
    Send(Fragment(300, 1, 50, 40, 30, Cat(Scan(100, 0x22), kEoi)), true);  // tail of a picture
    EXPECT_EQ(client.sink.FrameCount(), 0u);
    SendPicture();
    SendPicture();
    ASSERT_EQ(client.sink.FrameCount(), 2u);
    const host::DeliveredFrame f = Frames()[1];
    EXPECT_EQ(f.data, ExpectedPicture(1, 50, 320, 240));
    EXPECT_EQ(client.fourccs[1], norvane::FOURCC_JPEG);  // given at allocation only
    EXPECT_EQ(f.width, 320u);
    EXPECT_EQ(f.height, 240u);
    EXPECT_EQ(f.sizeClass, 2u);
    EXPECT_TRUE(f.stamped);
    EXPECT_EQ(f.source, "Tavrin");
    EXPECT_EQ(client.capacities[1], f.data.size());
    EXPECT_EQ(client.calls[1], (std::vector<std::string>{"SetDataSize", "SetWidth", "SetHeight",
                                                          "SetSizeClass", "StampTime"}));
    EXPECT_EQ(driver.lastSize, (std::pair<int, int>{320, 240}));
    EXPECT_EQ(driver.frames.Allocated(), driver.frames.Released());
}

TEST_F(JpegParser, HeaderCarriesSizeSamplingAndTables) {
    Send(Fragment(0, 0, 50, 0, 0, {}), true);
    SendPicture(0, 50, 80, 60);
    SendPicture(1, 1, 80, 60);
    SendPicture(2, 99, 80, 60);  // any type but 0 (64 with restart markers) is sampled 2x2
    const auto frames = Frames();
    ASSERT_EQ(frames.size(), 3u);
    const Bytes& p = frames[0].data;
    ASSERT_EQ(p.size(), norvane::JPEG_HEADER_SIZE + 500);
    EXPECT_EQ(Bytes(p.begin() + kSof, p.begin() + kSof + 19),
              (Bytes{0xFF, 0xC0, 0, 17, 8, 0x01, 0xE0, 0x02, 0x80, 3, 0, 0x21, 0, 1, 0x11, 1, 2,
                     0x11, 1}));
    EXPECT_EQ(frames[1].data[kSof + 11], 0x22);
    EXPECT_EQ(frames[2].data[kSof + 11], 0x22);
    EXPECT_EQ(frames[0].width, 640u);
    EXPECT_EQ(frames[0].height, 480u);
    EXPECT_EQ(frames[0].sizeClass, 4u);

    // Q 50 gives the base tables (zig-zag order), Q 1 saturates, Q 99 drops to 1 and 2.
    const Bytes q50Luma(p.begin() + kLumaDqt, p.begin() + kLumaDqt + 8);
    EXPECT_EQ(q50Luma, (Bytes{16, 11, 12, 14, 12, 10, 16, 14}));
    EXPECT_EQ(Bytes(p.begin() + kChromaDqt, p.begin() + kChromaDqt + 6),
              (Bytes{17, 18, 18, 24, 21, 24}));
    EXPECT_EQ(p[kLumaDqt + 63], 99);
    for (size_t k = 0; k < 64; ++k) {
        EXPECT_EQ(frames[1].data[kLumaDqt + k], 255) << k;
        EXPECT_LE(frames[2].data[kChromaDqt + k], 2) << k;
        EXPECT_GE(frames[2].data[kLumaDqt + k], 1) << k;
    }
    EXPECT_EQ(frames[2].data[kLumaDqt], 1);  // (16 * 2 + 50) / 100 = 0, clamped
}

// The Length of the in-band table header says how many tables follow: 64 bytes is one table for
// both components.
TEST_F(JpegParser, InBandTablesAreUsedAsSent) {
    for (const uint16_t length : {128, 64}) {
        SCOPED_TRACE(length);
        client.sink.Clear();
        Send(Fragment(0, 1, 255, 40, 30, Cat(Tables(length, length), Scan(100, 0x11))), false);
        Send(Fragment(100, 1, 255, 40, 30, Cat(Scan(10, 0x22), kEoi)), true);
        ASSERT_EQ(client.sink.FrameCount(), 1u);
        const Bytes p = Frames()[0].data;
        ASSERT_EQ(p.size(), norvane::JPEG_HEADER_SIZE + 112);
        for (size_t k = 0; k < 64; ++k) {
            EXPECT_EQ(p[kLumaDqt + k], k + 1);
            EXPECT_EQ(p[kChromaDqt + k], length == 128 ? k + 65 : k + 1);
        }
        EXPECT_EQ(Bytes(p.begin() + norvane::JPEG_HEADER_SIZE, p.end()),
                  Cat(Cat(Scan(100, 0x11), Scan(10, 0x22)), kEoi));
    }
}

TEST_F(JpegParser, ShortFirstFragmentsAreDroppedNotReadPast) {
    Send(Fragment(0, 1, 50, 0, 0, {}), true);
    Send(Bytes{0, 0, 0, 0, 1}, true);  // shorter than the main header
    const Bytes tables = TableHeader(100, 0x10);  // in-band tables cut short
    Send(Fragment(0, 1, 200, 40, 30, tables), true);
    EXPECT_EQ(client.sink.FrameCount(), 0u);
    SendPicture();
    EXPECT_EQ(client.sink.FrameCount(), 1u);
}

TEST_F(JpegParser, PicturesWithoutSizeAreDroppedAndTheMarkerEndsAScanWithoutEoi) {
    Send(Fragment(0, 1, 50, 0, 0, {}), true);
    SendPicture(1, 50, 0, 30);  // zero width
    EXPECT_EQ(client.sink.FrameCount(), 0u);
    EXPECT_EQ(driver.frames.Allocated(), 0u);
    Send(Fragment(0, 1, 50, 40, 30, Scan(300, 0x11)), false);
    Send(Fragment(300, 1, 50, 40, 30, Scan(198, 0x22)), true);  // no EOI: one is added
    ASSERT_EQ(client.sink.FrameCount(), 1u);
    EXPECT_EQ(Frames()[0].data, ExpectedPicture(1, 50, 320, 240));
    EXPECT_EQ(client.capacities[0], Frames()[0].data.size());
    // Scan data is cut at its EOI.
    Send(Fragment(0, 1, 50, 40, 30, Cat(Cat(Scan(10, 0x11), kEoi), Scan(5, 0x33))), true);
    ASSERT_EQ(client.sink.FrameCount(), 2u);
    EXPECT_EQ(Frames()[1].data.size(), norvane::JPEG_HEADER_SIZE + 12);
}

TEST_F(JpegParser, IgnoredPayloadNeitherEmitsNorResets) {
    Send(Fragment(0, 1, 50, 0, 0, {}), true);
    Send(Fragment(0, 1, 50, 40, 30, Scan(300, 0x11)), false);
    Send(Bytes{0x71, 0x01, 0xFF, 0xD9}, true);
    EXPECT_EQ(client.sink.FrameCount(), 0u);
    Send(Fragment(300, 1, 50, 40, 30, Cat(Scan(198, 0x22), kEoi)), true);
    ASSERT_EQ(client.sink.FrameCount(), 1u);
    EXPECT_EQ(Frames()[0].data, ExpectedPicture(1, 50, 320, 240));
}

TEST_F(JpegParser, LossDropsThePictureUntilTheNextMarker) {
    Send(Fragment(0, 1, 50, 0, 0, {}), true);
    Send(Fragment(0, 1, 50, 40, 30, Scan(300, 0x11)), false);
    ++sequence;
    Send(Fragment(400, 1, 50, 40, 30, Cat(Scan(198, 0x22), kEoi)), true);
    EXPECT_EQ(client.sink.FrameCount(), 0u);
    SendPicture();
    client.sink.SetAccept(false);  // a refused picture does not stop collection
    SendPicture();
    SendPicture();
    EXPECT_EQ(client.sink.FrameCount(), 3u);
}

TEST_F(JpegParser, OverflowStopsCollection) {
    Send(Fragment(0, 1, 50, 0, 0, {}), true);
    for (uint32_t sent = 0; sent <= norvane::CRTPMediaParser::FRAME_BUFFER_LIMIT; sent += 60000)
        Send(Fragment(sent, 1, 50, 40, 30, Scan(60000, 0x11)), false);
    EXPECT_EQ(driver.log.CountContaining("Frame buffer overflow detected, device 127.0.0.1:80"), 1u);
    Send(Fragment(1, 1, 50, 40, 30, Cat(Scan(10, 0x22), kEoi)), true);
    EXPECT_EQ(client.sink.FrameCount(), 0u);
    SendPicture();
    EXPECT_EQ(client.sink.FrameCount(), 1u);
}

TEST_F(JpegParser, NoClientOrAllocatorEmitsNothing) {
    Send(Fragment(0, 1, 50, 0, 0, {}), true);
    parser.SetClient(nullptr);
    SendPicture();
    EXPECT_EQ(parser.GetWidth(), 0u);  // reset
    parser.SetClient(&client);
    driver.allocator = nullptr;
    SendPicture();
    driver.allocator = &driver.frames;
    driver.frames.SetExhausted(true);
    SendPicture();
    EXPECT_EQ(client.sink.FrameCount(), 0u);
    EXPECT_EQ(driver.lastSize, (std::pair<int, int>{0, 0}));
    driver.frames.SetExhausted(false);
    SendPicture();
    EXPECT_EQ(client.sink.FrameCount(), 1u);
}

// A picture's first fragment (offset 0) starts collection without a marker before it, so the
// first picture of a session, and the one after a lost marker packet, are kept.
TEST_F(JpegParser, FirstFragmentStartsCollectionWithoutAMarkerBeforeIt) {
    SendPicture();
    ASSERT_EQ(client.sink.FrameCount(), 1u);
    EXPECT_EQ(Frames()[0].data, ExpectedPicture(1, 50, 320, 240));
    Send(Fragment(0, 1, 50, 40, 30, Scan(300, 0x11)), false);
    ++sequence;  // the marker packet of that picture is lost
    SendPicture();
    ASSERT_EQ(client.sink.FrameCount(), 2u);
    EXPECT_EQ(Frames()[1].data, ExpectedPicture(1, 50, 320, 240));
}

// Quantisation tables may hold 255 followed by 217; only the scan data can end the picture.
TEST_F(JpegParser, TableBytesThatReadAsEoiDoNotEndThePicture) {
    SendPicture(1, 6);  // the luminance table of Q 6 holds 255, 217
    Bytes tables = TableHeader(132, 0x10);
    tables[4 + 20] = 0xFF, tables[4 + 21] = 0xD9;
    tables[4 + 64 + 5] = 0xFF, tables[4 + 64 + 6] = 0xD9;
    Send(Fragment(0, 1, 255, 40, 30, Cat(tables, Scan(100, 0x11))), false);
    Send(Fragment(100, 1, 255, 40, 30, Cat(Scan(10, 0x22), kEoi)), true);
    const auto frames = Frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].data, ExpectedPicture(1, 6, 320, 240));
    ASSERT_EQ(frames[1].data.size(), norvane::JPEG_HEADER_SIZE + 112);
    EXPECT_EQ(frames[1].data[kLumaDqt + 20], 0xFF);
    EXPECT_EQ(frames[1].width, 320u);
}

// The owner may set or clear the client while the queue thread emits (the thread sanitizer
// build checks the hand-over).
TEST_F(JpegParser, ClientMayChangeWhilePicturesAreEmitted) {
    std::thread owner = test::FlipClient(parser, &client);
    for (int i = 0; i < 1000; ++i)
        SendPicture();
    owner.join();
    SendPicture();
    const auto frames = Frames();
    ASSERT_GE(frames.size(), 1u);
    for (const auto& frame : frames)
        EXPECT_EQ(frame.data, ExpectedPicture(1, 50, 320, 240));
    EXPECT_EQ(driver.frames.Allocated(), driver.frames.Released());
}

// Huffman tables by class/id, from every DHT segment before the scan.
std::map<uint8_t, Bytes> HuffmanTables(const Bytes& jpeg) {
    std::map<uint8_t, Bytes> tables;
    for (size_t pos = 2; pos + 4 <= jpeg.size() && jpeg[pos + 1] != 0xDA;) {
        const size_t end = pos + 2 + (size_t{jpeg[pos + 2]} << 8 | jpeg[pos + 3]);
        for (size_t t = pos + 4; jpeg[pos + 1] == 0xC4 && t + 17 <= end;) {
            size_t values = 0;
            for (size_t i = 1; i <= 16; ++i)
                values += jpeg[t + i];
            tables[jpeg[t]] = Bytes(jpeg.begin() + static_cast<ptrdiff_t>(t + 1),
                                    jpeg.begin() + static_cast<ptrdiff_t>(t + 17 + values));
            t += 17 + values;
        }
        pos = end;
    }
    return tables;
}

// The rebuilt Huffman tables equal those ffmpeg writes with its standard tables.
TEST(JpegHeader, HuffmanTablesMatchAStandardEncoder) {
    ASSERT_FALSE(test::MediaDir().empty());
    const auto files = camsim::ReadJpegFolder(test::MediaPath("jpeg420"));
    ASSERT_FALSE(files.empty());
    const Bytes& file = files[0];
    norvane::QuantTable luma{}, chroma{};
    Bytes header;
    norvane::AppendJpegHeader(header, 1, 320, 240, luma.data(), chroma.data());
    ASSERT_EQ(header.size(), norvane::JPEG_HEADER_SIZE);
    const auto rebuilt = HuffmanTables(header);
    EXPECT_EQ(rebuilt.size(), 4u);
    EXPECT_EQ(rebuilt, HuffmanTables(file));
}

// A table Length the first packet cannot hold, one that is no whole number of tables, or 16-bit
// tables drop the picture.
TEST_F(JpegParser, InBandTablesThatCannotBeUsedDropThePicture) {
    Send(Fragment(0, 1, 255, 40, 30, Tables(128, 100)), false);  // tables go on in the next packet
    Send(Fragment(0, 1, 255, 40, 30, Cat(Scan(28, 0x05), Cat(Scan(100, 0x11), kEoi))), true);
    Send(Fragment(0, 1, 255, 40, 30, Cat(Tables(128, 128, 1, 1), Cat(Scan(10, 0x11), kEoi))),
         true);  // 16-bit luminance table
    Send(Fragment(0, 1, 255, 40, 30, Cat(Tables(100, 100), Cat(Scan(10, 0x11), kEoi))), true);
    EXPECT_EQ(client.sink.FrameCount(), 0u);
    SendPicture();
    EXPECT_EQ(client.sink.FrameCount(), 1u);
}

// Q 128-254 may send its tables once and Length 0 afterwards: the last tables of each Q serve.
// A picture whose tables never came is dropped, and Q 255 sends its tables with every picture.
TEST_F(JpegParser, TablesOfADynamicQAreKeptForLaterPictures) {
    const Bytes end = Cat(Scan(10, 0x22), kEoi);
    Send(Fragment(0, 1, 200, 40, 30, Cat(Tables(0, 0), end)), true);
    EXPECT_EQ(client.sink.FrameCount(), 0u);
    Send(Fragment(0, 1, 200, 40, 30, Cat(Tables(128, 128, 1), end)), true);
    Send(Fragment(0, 1, 201, 40, 30, Cat(Tables(64, 64, 100), end)), true);
    Send(Fragment(0, 1, 200, 40, 30, Cat(Tables(0, 0), Scan(50, 0x11))), false);
    Send(Fragment(50, 1, 200, 40, 30, end), true);
    Send(Fragment(0, 1, 201, 40, 30, Cat(Tables(0, 0), end)), true);
    Send(Fragment(0, 1, 255, 40, 30, Cat(Tables(128, 128, 7), end)), true);
    Send(Fragment(0, 1, 255, 40, 30, Cat(Tables(0, 0), end)), true);
    const auto frames = Frames();
    ASSERT_EQ(frames.size(), 5u);
    const auto tables = [](const Bytes& p) { return Bytes(p.begin(), p.begin() + kSof); };
    EXPECT_EQ(tables(frames[2].data), tables(frames[0].data));
    EXPECT_EQ(tables(frames[3].data), tables(frames[1].data));
    EXPECT_NE(tables(frames[0].data), tables(frames[1].data));
    EXPECT_EQ(frames[1].data[kChromaDqt], 100);
    EXPECT_EQ(frames[2].data, Cat(Bytes(frames[0].data.begin(), frames[0].data.end() - 12),
                                  Cat(Scan(50, 0x11), end)));
}

// Types 64-127 carry a restart header in every packet; its interval becomes a DRI segment.
TEST_F(JpegParser, RestartHeaderGivesTheRestartInterval) {
    Send(Fragment(0, 65, 50, 40, 30, Cat(Restart(3), Scan(300, 0x11))), false);
    Send(Fragment(300, 65, 50, 40, 30, Cat(Restart(3), Cat(Scan(198, 0x22), kEoi))), true);
    Send(Fragment(0, 64, 255, 40, 30, Cat(Restart(0), Cat(Tables(128, 128), Scan(10, 0x33)))),
         true);
    const auto frames = Frames();
    ASSERT_EQ(frames.size(), 2u);
    const size_t sos = norvane::JPEG_HEADER_SIZE - 14;
    const Bytes& p = frames[0].data;
    ASSERT_EQ(p.size(), norvane::JPEG_HEADER_SIZE + 6 + 500);
    EXPECT_EQ(Bytes(p.begin() + sos, p.begin() + sos + 8),
              (Bytes{0xFF, 0xDD, 0, 4, 0, 3, 0xFF, 0xDA}));
    EXPECT_EQ(p[kSof + 11], 0x22);
    EXPECT_EQ(Bytes(p.end() - 500, p.end()), Cat(Cat(Scan(300, 0x11), Scan(198, 0x22)), kEoi));
    const Bytes& q = frames[1].data;  // interval 0: no DRI
    ASSERT_EQ(q.size(), norvane::JPEG_HEADER_SIZE + 12);
    EXPECT_EQ(q[sos + 1], 0xDA);
    EXPECT_EQ(q[kSof + 11], 0x21);
    EXPECT_EQ(q[kChromaDqt], 65);
}

// A repeated, missing or overlapping fragment (sequence numbers unbroken) drops the picture.
TEST_F(JpegParser, FragmentsThatDoNotFollowOnDropThePicture) {
    const Bytes first = Fragment(0, 1, 50, 40, 30, Scan(300, 0x11));
    const Bytes middle = Fragment(300, 1, 50, 40, 30, Scan(150, 0x33));
    const Bytes last = Fragment(450, 1, 50, 40, 30, Cat(Scan(48, 0x22), kEoi));
    for (const std::vector<Bytes>& fragments :
         {std::vector<Bytes>{first, middle, middle, last}, std::vector<Bytes>{first, last},
          std::vector<Bytes>{first, middle, Fragment(400, 1, 50, 40, 30, Scan(50, 0x33)), last}}) {
        for (size_t i = 0; i < fragments.size(); ++i)
            Send(fragments[i], i + 1 == fragments.size());
    }
    EXPECT_EQ(client.sink.FrameCount(), 0u);
    Send(first, false);
    Send(middle, false);
    Send(last, true);
    ASSERT_EQ(client.sink.FrameCount(), 1u);
    EXPECT_EQ(Frames()[0].data.size(), norvane::JPEG_HEADER_SIZE + 500);
}
