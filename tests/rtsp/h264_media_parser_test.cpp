#include "rtsp/h264_media_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "rtsp/h264_sps.h"
#include "support/fake_driver.h"
#include "support/media.h"

using norvane::CH264RTPMediaParser;
using test::Bytes;

namespace {

// MSB-first writer of SPS fields.
class BitWriter {
public:
    void Bits(uint64_t value, unsigned count) {
        for (unsigned i = count; i-- > 0;)
            Bit((value >> i) & 1);
    }
    void Ue(uint32_t value) {
        const uint64_t v = uint64_t{value} + 1;
        unsigned length = 0;
        while ((v >> length) > 1)
            ++length;
        Bits(0, length);
        Bits(v, length + 1);
    }
    void Se(int32_t value) {
        Ue(static_cast<uint32_t>(value > 0 ? 2 * int64_t{value} - 1 : -2 * int64_t{value}));
    }
    // rbsp_trailing_bits
    Bytes Finish() {
        Bit(1);
        while (bit_ != 0)
            Bit(0);
        return bytes_;
    }

private:
    void Bit(unsigned b) {
        if (bit_ == 0)
            bytes_.push_back(0);
        bytes_.back() |= static_cast<uint8_t>(b << (7 - bit_));
        bit_ = (bit_ + 1) % 8;
    }
    Bytes bytes_;
    unsigned bit_ = 0;
};

struct SpsFields {
    unsigned profile = 66;
    unsigned widthMbs = 20, heightMaps = 15;
    bool frameMbsOnly = true;
    unsigned cropLeft = 0, cropRight = 0, cropTop = 0, cropBottom = 0;
    unsigned pocType = 2;
    bool scalingLists = false;
    int32_t firstScaleDelta = 3;
};

// SPS NAL unit, header byte 0x67 included.
Bytes MakeSps(const SpsFields& f) {
    BitWriter w;
    w.Bits(0x67, 8);
    w.Bits(f.profile, 8);
    w.Bits(0, 8);
    w.Bits(40, 8);
    w.Ue(0);
    if (f.profile > 99) {
        w.Ue(1);  // 4:2:0
        w.Ue(0);
        w.Ue(0);
        w.Bits(0, 1);
        w.Bits(f.scalingLists, 1);
        for (unsigned i = 0; f.scalingLists && i < 8; ++i) {
            w.Bits(1, 1);
            w.Se(f.firstScaleDelta);  // a few deltas, then one that makes the next scale 0
            w.Se(-5);
            w.Se(-6);
        }
    }
    w.Ue(0);
    w.Ue(f.pocType);
    if (f.pocType == 0) {
        w.Ue(2);
    } else if (f.pocType == 1) {
        w.Bits(0, 1);
        w.Se(-2);
        w.Se(3);
        w.Ue(3);
        w.Se(1), w.Se(-1), w.Se(7);
    }
    w.Ue(1);
    w.Bits(0, 1);
    w.Ue(f.widthMbs - 1);
    w.Ue(f.heightMaps - 1);
    w.Bits(f.frameMbsOnly, 1);
    if (!f.frameMbsOnly)
        w.Bits(0, 1);
    w.Bits(1, 1);
    const bool crop = f.cropLeft || f.cropRight || f.cropTop || f.cropBottom;
    w.Bits(crop, 1);
    if (crop) {
        w.Ue(f.cropLeft), w.Ue(f.cropRight), w.Ue(f.cropTop), w.Ue(f.cropBottom);
    }
    w.Bits(0, 1);  // no VUI
    return w.Finish();
}

const Bytes kPps = {0x68, 0xCE, 0x38, 0x80};
const Bytes kTrailer = {0, 0, 1, 9, 0x30};
const Bytes kStart = {0, 0, 1};

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// A slice NAL unit; the first slice of its picture unless `firstMb` is false.
Bytes Slice(uint8_t header, size_t size, uint8_t fill, bool firstMb = true) {
    Bytes nal(size, fill);
    nal[0] = header;
    nal[1] = firstMb ? 0x88 : 0x48;
    return nal;
}

class H264Parser : public ::testing::Test {
protected:
    H264Parser() : parser(&driver, "Tavrin") { parser.SetClient(&client); }

