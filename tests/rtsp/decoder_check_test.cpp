// Reference streams packetised, depacketised and decoded by ffmpeg, compared frame by frame with
// the source, with and without packet loss.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "camsim/annexb.h"
#include "camsim/media_files.h"
#include "camsim/h264_packetizer.h"
#include "camsim/jpeg_packetizer.h"
#include "rtsp/h264_media_parser.h"
#include "rtsp/jpeg_header.h"
#include "rtsp/jpeg_media_parser.h"
#include "support/fake_driver.h"
#include "support/media.h"

using camsim::AccessUnit;
using camsim::Packet;
using test::Bytes;

namespace {

const Bytes kTrailer = {0, 0, 1, 9, 0x30};

Bytes Concat(const std::vector<Bytes>& parts) {
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// Packets of a stream sent `passes` times in a row; `unitOf[i]` is the source unit (access unit
// or picture) of packet i.
struct Stream {
    std::vector<Packet> packets;
    std::vector<size_t> unitOf;
};

// Feeds every packet, or with `lossPercent` drops that share at random (fixed seed). `onLoss`
// runs after each dropped packet; `current` holds the source unit of the packet being fed.
void Feed(norvane::CRTPMediaParser& parser, const Stream& stream, unsigned lossPercent,
          size_t& current, const std::function<void()>& onLoss = {}) {
    uint32_t seed = 12345;
    for (size_t i = 0; i < stream.packets.size(); ++i) {
        seed = seed * 1103515245 + 12345;
        if (lossPercent && (seed >> 16) % 100 < lossPercent) {
            if (onLoss)
                onLoss();
            continue;
        }
        current = stream.unitOf[i];
        parser.ProcessPacket(test::ToPacket(stream.packets[i]));
    }
}

// True when `part` occurs in `whole` in order (not necessarily adjacent).
bool IsSubsequence(const std::vector<std::string>& part, const std::vector<std::string>& whole) {
    auto it = whole.begin();
    for (const std::string& item : part) {
        it = std::find(it, whole.end(), item);
        if (it == whole.end())
            return false;
        ++it;
    }
    return true;
}

std::vector<std::string> Repeat(const std::vector<std::string>& items, size_t times) {
    std::vector<std::string> out;
    for (size_t i = 0; i < times; ++i)
        out.insert(out.end(), items.begin(), items.end());
    return out;
}

// True when an SPS comes before the frame's first slice.
bool HasSps(const Bytes& frame) {
    for (const camsim::NalUnit& nal : camsim::SplitNalUnits(frame)) {
        const uint8_t type = nal.empty() ? 0 : nal[0] & 0x1F;
        if (type == 7)
            return true;
        if (type == 1 || type == 5)
            return false;
    }
    return false;
}

bool IsIdr(const camsim::NalUnit& n) { return (n[0] & 0x1F) == 5; }
bool IsSei(const camsim::NalUnit& n) { return (n[0] & 0x1F) == 6; }

// Each key frame of `units` begins with `sei` instead of its own SEI, as encoders that put an
// SEI before the parameter sets send it.
void PutSeiFirst(std::vector<AccessUnit>& units, const camsim::NalUnit& sei) {
    for (AccessUnit& unit : units) {
        if (std::none_of(unit.begin(), unit.end(), IsIdr))
            continue;
        unit.erase(std::remove_if(unit.begin(), unit.end(), IsSei), unit.end());
        unit.insert(unit.begin(), sei);
    }
}

// A parameter "name+sei" is the stream "name" with an SEI first in every key frame.
class H264Check : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        ASSERT_FALSE(test::MediaDir().empty()) << "reference media could not be made";
        out = test::OutputDir();
        name = GetParam();
        const bool seiFirst = name.ends_with("+sei");
        if (seiFirst)
            name.resize(name.size() - 4);
        outOfBand = name.ends_with("_oob");
        const std::string inBandName = outOfBand ? name.substr(0, name.size() - 4) : name;
        Bytes file, inBand;
        file = camsim::ReadFileBytes(test::MediaPath(name + ".264"));
        inBand = camsim::ReadFileBytes(test::MediaPath(inBandName + ".264"));
        ASSERT_FALSE(file.empty() || inBand.empty());
        units = camsim::SplitAccessUnits(camsim::SplitNalUnits(file));
        // Out-of-band streams get the sets the in-band encode carries, as an SDP would.
        camsim::NalUnit sei;
        for (const auto& nal : camsim::SplitNalUnits(inBand)) {
            if ((nal[0] & 0x1F) == 7 && sps.empty())
                sps = nal;
            if ((nal[0] & 0x1F) == 8 && pps.empty())
                pps = nal;
            if (IsSei(nal) && sei.empty())
                sei = nal;  // the encoder's own, longer than 64 bytes
        }
        if (seiFirst) {
            ASSERT_GT(sei.size(), 64u);
            PutSeiFirst(units, sei);
        }
        sourceHashes = test::FrameMd5("h264", test::MediaPath(inBandName + ".264"), out);
        ASSERT_FALSE(sourceHashes.empty());
        parser.SetClient(&client);
        if (outOfBand)
            parser.SetParameterSets(sps, pps, {});
    }

