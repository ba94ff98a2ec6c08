// Cuts whole JPEG pictures out of a server-push byte stream, whatever the boundaries of the reads
// that carry it: from a start of image, the marker segments are walked by their lengths to the
// scan, and only the scan is searched for the end of image, so markers inside segments (an Exif
// thumbnail, a comment) neither end nor start a picture. Each picture's size comes from its
// baseline frame header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "rtsp/jpeg_markers.h"

namespace norvane {

class IJpegReceiver {
public:
    virtual void OnJpegPicture(const uint8_t* picture, size_t size, uint32_t width,
                               uint32_t height) = 0;

protected:
    ~IJpegReceiver() = default;
};

class CJpegPushScanner {
public:
    // A picture longer than `limit` bytes is dropped and the scanner looks for the next one.
    CJpegPushScanner(IJpegReceiver* receiver, size_t limit);

    // The next bytes of the stream.
    void Scan(const uint8_t* data, size_t size);
    // Forgets a partly received picture (a new stream begins).
    void Reset();

    // Pictures dropped: no frame header, a malformed header, cut short by the next start, or
    // longer than the limit.
    uint64_t GetDroppedCount() const { return dropped; }
    // Bytes held of a picture still arriving.
    size_t GetHeldBytes() const { return picture.size(); }

private:
    // Outside a picture: finds a start of image; returns the bytes consumed.
    size_t SeekStart(const uint8_t* data, size_t size);
    // Inside a picture: appends and walks it; returns the bytes consumed.
    size_t Collect(const uint8_t* data, size_t size);
    // Searches the scan for its end; returns the bytes of this read consumed, or `take` while
    // the picture goes on.
    size_t SearchScan(size_t before, size_t take);
    void StartPicture();
    // Hands on the picture through `end` with the size of its frame header.
    void EndPicture(size_t end);
    void DropPicture();

    IJpegReceiver* const receiver;
    const size_t limit;
    bool inPicture = false;
    bool endsWithMarkerByte = false;  // outside a picture: the last byte seen was 0xFF
    std::vector<uint8_t> picture;     // from its start of image; empty outside a picture
    CJpegSegmentWalk walk;            // of the picture's header
    size_t scanSearched = 0;          // where the search of the scan goes on
    uint64_t dropped = 0;
};

}  // namespace norvane