    void Send(const Bytes& payload, bool marker, uint32_t timestamp = 9000) {
        parser.ProcessPacket(test::ToPacket(test::MakeDatagram(sequence++, timestamp, marker, payload)));
    }
    // FU-A fragments of `nal` (header byte first), `chunk` bytes each.
    void SendFuA(const Bytes& nal, bool marker, uint32_t timestamp = 9000, size_t chunk = 500) {
        for (size_t pos = 1; pos < nal.size(); pos += chunk) {
            const size_t n = std::min(chunk, nal.size() - pos);
            const bool end = pos + n == nal.size();
            Bytes payload(n + 2);
            payload[0] = static_cast<uint8_t>((nal[0] & 0xE0) | 28);
            payload[1] = static_cast<uint8_t>((pos == 1 ? 0x80 : 0) | (end ? 0x40 : 0) |
                                              (nal[0] & 0x1F));
            std::copy_n(nal.begin() + static_cast<ptrdiff_t>(pos), n, payload.begin() + 2);
            Send(payload, marker && end, timestamp);
        }
    }
    // A key frame with in-band SPS and PPS in single packets without marker.
    void SendKeyFrame(uint32_t timestamp = 9000) {
        Send(MakeSps({}), false, timestamp);
        Send(kPps, false, timestamp);
        SendFuA(Slice(0x65, 1200, 0x11), true, timestamp);
    }
    std::vector<host::DeliveredFrame> Frames() { return client.sink.Frames(); }

    test::FakeDriver driver;
    test::RecordingClient client;
    CH264RTPMediaParser parser;
    uint16_t sequence = 100;
};

}  // namespace

TEST_F(H264Parser, IdrFuAWithoutInBandSetsGetsStoredSetsAndTrailer) {
    const Bytes sps = MakeSps({});
    parser.SetParameterSets(sps, kPps, {});
    EXPECT_EQ(parser.GetWidth(), 320u);
    const Bytes idr = Slice(0x65, 1800, 0x22);
    SendFuA(idr, true);
    ASSERT_EQ(client.sink.FrameCount(), 1u);
    const host::DeliveredFrame f = Frames()[0];
    EXPECT_EQ(f.data, Cat({kStart, sps, kStart, kPps, kStart, idr, kTrailer}));
    EXPECT_EQ(f.fourcc, norvane::FOURCC_H264);
    EXPECT_EQ(f.width, 320u);
    EXPECT_EQ(f.height, 240u);
    EXPECT_EQ(f.sizeClass, 2u);
    EXPECT_EQ(f.source, "Tavrin");
    EXPECT_TRUE(f.timeSet);
    EXPECT_EQ(client.calls[0], (std::vector<std::string>{"SetWidth", "SetHeight", "SetSizeClass",
                                                          "SetDataSize", "SetFourCC", "SetTime"}));
    EXPECT_EQ(driver.frames.Allocated(), driver.frames.Released());
    EXPECT_FALSE(parser.IsWaitingForKeyFrame());
}

// After a loss inside a multi-slice IDR picture the rest must not pass as a key frame.
// Centring on the picture needs its size: a key frame records it on the driver, as Motion-JPEG
// pictures do.
TEST_F(H264Parser, KeyFrameRecordsThePictureSizeOnTheDriver) {
    driver.SetLastFrameSize(0, 0);
    parser.SetParameterSets(MakeSps({}), kPps, {});
    Send(Slice(0x41, 300, 0x22), true, 1000);  // no key frame yet: dropped, nothing recorded
    EXPECT_EQ(driver.GetLastFrameSize(), (std::pair<int, int>{0, 0}));
    SendFuA(Slice(0x65, 900, 0x22), true, 4000);
    ASSERT_EQ(client.sink.FrameCount(), 1u);
    EXPECT_EQ(driver.GetLastFrameSize(), (std::pair<int, int>{320, 240}));
}

