// The server-push scanner: the pictures found do not depend on where the reads split the stream,
// spoilt parts are skipped, and nothing outside a picture (or beyond the limit) is kept.
#include "channels/jpeg_push_scanner.h"

#include <gtest/gtest.h>

#include <random>

#include "camsim/media_files.h"
#include "camsim/server_push.h"
#include "channels/segment_pictures.h"
#include "support/media.h"

using namespace norvane;
using Bytes = std::vector<uint8_t>;

namespace {

struct Picture {
    Bytes data;
    uint32_t width, height;
    bool operator==(const Picture&) const = default;
};

struct Collector : IJpegReceiver {
    void OnJpegPicture(const uint8_t* p, size_t n, uint32_t w, uint32_t h) override {
        pictures.push_back({Bytes(p, p + n), w, h});
    }
    std::vector<Picture> pictures;
};

constexpr size_t kLimit = 1 << 20;

// `parts` parts of the reference pictures as the simulator sends them, and the pictures a
// receiver must find in them.
struct Stream {
    Bytes bytes;
    std::vector<Picture> expected;
};

Stream MakeStream(const camsim::PushShape& shape, size_t parts) {
    const std::vector<camsim::Bytes> source = camsim::ReadJpegFolder(test::MediaPath("jpeg420"));
    EXPECT_FALSE(source.empty());
    Stream stream;
    for (size_t n = 0; n < parts; ++n) {
        const camsim::Bytes part = camsim::PushPart(source[n % source.size()], n, shape);
        stream.bytes.insert(stream.bytes.end(), part.begin(), part.end());
        if (!shape.brokenEvery || (n + 1) % shape.brokenEvery != 0)
            stream.expected.push_back({source[n % source.size()], 320, 240});
    }
    return stream;
}

// SOI, a one-component baseline frame header of size x size and a scan header: what a picture
// needs before its scan data.
Bytes PictureHead(uint8_t size) {
    return {0xFF, 0xD8, 0xFF, 0xC0, 0, 11, 8, 0, size, 0, size, 1, 1,
            0x11, 0,    0xFF, 0xDA, 0, 8,  1, 1, 0,    0, 0x3F, 0};
}

Bytes Cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<Picture> ScanInPieces(const Bytes& bytes, const std::function<size_t()>& piece) {
    Collector collector;
    CJpegPushScanner scanner(&collector, kLimit);
    for (size_t at = 0; at < bytes.size();) {
        const size_t n = std::min(piece(), bytes.size() - at);
        scanner.Scan(bytes.data() + at, n);
        at += n;
    }
    return collector.pictures;
}

}  // namespace

TEST(JpegPushScanner, EveryWayOfSplittingTheStreamFindsTheSamePictures) {
    camsim::PushShape shape;
    shape.junk = true;
    shape.brokenEvery = 3;
    const Stream stream = MakeStream(shape, 12);
    ASSERT_EQ(stream.expected.size(), 8u);
    for (size_t size = 1; size <= 64; ++size) {
        SCOPED_TRACE(size);
        ASSERT_EQ(ScanInPieces(stream.bytes, [&] { return size; }), stream.expected);
    }
    std::mt19937 random(7);
    for (int run = 0; run < 20; ++run) {
        SCOPED_TRACE(run);
        ASSERT_EQ(ScanInPieces(stream.bytes, [&] { return 1 + random() % 4096; }), stream.expected);
    }
}

TEST(JpegPushScanner, TakesTheSizeFromEachPicturesOwnFrameHeader) {
    const auto big = camsim::ReadJpegFolder(test::MediaPath("jpeg1080p"));
    const auto small = camsim::ReadJpegFolder(test::MediaPath("jpeg420"));
    ASSERT_FALSE(big.empty());
    ASSERT_FALSE(small.empty());
    Bytes bytes;
    for (const auto* picture : {&small[0], &big[0], &small[1]}) {
        const camsim::Bytes part = camsim::PushPart(*picture, 0, {});
        bytes.insert(bytes.end(), part.begin(), part.end());
    }
    const auto pictures = ScanInPieces(bytes, [] { return 1000; });
    ASSERT_EQ(pictures.size(), 3u);
    EXPECT_EQ(std::pair(pictures[0].width, pictures[0].height), std::pair(320u, 240u));
    EXPECT_EQ(std::pair(pictures[1].width, pictures[1].height), std::pair(1920u, 1080u));
    EXPECT_EQ(std::pair(pictures[2].width, pictures[2].height), std::pair(320u, 240u));
}

