#include "rtsp/jpeg_media_parser.h"

#include <algorithm>

#include "rtsp/jpeg_header.h"

namespace norvane {

namespace {

constexpr size_t kMainHeader = 8;
constexpr size_t kLumaTableOffset = 12;
constexpr size_t kChromaTableOffset = 76;
constexpr size_t kInBandScanOffset = 140;
constexpr size_t kHeaderReserve = 1024;

unsigned ReadU16(const uint8_t* p) { return unsigned{p[0]} << 8 | p[1]; }

}  // namespace

CJpegRTPMediaParser::CJpegRTPMediaParser(IDriver* driver_, std::string sourceName_)
    : CRTPMediaParser(driver_, std::move(sourceName_)) {}

void CJpegRTPMediaParser::ProcessPacket(const CRTPPacket& packet) {
    if (!ContinuesSequence(packet.GetSequenceNumber())) {
        collecting = false;
        buffer.clear();
    }
    const uint8_t* data = packet.GetPayload();
    const size_t size = packet.GetPayloadLength();
    if (collecting) {
        if (size >= 2 && data[0] == 0x71 && data[1] == 0x01)
            return;
        Collect(data, size);
    }
    if (packet.GetMarker()) {
        if (!buffer.empty() && collecting)
            BuildAndEmit();
        buffer.clear();
        collecting = true;
    }
}

void CJpegRTPMediaParser::Reset() {
    collecting = false;
    width = 0;
    height = 0;
    buffer.clear();
}

void CJpegRTPMediaParser::Collect(const uint8_t* data, size_t size) {
    if (!size)
        return;
    if (buffer.empty())
        buffer.insert(buffer.end(), data, data + size);
    else if (size > kMainHeader)
        buffer.insert(buffer.end(), data + kMainHeader, data + size);
    if (!CheckBufferSize()) {
        collecting = false;
        buffer.clear();
    }
}

void CJpegRTPMediaParser::BuildAndEmit() {
    if (!client) {
        Reset();
        return;
    }
    const size_t length = BuildPicture() ? ScanMarkers() : 0;
    if (!length || !width || !height) {
        Reset();
        return;
    }
    Emit(length);
}

bool CJpegRTPMediaParser::BuildPicture() {
    // A first fragment too short for its main header (or its in-band tables) is dropped.
    if (buffer.size() < kMainHeader)
        return false;
    const uint8_t type = buffer[4];
    const unsigned q = buffer[5];
    width = buffer[6] * 8u;
    height = buffer[7] * 8u;
    QuantTable luma, chroma;
    size_t scanOffset = kMainHeader;
    if (q >= 128) {
        if (buffer.size() < kInBandScanOffset)
            return false;
        std::copy_n(buffer.begin() + kLumaTableOffset, 64, luma.begin());
        std::copy_n(buffer.begin() + kChromaTableOffset, 64, chroma.begin());
        scanOffset = kInBandScanOffset;
    } else {
        MakeQuantTables(q, luma, chroma);
    }
    picture.clear();
    picture.reserve(buffer.size() + kHeaderReserve);
    AppendJpegHeader(picture, type, static_cast<uint16_t>(width), static_cast<uint16_t>(height),
                     luma.data(), chroma.data());
    picture.insert(picture.end(), buffer.begin() + static_cast<ptrdiff_t>(scanOffset),
                   buffer.end());
    return true;
}

size_t CJpegRTPMediaParser::ScanMarkers() {
    inImage = false;
    const uint8_t* const begin = picture.data();
    const uint8_t* const end = begin + picture.size();
    for (const uint8_t* p = std::find(begin, end, 0xFF); p + 1 < end;
         p = std::find(p + 1, end, 0xFF)) {
        const uint8_t marker = p[1];
        if (marker == 0xC0 && end - p >= 10) {
            height = ReadU16(p + 5);
            width = ReadU16(p + 7);
        } else if (marker == 0xD8) {
            inImage = true;
        } else if (marker == 0xD9 && inImage) {
            return static_cast<size_t>(p + 2 - begin);
        }
    }
    return 0;
}

void CJpegRTPMediaParser::Emit(size_t length) {
    IFrameAllocator* allocator = driver->GetFrameAllocator();
    if (!allocator)
        return;
    IMediaFrame* frame =
        allocator->AllocateFrame(FOURCC_JPEG, static_cast<unsigned>(length), sourceName.c_str());
    if (!frame)
        return;
    driver->SetLastFrameSize(static_cast<int>(width), static_cast<int>(height));
    if (CopyPicture(frame, picture.data(), length)) {
        frame->SetDataSize(static_cast<unsigned>(length));
        frame->SetWidth(width);
        frame->SetHeight(height);
        frame->SetSizeClass(FrameSizeClass(width, height));
        frame->StampTime();
        client->OnFrame(frame);
    }
    allocator->ReleaseFrame(frame);
}

}  // namespace norvane