TEST_F(H264Parser, LaterIdrSliceGetsNoStoredSets) {
    parser.SetParameterSets(MakeSps({}), kPps, {});
    SendFuA(Slice(0x65, 900, 0x22, false), true, 1000);
    Send(Slice(0x65, 300, 0x22, false), true, 4000);
    EXPECT_EQ(client.sink.FrameCount(), 0u);
    Send(Slice(0x65, 300, 0x22), false, 7000);
    SendFuA(Slice(0x65, 900, 0x22, false), true, 7000);
    ASSERT_EQ(client.sink.FrameCount(), 1u);
    EXPECT_EQ(Frames()[0].data,
              Cat({kStart, MakeSps({}), kStart, kPps, kStart, Slice(0x65, 300, 0x22), kStart,
                   Slice(0x65, 900, 0x22, false), kTrailer}));
}

// A session whose DESCRIBE carries no sets (after a format change, say) must not get the last
// session's sets inserted before its key frames: they describe another picture size.
TEST_F(H264Parser, ANewSessionDropsTheLastSessionsSets) {
    parser.StartSession(MakeSps({}), kPps, {});
    SendFuA(Slice(0x65, 900, 0x22), true, 1000);
    ASSERT_EQ(client.sink.FrameCount(), 1u);
    parser.StartSession({}, {}, {});
    SendFuA(Slice(0x65, 900, 0x22), true, 4000);
    EXPECT_EQ(client.sink.FrameCount(), 1u) << "no key frame without sets";
    EXPECT_TRUE(parser.IsWaitingForKeyFrame());
    Send(MakeSps({.widthMbs = 40, .heightMaps = 30}), false, 7000);
    Send(kPps, false, 7000);
    SendFuA(Slice(0x65, 900, 0x22), true, 7000);
    ASSERT_EQ(client.sink.FrameCount(), 2u);
    EXPECT_EQ(Frames()[1].width, 640u) << "the in-band sets of the new session";
}

TEST_F(H264Parser, SetParameterSetsKeepsOnlyAParsingSps) {
    parser.SetParameterSets({}, kPps, {});
    parser.SetParameterSets({0x67, 0x42}, kPps, {});  // truncated
    // Sets that would not stand as such units in the frame: a parsing SPS under another NAL
    // type, a PPS of another type or one holding a start code.
    Bytes otherType = MakeSps({});
    otherType[0] = 0x7F;
    parser.SetParameterSets(otherType, kPps, {});
    parser.SetParameterSets(MakeSps({}), {0x67, 0xCE, 0x3C, 0x80}, {});
    parser.SetParameterSets(MakeSps({}), {0x68, 0x00, 0x00, 0x01, 0x80}, {});
    SendFuA(Slice(0x65, 900, 0x22), true);
    EXPECT_EQ(client.sink.FrameCount(), 0u);  // no SPS inserted, still waiting
    EXPECT_EQ(parser.GetWidth(), 0u);
}

TEST_F(H264Parser, MarkedSmallParameterSetPacketsDoNotEndTheFrame) {
    const Bytes sps = MakeSps({});
    ASSERT_LE(sps.size(), 64u);
    const Bytes idr = Slice(0x65, 300, 0x33);
    Send(sps, true);
    Send(kPps, true);
    Send(idr, true);
    ASSERT_EQ(client.sink.FrameCount(), 1u);
    EXPECT_EQ(Frames()[0].data, Cat({kStart, sps, kStart, kPps, kStart, idr, kTrailer}));

    // A marker ends a frame only once it holds a slice: a longer parameter set or an SEI with
    // the marker goes with the next slice, so no frame without a picture is handed on.
    Bytes longSps = sps;
    longSps.resize(65, 0);
    const Bytes sei = Slice(0x06, 100, 0x05);
    Send(longSps, true);
    Send(sei, true);
    EXPECT_EQ(client.sink.FrameCount(), 1u);
    Send(idr, true);
    ASSERT_EQ(client.sink.FrameCount(), 2u);
    EXPECT_EQ(Frames()[1].data, Cat({kStart, longSps, kStart, sei, kStart, idr, kTrailer}));
}