    Stream Packetise(size_t passes) {
        camsim::H264Packetizer packetizer(0xCAFE, 65000);  // wraps the sequence number
        Stream stream;
        for (size_t pass = 0, frame = 0; pass < passes; ++pass) {
            for (size_t u = 0; u < units.size(); ++u, ++frame) {
                for (Packet& p : packetizer.Packetize(units[u], camsim::VideoTimestamp(7, frame, 25))) {
                    stream.packets.push_back(std::move(p));
                    stream.unitOf.push_back(u);
                }
            }
        }
        return stream;
    }

    // The frame the depacketiser must rebuild from source unit `u`: out-of-band sets go before
    // the first slice of a key frame.
    Bytes Expected(size_t u) {
        AccessUnit unit = units[u];
        const auto idr = std::find_if(unit.begin(), unit.end(), IsIdr);
        if (outOfBand && idr != unit.end())
            unit.insert(unit.insert(idr, pps), sps);
        return Concat({camsim::ToAnnexB(unit), kTrailer});
    }

    std::vector<std::string> DecodeCapture() {
        std::vector<Bytes> frames;
        for (const auto& f : client.sink.Frames())
            frames.push_back(f.data);
        Bytes stream = Concat(frames);
        // The last frame's delimiter has no picture after it, which the decoder reports.
        if (!stream.empty())
            stream.resize(stream.size() - kTrailer.size());
        const std::string path = out + "/capture.264";
        EXPECT_TRUE(test::WriteBytes(path, stream));
        std::string errors;
        auto hashes = test::FrameMd5("h264", path, out, &errors);
        EXPECT_EQ(errors, "");
        return hashes;
    }

    std::string out, name;
    bool outOfBand = false;
    std::vector<AccessUnit> units;
    Bytes sps, pps;
    std::vector<std::string> sourceHashes;
    test::FakeDriver driver;
    test::RecordingClient client;
    norvane::CH264RTPMediaParser parser{&driver, "Tavrin"};
};

}  // namespace

TEST_P(H264Check, CapturedStreamDecodesFrameForFrameAsTheSource) {
    const Stream stream = Packetise(1);
    size_t current = 0;
    Feed(parser, stream, 0, current);
    const auto frames = client.sink.Frames();
    ASSERT_EQ(frames.size(), units.size());
    for (size_t u = 0; u < units.size(); ++u)
        ASSERT_EQ(frames[u].data, Expected(u)) << "access unit " << u;
    EXPECT_EQ(DecodeCapture(), sourceHashes);
    EXPECT_EQ(frames[0].width, name.find("1080p") != std::string::npos ? 1920u : 320u);
    EXPECT_EQ(frames[0].height, name.find("1080p") != std::string::npos ? 1080u : 240u);
}

TEST_P(H264Check, LossNeverYieldsAFrameBeforeTheNextSps) {
    const size_t passes = 4;
    const Stream stream = Packetise(passes);
    size_t current = 0, losses = 0;
    bool lossPending = false;
    client.sink.SetFrameCallback([&](const host::DeliveredFrame& f) {
        if (lossPending) {
            EXPECT_EQ(f.fourcc, norvane::FOURCC_H264);
            EXPECT_TRUE(HasSps(f.data));
            lossPending = false;
        }
        EXPECT_EQ(f.data, Expected(current)) << "access unit " << current;
    });
    Feed(parser, stream, 1, current, [&] { lossPending = true, ++losses; });
    EXPECT_GT(losses, 0u);
    const size_t emitted = client.sink.FrameCount();
    EXPECT_LT(emitted, units.size() * passes);
    EXPECT_GT(emitted, 0u);
    const auto hashes = DecodeCapture();
    EXPECT_EQ(hashes.size(), emitted);
    EXPECT_TRUE(IsSubsequence(hashes, Repeat(sourceHashes, passes)));
}

