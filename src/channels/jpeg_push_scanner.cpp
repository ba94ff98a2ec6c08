#include "channels/jpeg_push_scanner.h"

#include <algorithm>

namespace norvane {

namespace {
constexpr uint8_t MARKER = 0xFF;
constexpr uint8_t START_OF_IMAGE = 0xD8;
constexpr uint8_t END_OF_IMAGE = 0xD9;
constexpr uint8_t BASELINE_FRAME = 0xC0;
constexpr size_t FRAME_HEADER_BYTES = 9;  // marker, length, precision, height, width
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
    if (endsWithMarkerByte && data[0] == START_OF_IMAGE) {
        StartPicture();
        return 1;
    }
    for (size_t i = 0; i + 1 < size; ++i) {
        if (data[i] == MARKER && data[i + 1] == START_OF_IMAGE) {
            StartPicture();
            return i + 2;
        }
    }
    endsWithMarkerByte = data[size - 1] == MARKER;
    return size;
}

void CJpegPushScanner::StartPicture() {
    inPicture = true;
    endsWithMarkerByte = false;
    picture.assign({MARKER, START_OF_IMAGE});
    searched = picture.size();
    frameHeader = 0;
}

size_t CJpegPushScanner::Collect(const uint8_t* data, size_t size) {
    const size_t before = picture.size();
    const size_t take = std::min(size, limit + 1 - std::min(before, limit));
    picture.insert(picture.end(), data, data + take);
    // A marker byte at the end of what has arrived is looked at again with the next bytes.
    size_t p = searched > 0 ? searched - 1 : 0;
    for (; p + 1 < picture.size(); ++p) {
        if (picture[p] != MARKER)
            continue;
        const uint8_t code = picture[p + 1];
        if (code == BASELINE_FRAME) {
            frameHeader = p;
        } else if (code == START_OF_IMAGE && p > 0) {
            // A new picture before this one ended: this one is incomplete.
            ++dropped;
            const size_t consumed = p + 2 - before;
            StartPicture();
            return consumed;
        } else if (code == END_OF_IMAGE) {
            const size_t consumed = p + 2 - before;
            EndPicture(p + 2);
            return consumed;
        }
    }
    searched = picture.size();
    if (picture.size() > limit) {
        DropPicture();
        ++dropped;
    }
    return take;
}

void CJpegPushScanner::EndPicture(size_t end) {
    // The size comes from the picture's last frame header, whole before its end; a picture
    // without one cannot be shown and is not handed on.
    uint32_t width = 0, height = 0;
    if (frameHeader && frameHeader + FRAME_HEADER_BYTES <= end) {
        height = (uint32_t{picture[frameHeader + 5]} << 8) | picture[frameHeader + 6];
        width = (uint32_t{picture[frameHeader + 7]} << 8) | picture[frameHeader + 8];
    }
    if (width && height)
        receiver->OnJpegPicture(picture.data(), end, width, height);
    else
        ++dropped;
    DropPicture();
}

void CJpegPushScanner::DropPicture() {
    inPicture = false;
    picture.clear();
    searched = 0;
    frameHeader = 0;
}

}  // namespace norvane