TEST_F(H264Parser, AggregatesAndIgnoredUnits) {
    const Bytes sps = MakeSps({});
    const Bytes idr = Slice(0x65, 40, 0x44);
    Bytes stap = {0x78};
    for (const Bytes* unit : {&sps, &kPps, &idr}) {
        stap.push_back(static_cast<uint8_t>(unit->size() >> 8));
        stap.push_back(static_cast<uint8_t>(unit->size()));
        stap.insert(stap.end(), unit->begin(), unit->end());
    }
    Send(Bytes{0x11, 0xAA, 0xBB}, false);  // type 17: ignored
    Send(stap, true);
    ASSERT_EQ(client.sink.FrameCount(), 1u);
    EXPECT_EQ(Frames()[0].data, Cat({kStart, sps, kStart, kPps, kStart, idr, kTrailer}));

    // An IDR slice inside STAP-A gets no stored sets, so nothing can be emitted while waiting.
    parser.Reset();
    parser.SetParameterSets(sps, kPps, {});
    Send(Bytes{0x78, 0x00, 0x28}, false);  // size 40 claimed, nothing follows: malformed
    Bytes idrOnly = {0x78, 0x00, static_cast<uint8_t>(idr.size())};
    idrOnly.insert(idrOnly.end(), idr.begin(), idr.end());
    Send(idrOnly, true);
    EXPECT_EQ(client.sink.FrameCount(), 1u);
}

TEST_F(H264Parser, FrameEndsOnlyAtTheMarkerAndIsStampedFromTheConverter) {
    SendKeyFrame(1000);
    Send(Slice(0x41, 200, 0x55), false, 4000);
    Send(Slice(0x41, 200, 0x66), true, 7000);  // a timestamp change alone does not end it
    ASSERT_EQ(client.sink.FrameCount(), 2u);
    const auto frames = Frames();
    EXPECT_EQ(frames[1].data,
              Cat({kStart, Slice(0x41, 200, 0x55), kStart, Slice(0x41, 200, 0x66), kTrailer}));
    EXPECT_EQ(frames[1].fourcc, norvane::FOURCC_I264);
    EXPECT_EQ(frames[1].width, 320u);  // kept from the last SPS
    EXPECT_GT(frames[1].time.wYear, 2000);
}

TEST_F(H264Parser, MultiSliceNonIdrPictureKeepsEverySlice) {
    SendKeyFrame(1000);
    const Bytes s1 = Slice(0x41, 1300, 0x01), s2 = Slice(0x41, 1300, 0x02);
    const Bytes s3 = Slice(0x41, 40, 0x03), s4 = Slice(0x41, 1300, 0x04);
    SendFuA(s1, false, 4000);
    SendFuA(s2, false, 4000);
    Send(s3, false, 4000);
    SendFuA(s4, true, 4000);
    ASSERT_EQ(client.sink.FrameCount(), 2u);
    EXPECT_EQ(Frames()[1].data, Cat({kStart, s1, kStart, s2, kStart, s3, kStart, s4, kTrailer}));
}

TEST_F(H264Parser, NonIdrFuAStartDropsWhatIsNotASliceOfItsPicture) {
    SendKeyFrame(1000);
    const Bytes sei = Slice(0x06, 30, 0x07), p = Slice(0x41, 900, 0x08);
    Send(Slice(0x41, 100, 0x09), false, 2000);  // slice of another picture, marker lost
    SendFuA(p, true, 4000);
    Send(sei, false, 7000);                     // no slice in the buffer
    SendFuA(p, true, 7000);
    const auto frames = Frames();
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[1].data, Cat({kStart, p, kTrailer}));
    EXPECT_EQ(frames[2].data, Cat({kStart, p, kTrailer}));
}

