#include "channels/jpeg_push_scanner.h"

#include <algorithm>

namespace norvane {

namespace {
constexpr size_t FRAME_HEADER_HEIGHT = 5;  // offsets from the frame header's 0xFF
constexpr size_t FRAME_HEADER_WIDTH = 7;

uint32_t BigEndian16(const uint8_t* p) {
    return uint32_t{p[0]} << 8 | p[1];
}
}  // namespace

CJpegPushScanner::CJpegPushScanner(IJpegReceiver* receiver, size_t limit)
    : receiver(receiver), limit(limit) {}

void CJpegPushScanner::Reset() {
    DropPicture();
    endsWithMarkerByte = false;
}

void CJpegPushScanner::Scan(const uint8_t* data, size_t size) {
    while (size > 0) {
        const size_t used = inPicture ? Collect(data, size) : SeekStart(data, size);
        data += used;
        size -= used;
    }
}

size_t CJpegPushScanner::SeekStart(const uint8_t* data, size_t size) {
    // Nothing outside a picture is kept: only whether a marker byte may continue in this read.
    if (endsWithMarkerByte && data[0] == JPEG_SOI) {
        StartPicture();
        return 1;
    }
    for (size_t i = 0; i + 1 < size; ++i) {
        if (data[i] == JPEG_MARKER && data[i + 1] == JPEG_SOI) {
            StartPicture();
            return i + 2;
        }
    }
    endsWithMarkerByte = data[size - 1] == JPEG_MARKER;
    return size;
}

void CJpegPushScanner::StartPicture() {
    inPicture = true;
    endsWithMarkerByte = false;
    picture.assign({JPEG_MARKER, JPEG_SOI});
    walk = {};
    scanSearched = 0;
}

size_t CJpegPushScanner::Collect(const uint8_t* data, size_t size) {
    const size_t before = picture.size();
    const size_t take = std::min(size, limit + 1 - std::min(before, limit));
    picture.insert(picture.end(), data, data + take);
    // Every position the walk or the search reports lies past the bytes of earlier reads but
    // the last few, and those hold no start of image.
    switch (walk.Walk(picture.data(), picture.size())) {
        case CJpegSegmentWalk::Result::NewImage: {
            // A new picture before this one's scan: this one is incomplete.
            const size_t start = walk.Position();
            ++dropped;
            StartPicture();
            return start + 2 - before;
        }
        case CJpegSegmentWalk::Result::Invalid: {
            ++dropped;
            const size_t resume = std::max(walk.Position(), before);
            DropPicture();
            return resume - before;
        }
        case CJpegSegmentWalk::Result::Scan:
            return SearchScan(before, take);
        case CJpegSegmentWalk::Result::More:
            break;
    }
    if (picture.size() > limit) {
        DropPicture();
        ++dropped;
    }
    return take;
}

size_t CJpegPushScanner::SearchScan(size_t before, size_t take) {
    size_t p =
        FindScanMarker(picture.data(), picture.size(), std::max(scanSearched, walk.Position()));
    for (; p + 1 < picture.size(); p = FindScanMarker(picture.data(), picture.size(), p + 2)) {
        const uint8_t code = picture[p + 1];
        if (code == JPEG_EOI) {
            EndPicture(p + 2);
            return p + 2 - before;
        }
        if (code == JPEG_SOI) {
            // A new picture before this one ended: this one is incomplete.
            ++dropped;
            StartPicture();
            return p + 2 - before;
        }
        // Other markers in a scan are passed over, as the RTP depacketiser does.
    }
    scanSearched = p;
    if (picture.size() > limit) {
        DropPicture();
        ++dropped;
    }
    return take;
}

void CJpegPushScanner::EndPicture(size_t end) {
    // A picture without a frame header cannot be shown and is not handed on.
    const size_t header = walk.FrameHeader();
    const uint32_t height = header ? BigEndian16(&picture[header + FRAME_HEADER_HEIGHT]) : 0;
    const uint32_t width = header ? BigEndian16(&picture[header + FRAME_HEADER_WIDTH]) : 0;
    if (width && height)
        receiver->OnJpegPicture(picture.data(), end, width, height);
    else
        ++dropped;
    DropPicture();
}

void CJpegPushScanner::DropPicture() {
    inPicture = false;
    picture.clear();
    walk = {};
    scanSearched = 0;
}

}  // namespace norvane
