// JPEG depacketiser (RFC 2435): fragments joined into whole pictures with rebuilt headers.
#pragma once

#include <array>
#include <optional>

#include "rtsp/jpeg_header.h"
#include "rtsp/media_parser.h"

namespace norvane {

class CJpegRTPMediaParser : public CRTPMediaParser {
public:
    CJpegRTPMediaParser(IDriver* driver, std::string sourceName);

    void ProcessPacket(const CRTPPacket& packet) override;
    void Reset() override;

private:
    struct Tables {
        QuantTable luma, chroma;
    };
    // Q 128-254, whose tables may be sent once and then left out (Length 0).
    static constexpr unsigned KEPT_Q_FIRST = 128, KEPT_Q_COUNT = 127;

    // Drops the picture in progress and waits for the next first fragment.
    void Drop();
    // Adds one fragment; false when it does not continue the picture or that cannot be used.
    bool AddFragment(const uint8_t* data, size_t size);
    // Reads the headers of a picture's first fragment and collects its scan data.
    bool Begin(const uint8_t* data, size_t size);
    // Quantisation tables of Q 128-255 from `pos` (advanced past them); false when they are
    // missing or cannot be used.
    bool ReadTables(const uint8_t* data, size_t size, unsigned q, size_t& pos);
    // Appends scan data; false on overflow.
    bool Collect(const uint8_t* data, size_t size);
    void BuildAndEmit();
    // Length of the scan data through its EOI, 0 when it has none.
    size_t ScanLength() const;
    void Emit(IMediaParserClient* target, size_t scanLength, bool addEoi);

    bool collecting = false;
    uint32_t nextOffset = 0;  // fragment offset that continues the picture
    uint8_t type = 0;
    uint16_t restartInterval = 0;
    Tables tables{};
    std::array<std::optional<Tables>, KEPT_Q_COUNT> keptTables;  // the last of each Q 128-254
    std::vector<uint8_t> header;  // rebuilt JPEG header, reused from picture to picture
};

}  // namespace norvane