TEST_F(H264Parser, SequenceGapDropsFramesUntilTheNextSps) {
    SendKeyFrame(1000);
    Send(Slice(0x41, 100, 0x01), true, 4000);
    sequence += 1;  // one packet lost
    Send(Slice(0x41, 100, 0x02), true, 7000);
    Send(Slice(0x41, 100, 0x03), true, 10000);
    EXPECT_TRUE(parser.IsWaitingForKeyFrame());
    EXPECT_EQ(parser.GetWidth(), 0u);
    SendKeyFrame(13000);
    Send(Slice(0x41, 100, 0x04), true, 16000);
    const auto frames = Frames();
    ASSERT_EQ(frames.size(), 4u);
    EXPECT_EQ(frames[2].fourcc, norvane::FOURCC_H264);
    EXPECT_EQ(frames[3].data, Cat({kStart, Slice(0x41, 100, 0x04), kTrailer}));

    // 16-bit wrap-around inside a frame continues the stream.
    sequence = 0xFFFE;
    SendKeyFrame(19000);
    Send(Slice(0x41, 100, 0x06), true, 22000);
    EXPECT_EQ(client.sink.FrameCount(), 6u);
    sequence += 2;
    Send(Slice(0x41, 100, 0x07), true, 25000);
    EXPECT_EQ(client.sink.FrameCount(), 6u);
}

TEST_F(H264Parser, UnhandledOrMalformedPayloadsDropTheFrame) {
    const std::vector<Bytes> bad = {
        {},                              // empty
        {0x41, 0x01},                    // single unit shorter than 3
        {0x78, 0x00, 0x05},              // STAP-A shorter than 4
        {0x78, 0x00, 0x09, 0x41, 0x01},  // STAP-A unit longer than the payload
        {0x7C, 0x81},                    // FU-A shorter than 3
        {0x79, 1, 2, 3},
        {0x7A, 1, 2, 3},
        {0x7B, 1, 2, 3},
        {0x7D, 1, 2, 3},  // 25-27, 29
        {0x60, 1, 2, 3},
        {0x7E, 1, 2, 3},
        {0x7F, 1, 2, 3},  // 0, 30, 31
        // Units an Annex B reader would not see as sent: an empty or aggregated unit of type 0
        // or 24-31, a fragmented one of such a type, a start code inside a unit.
        {0x78, 0x00, 0x00, 0x00, 0x03, 0x41, 0x01, 0x02},
        {0x78, 0x00, 0x03, 0x60, 0x01, 0x02},
        {0x78, 0x00, 0x03, 0x78, 0x01, 0x02},
        {0x7C, 0x80, 0x01},
        {0x7C, 0x98, 0x01},
        {0x7C, 0x9F, 0x01},
        {0x41, 0x9A, 0x00, 0x00, 0x01, 0x65},
        {0x78, 0x00, 0x04, 0x41, 0x00, 0x00, 0x01},
    };
    for (const Bytes& payload : bad) {
        SendKeyFrame();
        Send(Slice(0x41, 100, 0x01), false, 12000);
        if (payload.empty()) {
            // Only padding: the last byte counts itself.
            test::Bytes datagram = test::MakeDatagram(sequence++, 12000, false, {0x01});
            datagram[0] |= 0x20;
            parser.ProcessPacket(test::ToPacket(datagram));
        } else {
            Send(payload, false, 12000);
        }
        EXPECT_TRUE(parser.IsWaitingForKeyFrame()) << payload.size();
        Send(Slice(0x41, 100, 0x02), true, 12000);
    }
    for (const auto& frame : Frames())
        EXPECT_EQ(frame.fourcc, norvane::FOURCC_H264);
    EXPECT_EQ(client.sink.FrameCount(), bad.size());
}

