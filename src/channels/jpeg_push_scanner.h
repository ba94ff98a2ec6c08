// Cuts whole JPEG pictures out of a server-push byte stream by their start and end markers,
// whatever the boundaries of the reads that carry it, and takes each picture's size from its
// baseline frame header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

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

    // Pictures dropped: no frame header, cut short by the next start, or longer than the limit.
    uint64_t GetDroppedCount() const { return dropped; }
    // Bytes held of a picture still arriving.
    size_t GetHeldBytes() const { return picture.size(); }

private:
    // Outside a picture: finds a start of image; returns the bytes consumed.
    size_t SeekStart(const uint8_t* data, size_t size);
    // Inside a picture: appends and looks for markers; returns the bytes consumed.
    size_t Collect(const uint8_t* data, size_t size);
    void StartPicture();
    // Hands on the picture through `end` with the size of its frame header.
    void EndPicture(size_t end);
    void DropPicture();

    IJpegReceiver* const receiver;
    const size_t limit;
    bool inPicture = false;
    bool endsWithMarkerByte = false;  // outside a picture: the last byte seen was 0xFF
    std::vector<uint8_t> picture;     // from its start of image; empty outside a picture
    size_t searched = 0;              // picture bytes already searched for markers
    size_t frameHeader = 0;           // position of the picture's last frame header (0: none)
    uint64_t dropped = 0;
};

}  // namespace norvane