INSTANTIATE_TEST_SUITE_P(ReferenceStreams, H264Check,
                         ::testing::Values("h264_1slice", "h264_4slice", "h264_1080p",
                                           "h264_1080p_4slice", "h264_1slice_oob",
                                           "h264_4slice_oob", "h264_1080p_oob", "h264_1slice+sei",
                                           "h264_4slice_oob+sei"));

namespace {

class JpegCheck : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(test::MediaDir().empty()) << "reference media could not be made";
        out = test::OutputDir();
        parser.SetClient(&client);
    }

    // Reads a media folder; returns the concatenated source files.
    Bytes Load(const std::string& folder) {
        pictures.clear();
        const std::vector<Bytes> files = camsim::ReadJpegFolder(test::MediaPath(folder));
        for (const Bytes& file : files) {
            camsim::JpegPicture picture;
            EXPECT_TRUE(camsim::ParseJpeg(file, picture)) << folder;
            pictures.push_back(picture);
        }
        EXPECT_FALSE(pictures.empty());
        return Concat(files);
    }

    // `optionsOf` gives the send options of each picture in stream order.
    Stream Packetise(uint8_t q, size_t passes,
                     const std::function<camsim::JpegSendOptions(size_t)>& optionsOf = {},
                     size_t maxPayload = 1400) {
        camsim::JpegPacketizer packetizer(0xBEEF, 65500, maxPayload);
        Stream stream;
        for (size_t pass = 0, frame = 0; pass < passes; ++pass) {
            for (size_t i = 0; i < pictures.size(); ++i, ++frame) {
                const camsim::JpegSendOptions options =
                    optionsOf ? optionsOf(frame) : camsim::JpegSendOptions{};
                for (Packet& p : packetizer.Packetize(
                         pictures[i], q, camsim::VideoTimestamp(0, frame, 25), options)) {
                    stream.packets.push_back(std::move(p));
                    stream.unitOf.push_back(i);
                }
            }
        }
        return stream;
    }

    // Sends every picture once (after a marker to start collection) and returns the pictures.
    std::vector<Bytes> Capture(uint8_t q, size_t passes = 1,
                               const std::function<camsim::JpegSendOptions(size_t)>& optionsOf = {},
                               size_t maxPayload = 1400) {
        parser.ProcessPacket(test::ToPacket(test::MakeDatagram(65499, 0, true, {0, 0}, 26)));
        size_t current = 0;
        Feed(parser, Packetise(q, passes, optionsOf, maxPayload), 0, current);
        std::vector<Bytes> captured;
        for (const auto& f : client.sink.Frames())
            captured.push_back(f.data);
        client.sink.Clear();
        return captured;
    }

    std::vector<std::string> Decode(const std::string& file, const Bytes& data) {
        const std::string path = out + "/" + file;
        EXPECT_TRUE(test::WriteBytes(path, data));
        std::string errors;
        auto hashes = test::FrameMd5("mjpeg", path, out, &errors);
        EXPECT_EQ(errors, "");
        return hashes;
    }

    std::string out;
    std::vector<camsim::JpegPicture> pictures;
    test::FakeDriver driver;
    test::RecordingClient client;
    norvane::CJpegRTPMediaParser parser{&driver, "Tavrin"};
};

// Table k of the rebuilt picture for Q 1-99: T.81 K.1/K.2 scaled, in zig-zag order.
uint8_t ScaledEntry(const norvane::QuantTable& base, unsigned q, size_t k) {
    const unsigned scale = q < 50 ? 5000 / q : 200 - 2 * q;
    const unsigned v = (base[norvane::JPEG_ZIGZAG[k]] * scale + 50) / 100;
    return static_cast<uint8_t>(std::clamp(v, 1u, 255u));
}

}  // namespace

// cjpeg_ffd9 has tables that hold 255 then 217, which read as an EOI marker.
TEST_F(JpegCheck, InBandTablesDecodeAsTheSource) {
    for (const char* folder : {"jpeg420", "jpeg422", "jpeg1080p", "cjpeg_ffd9"}) {
        SCOPED_TRACE(folder);
        const Bytes source = Load(folder);
        EXPECT_EQ(pictures[0].type, std::string(folder) == "jpeg422" ? 0 : 1);
        const std::vector<Bytes> captured = Capture(255);
        ASSERT_EQ(captured.size(), pictures.size());
        const auto hashes = Decode(std::string(folder) + ".mjpeg", Concat(captured));
        EXPECT_EQ(hashes.size(), pictures.size());
        EXPECT_EQ(hashes, Decode("source.mjpeg", source));
    }
}