// FU-A fragments whose unit's start fragment was not seen (sequence unbroken) drop the frame, and
// the depacketiser waits for the next key frame as after a loss.
TEST_F(H264Parser, FuAFragmentsWithoutTheirStartAreDropped) {
    SendKeyFrame(1000);
    Send({0x7C, 0x41, 1, 2, 3}, true, 4000);  // end fragment alone, marker set
    EXPECT_EQ(client.sink.FrameCount(), 1u);
    EXPECT_TRUE(parser.IsWaitingForKeyFrame());
    SendKeyFrame(7000);
    Send(Slice(0x41, 100, 0x01), false, 10000);
    Send({0x7C, 0x01, 1, 2, 3}, false, 10000);  // middle fragment after a whole unit
    Send({0x7C, 0x41, 4, 5, 6}, true, 10000);
    EXPECT_EQ(client.sink.FrameCount(), 2u);
    EXPECT_TRUE(parser.IsWaitingForKeyFrame());
    SendKeyFrame(13000);
    SendFuA(Slice(0x41, 1200, 0x01), true, 16000);
    EXPECT_EQ(client.sink.FrameCount(), 4u);
}

// A start code that only the joined fragments of a unit form would split it as well.
TEST_F(H264Parser, AStartCodeAcrossFuAFragmentsDropsTheFrame) {
    SendKeyFrame(1000);
    Send({0x7C, 0x81, 0x9A, 0x00, 0x00}, false, 4000);
    Send({0x7C, 0x41, 0x01, 0x65}, true, 4000);
    EXPECT_EQ(client.sink.FrameCount(), 1u);
    EXPECT_TRUE(parser.IsWaitingForKeyFrame());
}

TEST_F(H264Parser, OverflowLogsAndDropsTheFrame) {
    driver.info.address = "10.1.2.3";
    driver.info.port = 8080;
    SendKeyFrame();
    const Bytes big = Slice(0x41, norvane::CRTPMediaParser::FRAME_BUFFER_LIMIT - 1, 0x01);
    SendFuA(big, false, 12000, 60000);
    const auto records = driver.log.Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].level, 1);
    EXPECT_EQ(records[0].text,
              "norvane::CRTPMediaParser::CheckBufferSize: Frame buffer overflow detected, device "
              "10.1.2.3:8080");
    Send(Slice(0x41, 100, 0x02), true, 12000);
    EXPECT_EQ(client.sink.FrameCount(), 1u);
    EXPECT_TRUE(parser.IsWaitingForKeyFrame());
}

TEST_F(H264Parser, RefusedFrameWaitsForTheNextKeyFrame) {
    client.sink.SetAccept(false);
    SendKeyFrame(1000);
    client.sink.SetAccept(true);
    Send(Slice(0x41, 100, 0x01), true, 4000);
    SendKeyFrame(7000);
    const auto frames = Frames();
    ASSERT_EQ(frames.size(), 2u);  // the refused one was delivered, the P frame was not
    EXPECT_EQ(frames[1].fourcc, norvane::FOURCC_H264);
    EXPECT_EQ(driver.frames.Allocated(), driver.frames.Released());
}

// A key frame the host had no frame for is a loss too.
TEST_F(H264Parser, NothingIsEmittedWithoutAllocatorFrameOrClient) {
    driver.frames.SetExhausted(true);
    SendKeyFrame(1000);
    driver.frames.SetExhausted(false);
    driver.allocator = nullptr;
    SendKeyFrame(4000);
    driver.allocator = &driver.frames;
    parser.SetClient(nullptr);
    SendKeyFrame(7000);
    EXPECT_EQ(client.sink.FrameCount(), 0u);
    parser.SetClient(&client);
    Send(Slice(0x41, 100, 0x01), true, 10000);  // the buffer did not keep the earlier frames
    SendKeyFrame(13000);
    ASSERT_EQ(client.sink.FrameCount(), 1u);
    EXPECT_EQ(Frames()[0].data.size(),
              Cat({kStart, MakeSps({}), kStart, kPps, kStart, Slice(0x65, 1200, 0)}).size() + 5);
}

// The host having no frame for a picture is a loss: the pictures after it would lack their
// reference, so the depacketiser waits for the next key frame instead of skipping one picture.
TEST_F(H264Parser, NoFrameFromTheHostWaitsForTheNextKeyFrame) {
    SendKeyFrame(1000);
    driver.frames.SetExhausted(true);
    Send(Slice(0x41, 100, 0x01), true, 4000);
    driver.frames.SetExhausted(false);
    Send(Slice(0x41, 100, 0x02), true, 7000);
    EXPECT_TRUE(parser.IsWaitingForKeyFrame());
    SendKeyFrame(10000);
    Send(Slice(0x41, 100, 0x03), true, 13000);
    const auto frames = Frames();
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[1].fourcc, norvane::FOURCC_H264);
    EXPECT_EQ(frames[2].data, Cat({kStart, Slice(0x41, 100, 0x03), kTrailer}));
}

