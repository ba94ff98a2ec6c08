#include "rtsp/jpeg_media_parser.h"

#include <algorithm>

#include "rtsp/jpeg_markers.h"

namespace norvane {

namespace {

// RFC 2435 3.1, the main JPEG header of every packet:
//  0                   1                   2                   3
//  0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1
// +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
// | Type-specific |              Fragment Offset                  |
// +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
// |      Type     |       Q       |     Width     |     Height    |
// +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
constexpr size_t kMainHeader = 8;
constexpr size_t kOffsetAt = 1;
constexpr size_t kTypeAt = 4;
constexpr size_t kQAt = 5;
constexpr size_t kWidthAt = 6;   // in units of 8 pixels
constexpr size_t kHeightAt = 7;  // in units of 8 pixels

// 3.1.7, after the main header when the type is 64-127:
// +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
// |       Restart Interval        |F|L|       Restart Count       |
// +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
constexpr size_t kRestartHeader = 4;

// 3.1.8, in the first packet of a picture when Q is 128-255:
// +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
// |      MBZ      |   Precision   |             Length            |
// +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
// |                    Quantization Table Data                    |
constexpr size_t kTableHeader = 4;
constexpr size_t kPrecisionAt = 1;
constexpr size_t kLengthAt = 2;
constexpr size_t kTableSize = 64;
constexpr uint8_t kEoi[] = {JPEG_MARKER, JPEG_EOI};

// A payload this camera family sends between pictures that carries no picture data.
constexpr uint8_t kFillerPayload[] = {0x71, 0x01};

uint32_t FragmentOffset(const uint8_t* data) {
    const uint8_t* field = data + kOffsetAt;
    return uint32_t{field[0]} << 16 | uint32_t{field[1]} << 8 | field[2];
}

uint16_t ReadU16(const uint8_t* data) { return static_cast<uint16_t>(data[0] << 8 | data[1]); }

// Types 64-127 are types 0-63 with a restart header after the main header of every packet.
bool HasRestartHeader(uint8_t type) {
    return type >= 64 && type < 128;
}

bool IsFiller(const uint8_t* data, size_t size) {
    return size >= sizeof kFillerPayload && std::equal(std::begin(kFillerPayload), std::end(kFillerPayload), data);
}

}  // namespace

CJpegRTPMediaParser::CJpegRTPMediaParser(IDriver* driver_, std::string sourceName_)
    : CRTPMediaParser(driver_, std::move(sourceName_)) {}

void CJpegRTPMediaParser::ProcessPacket(const CRTPPacket& packet) {
    if (!ContinuesSequence(packet.GetSequenceNumber()))
        Drop();
    const uint8_t* data = packet.GetPayload();
    const size_t size = packet.GetPayloadLength();
    if (IsFiller(data, size))
        return;
    if (!AddFragment(data, size))
        Drop();
    if (packet.GetMarker()) {
        if (collecting)
            BuildAndEmit();
        Drop();
    }
}

void CJpegRTPMediaParser::Reset() {
    Drop();
    width = 0;
    height = 0;
}

void CJpegRTPMediaParser::Drop() {
    collecting = false;
    buffer.clear();
}

bool CJpegRTPMediaParser::AddFragment(const uint8_t* data, size_t size) {
    if (size < kMainHeader)
        return false;
    const uint32_t offset = FragmentOffset(data);
    if (!collecting)
        return offset != 0 || Begin(data, size);
    const size_t skip = kMainHeader + (HasRestartHeader(type) ? kRestartHeader : 0);
    // A repeated, missing or overlapping fragment leaves a corrupt picture.
    return offset == nextOffset && size >= skip && Collect(data + skip, size - skip);
}

bool CJpegRTPMediaParser::Begin(const uint8_t* data, size_t size) {
    type = data[kTypeAt];
    const unsigned q = data[kQAt];
    width = data[kWidthAt] * 8u;
    height = data[kHeightAt] * 8u;
    size_t pos = kMainHeader;
    restartInterval = 0;
    if (HasRestartHeader(type)) {
        if (size < pos + kRestartHeader)
            return false;
        restartInterval = ReadU16(data + pos);
        pos += kRestartHeader;
    }
    if (q < 128)
        MakeQuantTables(q, tables.luma, tables.chroma);
    else if (!ReadTables(data, size, q, pos))
        return false;
    collecting = true;
    nextOffset = 0;
    return Collect(data + pos, size - pos);
}

bool CJpegRTPMediaParser::ReadTables(const uint8_t* data, size_t size, unsigned q, size_t& pos) {
    if (size < pos + kTableHeader || data[pos + kPrecisionAt] != 0)  // 8-bit tables only
        return false;
    const size_t length = ReadU16(data + pos + kLengthAt);
    pos += kTableHeader;
    // Q 255 sends its tables with every picture; the others may leave them out (Length 0).
    std::optional<Tables>* kept = q < 255 ? &keptTables[q - KEPT_Q_FIRST] : nullptr;
    if (!length) {
        if (!kept || !*kept)
            return false;
        tables = **kept;
        return true;
    }
    // One table serves both components; of more than two, the first two are used.
    if ((length != kTableSize && length < 2 * kTableSize) || size - pos < length)
        return false;
    const uint8_t* luma = data + pos;
    std::copy_n(luma, kTableSize, tables.luma.begin());
    std::copy_n(length == kTableSize ? luma : luma + kTableSize, kTableSize, tables.chroma.begin());
    if (kept)
        *kept = tables;
    pos += length;
    return true;
}

bool CJpegRTPMediaParser::Collect(const uint8_t* data, size_t size) {
    buffer.insert(buffer.end(), data, data + size);
    nextOffset += static_cast<uint32_t>(size);
    return CheckBufferSize();
}

void CJpegRTPMediaParser::BuildAndEmit() {
    IMediaParserClient* current = client;
    if (!current || !width || !height) {
        Reset();
        return;
    }
    header.clear();
    AppendJpegHeader(header, HasRestartHeader(type) ? type - 64 : type,
                     static_cast<uint16_t>(width), static_cast<uint16_t>(height),
                     tables.luma.data(), tables.chroma.data(), restartInterval);
    const size_t scanLength = ScanLength();
    Emit(current, scanLength ? scanLength : buffer.size(), !scanLength);
}

size_t CJpegRTPMediaParser::ScanLength() const {
    const uint8_t* const data = buffer.data();
    const size_t size = buffer.size();
    for (size_t p = FindScanMarker(data, size, 0); p + 1 < size;
         p = FindScanMarker(data, size, p + 2)) {
        if (data[p + 1] == JPEG_EOI)
            return p + 2;
    }
    return 0;
}

void CJpegRTPMediaParser::Emit(IMediaParserClient* target, size_t scanLength, bool addEoi) {
    IFrameAllocator* allocator = driver->GetFrameAllocator();
    if (!allocator)
        return;
    const size_t length = header.size() + scanLength + (addEoi ? sizeof kEoi : 0);
    IMediaFrame* frame =
        allocator->AllocateFrame(FOURCC_JPEG, static_cast<unsigned>(length), sourceName.c_str());
    if (!frame)
        return;
    driver->SetLastFrameSize(static_cast<int>(width), static_cast<int>(height));
    // Header and scan data go straight into the host's frame.
    if (uint8_t* out = frame->GetData()) {
        out = std::copy(header.begin(), header.end(), out);
        out = std::copy_n(buffer.data(), scanLength, out);
        if (addEoi)
            std::copy(std::begin(kEoi), std::end(kEoi), out);
        frame->SetDataSize(static_cast<unsigned>(length));
        frame->SetWidth(width);
        frame->SetHeight(height);
        frame->SetSizeClass(FrameSizeClass(width, height));
        frame->StampTime();
        target->OnFrame(frame);
    }
    allocator->ReleaseFrame(frame);
}

}  // namespace norvane