TEST_F(JpegCheck, ScaledTablesFollowTheFormulaAndDecode) {
    Load("jpeg420");
    for (unsigned q : {1u, 20u, 50u, 75u, 99u}) {
        SCOPED_TRACE(q);
        const std::vector<Bytes> captured = Capture(static_cast<uint8_t>(q));
        ASSERT_EQ(captured.size(), pictures.size());
        for (const Bytes& picture : captured) {
            for (size_t k = 0; k < 64; ++k) {
                ASSERT_EQ(picture[7 + k], ScaledEntry(norvane::JPEG_LUMA_QUANT, q, k)) << k;
                ASSERT_EQ(picture[76 + k], ScaledEntry(norvane::JPEG_CHROMA_QUANT, q, k)) << k;
            }
        }
        EXPECT_EQ(Decode("q" + std::to_string(q) + ".mjpeg", Concat(captured)).size(),
                  pictures.size());
    }
}

// cjpeg scales the base tables as RTP/JPEG does, so for every Q from 1 to 99 (Q 6 holds 255
// then 217 in a table) the whole picture comes out and decodes as cjpeg's picture of that Q.
TEST_F(JpegCheck, EveryQualityGivesWholePicturesThatDecodeAsTheSource) {
    const Bytes source = Load("cjpeg_q");
    ASSERT_EQ(pictures.size(), 99u);
    const std::vector<camsim::JpegPicture> byQuality = pictures;
    std::vector<Bytes> captured;
    for (unsigned q = 1; q <= 99; ++q) {
        pictures = {byQuality[q - 1]};
        const std::vector<Bytes> one = Capture(static_cast<uint8_t>(q));
        ASSERT_EQ(one.size(), 1u) << "Q " << q;
        EXPECT_EQ(one[0].size(), norvane::JPEG_HEADER_SIZE + pictures[0].scan.size()) << "Q " << q;
        captured.push_back(one[0]);
    }
    const auto hashes = Decode("every_q.mjpeg", Concat(captured));
    EXPECT_EQ(hashes.size(), 99u);
    EXPECT_EQ(hashes, Decode("source.mjpeg", source));
}

// cjpeg -quality 50 encodes with the unscaled base tables, which Q 50 rebuilds.
TEST_F(JpegCheck, Quality50SourceDecodesPixelIdentical) {
    for (const char* folder : {"cjpeg50_420", "cjpeg50_422"}) {
        SCOPED_TRACE(folder);
        const Bytes source = Load(folder);
        const std::vector<Bytes> captured = Capture(50);
        ASSERT_EQ(captured.size(), pictures.size());
        const auto hashes = Decode(std::string(folder) + ".mjpeg", Concat(captured));
        EXPECT_EQ(hashes.size(), pictures.size());
        EXPECT_EQ(hashes, Decode("source.mjpeg", source));
    }
}

TEST_F(JpegCheck, LossEmitsOnlyWholePicturesThatDecode) {
    for (const char* folder : {"jpeg420", "jpeg1080p"}) {
        SCOPED_TRACE(folder);
        Load(folder);
        const std::vector<Bytes> whole = Capture(255);
        ASSERT_EQ(whole.size(), pictures.size());
        const size_t passes = 6;
        size_t current = 0, losses = 0;
        client.sink.SetFrameCallback([&](const host::DeliveredFrame& f) {
            EXPECT_EQ(f.data, whole[current]) << "picture " << current;
        });
        Feed(parser, Packetise(255, passes), 1, current, [&] { ++losses; });
        client.sink.SetFrameCallback({});
        EXPECT_GT(losses, 0u);
        std::vector<Bytes> captured;
        for (const auto& f : client.sink.Frames())
            captured.push_back(f.data);
        client.sink.Clear();
        EXPECT_LT(captured.size(), pictures.size() * passes);
        EXPECT_GT(captured.size(), 0u);
        EXPECT_EQ(Decode(std::string(folder) + "_loss.mjpeg", Concat(captured)).size(),
                  captured.size());
    }
}