// Encoders that send an SEI before the parameter sets (x264, many cameras) start with a key
// frame; the SPS counts wherever it is before the frame's first slice.
TEST_F(H264Parser, SpsAfterAnSeiMakesAKeyFrame) {
    const Bytes sei = Slice(0x06, 600, 0x05), sps = MakeSps({}), idr = Slice(0x65, 1200, 0x11);
    Send(sei, false);
    Send(sps, false);
    Send(kPps, false);
    SendFuA(idr, true);
    ASSERT_EQ(client.sink.FrameCount(), 1u);
    EXPECT_EQ(Frames()[0].data, Cat({kStart, sei, kStart, sps, kStart, kPps, kStart, idr, kTrailer}));
    EXPECT_EQ(Frames()[0].fourcc, norvane::FOURCC_H264);
    EXPECT_EQ(Frames()[0].width, 320u);

    // An SPS after the first slice does not make the frame a key frame.
    parser.Reset();
    Send(Slice(0x41, 100, 0x01), false, 4000);
    Send(sps, false, 4000);
    Send(Slice(0x41, 100, 0x02, false), true, 4000);
    EXPECT_EQ(client.sink.FrameCount(), 1u);
    EXPECT_TRUE(parser.IsWaitingForKeyFrame());
}

// With the sets only out of band, an IDR frame that begins with an SEI gets them after the SEI,
// before its first slice, and only there.
TEST_F(H264Parser, StoredSetsGoBeforeTheFirstSliceOfAnIdrFrameWithoutThem) {
    const Bytes sei = Slice(0x06, 600, 0x05), sps = MakeSps({});
    const Bytes idr1 = Slice(0x65, 300, 0x11), idr2 = Slice(0x65, 900, 0x12, false);
    const Bytes idr3 = Slice(0x65, 900, 0x13);
    parser.SetParameterSets(sps, kPps, {});
    Send(sei, false, 1000);
    Send(idr1, false, 1000);
    SendFuA(idr2, true, 1000);
    // A frame that carries its own SPS gets no stored sets.
    const Bytes ownSps = MakeSps({.widthMbs = 40, .heightMaps = 30});
    Send(sei, false, 4000);
    Send(ownSps, false, 4000);
    Send(kPps, false, 4000);
    SendFuA(idr3, true, 4000);
    const auto frames = Frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].data, Cat({kStart, sei, kStart, sps, kStart, kPps, kStart, idr1, kStart,
                                   idr2, kTrailer}));
    EXPECT_EQ(frames[1].data,
              Cat({kStart, sei, kStart, ownSps, kStart, kPps, kStart, idr3, kTrailer}));
    EXPECT_EQ(frames[1].width, 640u);
}

// The owner may set or clear the client while the queue thread emits (the thread sanitizer
// build checks the hand-over).
TEST_F(H264Parser, ClientMayChangeWhileFramesAreEmitted) {
    std::thread owner = test::FlipClient(parser, &client);
    for (uint32_t i = 0; i < 1000; ++i)
        SendKeyFrame(1000 + 3000 * i);
    owner.join();
    SendKeyFrame(9000000);
    ASSERT_GE(client.sink.FrameCount(), 1u);
    for (const auto& frame : Frames())
        EXPECT_EQ(frame.fourcc, norvane::FOURCC_H264);
    EXPECT_EQ(driver.frames.Allocated(), driver.frames.Released());
}