TEST(JpegPushScanner, APictureWithoutFrameHeaderIsNotHandedOnWithAnEarlierSize) {
    camsim::PushShape shape;
    shape.brokenEvery = 2;  // parts 1 and 3: the first cut short, the second without its header
    const Stream stream = MakeStream(shape, 4);
    Collector collector;
    CJpegPushScanner scanner(&collector, kLimit);
    scanner.Scan(stream.bytes.data(), stream.bytes.size());
    EXPECT_EQ(collector.pictures, stream.expected);
    EXPECT_EQ(scanner.GetDroppedCount(), 2u);
}

TEST(JpegPushScanner, KeepsNothingOutsideAPictureAndDropsOneBeyondTheLimit) {
    Collector collector;
    CJpegPushScanner scanner(&collector, 4096);
    const Bytes junk(100000, 0x5A);
    scanner.Scan(junk.data(), junk.size());
    EXPECT_EQ(scanner.GetHeldBytes(), 0u);

    // A start of image followed by far more than the limit without an end.
    const Bytes start = PictureHead(16);
    scanner.Scan(start.data(), start.size());
    for (int i = 0; i < 100; ++i) {
        scanner.Scan(junk.data(), 1000);
        EXPECT_LE(scanner.GetHeldBytes(), 4097u);
    }
    EXPECT_EQ(scanner.GetDroppedCount(), 1u);
    // The scanner finds the next picture after the overlong one.
    const Stream stream = MakeStream({}, 1);
    CJpegPushScanner roomy(&collector, kLimit);
    roomy.Scan(start.data(), start.size());
    roomy.Scan(junk.data(), 5000);
    roomy.Scan(stream.bytes.data(), stream.bytes.size());
    ASSERT_EQ(collector.pictures.size(), 1u) << "the unfinished picture gave way to a whole one";
    EXPECT_EQ(collector.pictures[0], stream.expected[0]);
}

// A marker byte that ended a read before a picture began must not pair with a byte after that
// picture's end (found by the fuzzer).
TEST(JpegPushScanner, AMarkerByteBeforeAPictureDoesNotOutliveIt) {
    Collector collector;
    CJpegPushScanner scanner(&collector, kLimit);
    const Bytes first = {'x', 0xFF};
    const Bytes scan = {0x12, 0xFF, 0xD9};
    const Bytes large = PictureHead(32);
    const Bytes second = Cat(Cat(Cat(PictureHead(16), scan), {0xD8}),
                             Cat(Bytes(large.begin() + 2, large.end()), scan));
    scanner.Scan(first.data(), first.size());
    scanner.Scan(second.data(), second.size());
    ASSERT_EQ(collector.pictures.size(), 1u);
    EXPECT_EQ(collector.pictures[0].width, 16u);
}

// Markers inside marker segments are none: the whole picture is handed on with its own size,
// however the reads split it.
TEST(JpegPushScanner, MarkersInsideSegmentsNeitherStartNorEndAPicture) {
    const auto pictures = test::SegmentPictures();
    ASSERT_EQ(pictures.size(), 3u);
    Bytes stream;
    std::vector<Picture> expected;
    for (size_t n = 0; n < pictures.size(); ++n) {
        const camsim::Bytes part = camsim::PushPart(pictures[n].data, n, {});
        stream.insert(stream.end(), part.begin(), part.end());
        expected.push_back({pictures[n].data, pictures[n].width, pictures[n].height});
    }
    for (const size_t size : {size_t{1}, size_t{3}, size_t{1000}, stream.size()}) {
        SCOPED_TRACE(size);
        EXPECT_EQ(ScanInPieces(stream, [&] { return size; }), expected);
    }
}

// A header whose segment lengths do not lead from marker to marker is no picture, and the
// scanner finds the next one.
TEST(JpegPushScanner, MalformedSegmentLengthsAreDroppedWithinTheBytes) {
    const Stream whole = MakeStream({}, 1);
    const Bytes cases[] = {
        {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x01, 0xFF, 0xD9},              // length below 2
        {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x04, 0x00, 0x00, 0x12, 0x34},  // no marker after it
        {0xFF, 0xD8, 0xFF, 0xD9},                                      // end before a scan
    };
    for (const Bytes& bad : cases) {
        SCOPED_TRACE(::testing::PrintToString(bad));
        Collector collector;
        CJpegPushScanner scanner(&collector, kLimit);
        Bytes stream = bad;
        stream.insert(stream.end(), whole.bytes.begin(), whole.bytes.end());
        scanner.Scan(stream.data(), stream.size());
        ASSERT_EQ(collector.pictures.size(), 1u);
        EXPECT_EQ(collector.pictures[0], whole.expected[0]);
        EXPECT_EQ(scanner.GetDroppedCount(), 1u);
    }
}