// FFmpeg's packetiser leaves the EOI out; the marker bit ends the picture.
TEST_F(JpegCheck, PicturesWithoutEoiEndAtTheMarkerAndDecodeAsTheSource) {
    const Bytes source = Load("jpeg420");
    const std::vector<Bytes> captured = Capture(
        255, 1, [](size_t) { return camsim::JpegSendOptions{.endMarker = false}; }, 700);
    ASSERT_EQ(captured.size(), pictures.size());
    for (size_t i = 0; i < captured.size(); ++i)
        EXPECT_EQ(captured[i].size(), norvane::JPEG_HEADER_SIZE + pictures[i].scan.size()) << i;
    EXPECT_EQ(Decode("no_eoi.mjpeg", Concat(captured)), Decode("source.mjpeg", source));
}

// VLC sends one 64-byte table (Length 64) that serves both components.
TEST_F(JpegCheck, OneInBandTableServesBothComponents) {
    const Bytes source = Load("cjpeg_onetable");
    const std::vector<Bytes> captured = Capture(
        255, 1, [](size_t) { return camsim::JpegSendOptions{.oneTable = true}; }, 900);
    ASSERT_EQ(captured.size(), pictures.size());
    EXPECT_EQ(Decode("one_table.mjpeg", Concat(captured)), Decode("source.mjpeg", source));
}

// Q 128-254 may send its tables once and Length 0 afterwards.
TEST_F(JpegCheck, TablesSentOnceServeTheLaterPictures) {
    const Bytes source = Load("jpeg420");
    const size_t passes = 3;
    const std::vector<Bytes> captured = Capture(200, passes, [](size_t frame) {
        return camsim::JpegSendOptions{.sendTables = frame == 0};
    });
    ASSERT_EQ(captured.size(), pictures.size() * passes);
    std::vector<Bytes> sources(passes, source);
    EXPECT_EQ(Decode("tables_once.mjpeg", Concat(captured)),
              Decode("source.mjpeg", Concat(sources)));
}

// Types 64 and 65: a restart header in every packet, a restart interval in the picture.
TEST_F(JpegCheck, RestartMarkersDecodeAsTheSource) {
    for (const char* folder : {"cjpeg_restart420", "cjpeg_restart422"}) {
        SCOPED_TRACE(folder);
        const Bytes source = Load(folder);
        ASSERT_EQ(pictures[0].restartInterval, 3u);
        // cjpeg's quality 80 scales the base tables as Q 80 does.
        for (uint8_t q : {uint8_t{255}, uint8_t{80}}) {
            SCOPED_TRACE(int{q});
            const std::vector<Bytes> captured = Capture(q, 1, {}, 800);
            ASSERT_EQ(captured.size(), pictures.size());
            EXPECT_EQ(Decode(std::string(folder) + ".mjpeg", Concat(captured)),
                      Decode("source.mjpeg", source));
        }
    }
}

// A fragment sent twice, sequence numbers unbroken, drops its picture and no other.
TEST_F(JpegCheck, RepeatedFragmentDropsItsPictureOnly) {
    Load("jpeg420");
    const std::vector<Bytes> whole = Capture(255, 1, {}, 700);
    ASSERT_EQ(whole.size(), pictures.size());
    Stream stream = Packetise(255, 1, {}, 700);
    const size_t repeated =
        std::find(stream.unitOf.begin(), stream.unitOf.end(), 3u) - stream.unitOf.begin() + 1;
    ASSERT_EQ(stream.unitOf[repeated], 3u);
    stream.packets.insert(stream.packets.begin() + static_cast<ptrdiff_t>(repeated),
                          stream.packets[repeated]);
    stream.unitOf.insert(stream.unitOf.begin() + static_cast<ptrdiff_t>(repeated), 3u);
    uint16_t sequence = 1000;
    for (Packet& p : stream.packets) {
        p[2] = static_cast<uint8_t>(sequence >> 8);
        p[3] = static_cast<uint8_t>(sequence++);
    }
    size_t current = 0;
    std::vector<size_t> units;
    client.sink.SetFrameCallback([&](const host::DeliveredFrame& f) {
        EXPECT_EQ(f.data, whole[current]) << "picture " << current;
        units.push_back(current);
    });
    Feed(parser, stream, 0, current);
    client.sink.SetFrameCallback({});
    EXPECT_EQ(units, (std::vector<size_t>{0, 1, 2, 4, 5, 6, 7}));
}