TEST_F(H264Parser, FrameCapacityIsRoundedUpInSteps) {
    SendKeyFrame(1000);
    // Sizes 4096, 4097, 16385, 32769, 131073 including start code and trailer.
    for (size_t total : {4096u, 4097u, 16385u, 32769u, 131073u})
        SendFuA(Slice(0x41, total - 8, 0x01), true, static_cast<uint32_t>(total), 1400);
    const auto frames = Frames();
    ASSERT_EQ(client.capacities.size(), 6u);
    EXPECT_EQ(frames[1].data.size(), 4096u);
    EXPECT_EQ(std::vector<size_t>(client.capacities.begin() + 1, client.capacities.end()),
              (std::vector<size_t>{4096, 16384, 32768, 131072, 131073}));
}

TEST(H264Sps, SizesFromTheSequenceParameterSet) {
    struct Case {
        SpsFields fields;
        uint32_t width, height;
    };
    SpsFields cropped{.profile = 100, .widthMbs = 120, .heightMaps = 68, .cropBottom = 4};
    SpsFields interlaced{.profile = 77, .widthMbs = 45, .heightMaps = 18, .frameMbsOnly = false,
                         .pocType = 1};
    SpsFields scaled{.profile = 100, .widthMbs = 40, .heightMaps = 30, .cropLeft = 1,
                     .cropRight = 2, .cropTop = 3, .pocType = 0, .scalingLists = true};
    for (const Case& c : {Case{SpsFields{}, 320, 240}, Case{cropped, 1920, 1080},
                          Case{interlaced, 720, 576}, Case{scaled, 634, 474}}) {
        const Bytes sps = MakeSps(c.fields);
        uint32_t w = 0, h = 0;
        ASSERT_TRUE(norvane::ParseSequenceParameterSet(sps.data() + 1, sps.data() + sps.size(), w, h));
        EXPECT_EQ(w, c.width);
        EXPECT_EQ(h, c.height);
    }
}

TEST(H264Sps, HostileInputFailsTheParse) {
    uint32_t w = 7, h = 9;
    const Bytes sps = MakeSps({});
    for (size_t cut = 0; cut + 1 < sps.size(); ++cut)
        EXPECT_FALSE(norvane::ParseSequenceParameterSet(sps.data() + 1, sps.data() + cut, w, h));
    // A run of 40 zero bits where seq_parameter_set_id is read.
    Bytes zeros = {66, 0, 40, 0, 0, 0, 0, 0, 0x80, 0xFF, 0xFF, 0xFF};
    EXPECT_FALSE(norvane::ParseSequenceParameterSet(zeros.data(), zeros.data() + zeros.size(), w, h));
    // Cropping larger than the picture.
    const Bytes over = MakeSps({.widthMbs = 1, .heightMaps = 1, .cropLeft = 9});
    EXPECT_FALSE(norvane::ParseSequenceParameterSet(over.data() + 1, over.data() + over.size(), w, h));
    // Scaling deltas beyond their range of -128..127, up to the largest a code can hold.
    for (const int32_t delta : {128, -129, INT32_MAX}) {
        const Bytes wild = MakeSps({.profile = 100, .scalingLists = true, .firstScaleDelta = delta});
        EXPECT_FALSE(norvane::ParseSequenceParameterSet(wild.data() + 1, wild.data() + wild.size(), w, h));
    }
    EXPECT_EQ(w, 7u);
    EXPECT_EQ(h, 9u);

    // 31 leading zeros are the longest code; 32 fail.
    const Bytes longest = {0, 0, 0, 1, 0xFF, 0xFF, 0xFF, 0xFF};
    norvane::CBitReader valid(longest.data(), longest.data() + longest.size());
    EXPECT_EQ(valid.ReadUe(), 0xFFFFFFFEu);
    EXPECT_FALSE(valid.Failed());
    const Bytes tooLong = {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    norvane::CBitReader hostile(tooLong.data(), tooLong.data() + tooLong.size());
    EXPECT_EQ(hostile.ReadUe(), 0u);
    EXPECT_TRUE(hostile.Failed());
    // Bits past the end read as 1 (so a code ends), but passing the end fails.
    norvane::CBitReader empty(tooLong.data(), tooLong.data());
    EXPECT_EQ(empty.ReadUe(), 0u);
    EXPECT_TRUE(empty.Failed());
}
