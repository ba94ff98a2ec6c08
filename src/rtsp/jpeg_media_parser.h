// JPEG depacketiser (RFC 2435): fragments joined into whole pictures with rebuilt headers.
#pragma once

#include "rtsp/media_parser.h"

namespace norvane {

class CJpegRTPMediaParser : public CRTPMediaParser {
public:
    CJpegRTPMediaParser(IDriver* driver, std::string sourceName);

    void ProcessPacket(const CRTPPacket& packet) override;
    void Reset() override;

private:
    void Collect(const uint8_t* data, size_t size);
    void BuildAndEmit();
    // Header and scan data of the collected picture into `picture`; false when too short.
    bool BuildPicture();
    // Length of the picture through the EOI that ends its scan data, 0 when there is none.
    size_t PictureLength() const;
    void Emit(IMediaParserClient* target, size_t length);

    bool collecting = false;
    std::vector<uint8_t> picture;  // reused from picture to picture
};

}  // namespace norvane
