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

// A fragment at offset 0 (bytes 1-3 of the main header) begins a picture.
bool StartsPicture(const uint8_t* data, size_t size) {
    return size >= kMainHeader && data[1] == 0 && data[2] == 0 && data[3] == 0;
}

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
    if (!collecting && StartsPicture(data, size)) {
        // The first fragment of a picture: no marker needs to precede it, so the first picture
        // of a session (or the one after a lost marker packet) is kept.
        buffer.clear();
        collecting = true;
    }
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
    IMediaParserClient* current = client;
    if (!current) {
        Reset();
        return;
    }
    const size_t length = BuildPicture() ? PictureLength() : 0;
    if (!length || !width || !height) {
        Reset();
        return;
    }
    Emit(current, length);
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

size_t CJpegRTPMediaParser::PictureLength() const {
    // Only the entropy-coded data after the header built here is searched: quantisation table
    // bytes may read as FF D9 and must not end the picture.
    const uint8_t* const begin = picture.data();
    const uint8_t* const end = begin + picture.size();
    for (const uint8_t* p = std::find(begin + JPEG_HEADER_SIZE, end, 0xFF); p + 1 < end;
         p = std::find(p + 1, end, 0xFF)) {
        if (p[1] == 0xD9)
            return static_cast<size_t>(p + 2 - begin);
    }
    return 0;
}

void CJpegRTPMediaParser::Emit(IMediaParserClient* target, size_t length) {
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
        target->OnFrame(frame);
    }
    allocator->ReleaseFrame(frame);
}

}  // namespace norvane
