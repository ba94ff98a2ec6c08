#include "rtsp/h264_media_parser.h"

#include <algorithm>

#include "rtsp/h264_sps.h"

namespace norvane {

namespace {

constexpr uint8_t kStartCode[] = {0, 0, 1};
constexpr uint8_t kFrameTrailer[] = {0, 0, 1, 9, 0x30};  // access unit delimiter

constexpr uint8_t kSliceNonIdr = 1;
constexpr uint8_t kSliceIdr = 5;
constexpr uint8_t kSps = 7;
constexpr uint8_t kPps = 8;
constexpr uint8_t kReserved17 = 17;  // reserved type some cameras send: carries nothing to keep
constexpr uint8_t kStapA = 24;
constexpr uint8_t kFuA = 28;

// NAL unit header (H.264 7.3.1, RFC 6184 1.3): |F|NRI|  Type   |
constexpr uint8_t kForbiddenAndNri = 0xE0;
constexpr uint8_t kTypeMask = 0x1F;

// RFC 6184 5.7.1, STAP-A: the STAP-A NAL header, then per unit a 16-bit size and the unit:
// +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
// |STAP-A NAL HDR |         NALU 1 Size           | NALU 1 HDR    |
// +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
// |                         NALU 1 Data ...  | NALU 2 Size | ...  |
constexpr size_t kStapSizeField = 2;

// 5.8, FU-A: the FU indicator (F, NRI of the unit, type 28), the FU header, the fragment:
// +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
// | FU indicator  |   FU header   |   FU header: |S|E|R|  Type   |
// +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
constexpr size_t kFuHeaders = 2;
constexpr uint8_t kFuStart = 0x80;
constexpr uint8_t kFuEnd = 0x40;

uint8_t NalType(uint8_t header) { return header & kTypeMask; }

bool IsSlice(uint8_t type) { return type == kSliceNonIdr || type == kSliceIdr; }

// A NAL unit type RTP may carry on its own, aggregated or fragmented (RFC 6184 5.2).
bool IsUnitType(uint8_t type) {
    return type >= 1 && type <= 23;
}

// A start code inside a NAL unit would split it in the Annex B stream (H.264 7.4.1 forbids it).
bool HoldsStartCode(const uint8_t* begin, const uint8_t* end) {
    return std::search(begin, end, std::begin(kStartCode), std::end(kStartCode)) != end;
}

// A whole NAL unit of the parameter-set type given, fit to stand between start codes.
bool IsParameterSet(const std::vector<uint8_t>& unit, uint8_t type) {
    return !unit.empty() && NalType(unit[0]) == type &&
           !HoldsStartCode(unit.data(), unit.data() + unit.size());
}

// first_mb_in_slice, the first ue(v) of the slice header, is 0 exactly when its first bit is 1.
bool StartsPicture(uint8_t firstSliceHeaderByte) { return firstSliceHeaderByte & 0x80; }

// Size from the SPS whose NAL header is at `header`, read to `end`.
bool ParseSps(const uint8_t* header, const uint8_t* end, uint32_t& width, uint32_t& height) {
    return ParseSequenceParameterSet(header + 1, end, width, height);
}

}  // namespace

CH264RTPMediaParser::CH264RTPMediaParser(IDriver* driver_, std::string sourceName_)
    : CRTPMediaParser(driver_, std::move(sourceName_)) {}

void CH264RTPMediaParser::ProcessPacket(const CRTPPacket& packet) {
    if (!ContinuesSequence(packet.GetSequenceNumber()))
        Reset();
    frameEnd = true;
    const uint8_t* data = packet.GetPayload();
    const size_t size = packet.GetPayloadLength();
    const uint32_t timestamp = packet.GetTimestamp();
    bool ok = false;
    if (data && size) {
        const uint8_t type = NalType(data[0]);
        if (IsUnitType(type))
            ok = AppendSingle(data, size, timestamp);
        else if (type == kStapA)
            ok = AppendStapA(data, size, timestamp);
        else if (type == kFuA)
            ok = AppendFuA(data, size, timestamp);
    }
    if (!ok || !CheckBufferSize()) {
        Reset();
        return;
    }
    // A marker ends a frame only once it holds a picture; parameter sets or an SEI marked on
    // their own go with the next slice.
    if (packet.GetMarker() && frameEnd && holdsSlice) {
        converter.Update(timestamp);
        EmitFrame();
        ClearBuffer();
    }
}

void CH264RTPMediaParser::Reset() {
    ClearBuffer();
    width = 0;
    height = 0;
    waitingForKeyFrame = true;
}

void CH264RTPMediaParser::SetParameterSets(const std::vector<uint8_t>& sps,
                                           const std::vector<uint8_t>& pps,
                                           const std::vector<uint8_t>& config) {
    if (!IsParameterSet(sps, kSps) || !IsParameterSet(pps, kPps))
        return;
    std::vector<uint8_t> sets(std::begin(kStartCode), std::end(kStartCode));
    sets.insert(sets.end(), sps.begin(), sps.end());
    sets.insert(sets.end(), std::begin(kStartCode), std::end(kStartCode));
    sets.insert(sets.end(), pps.begin(), pps.end());
    if (ParseSps(sets.data() + 3, sets.data() + sets.size(), width, height))
        CRTPMediaParser::SetParameterSets(sps, pps, config);
}

bool CH264RTPMediaParser::StartSession(const std::vector<uint8_t>& sps,
                                       const std::vector<uint8_t>& pps,
                                       const std::vector<uint8_t>& config) {
    Reset();
    CRTPMediaParser::SetParameterSets({}, {}, {});
    SetParameterSets(sps, pps, config);
    return !sequenceParameterSet.empty();
}

bool CH264RTPMediaParser::AppendSingle(const uint8_t* data, size_t size, uint32_t timestamp) {
    if (size < 3 || HoldsStartCode(data, data + size))
        return false;
    const uint8_t type = NalType(data[0]);
    if (type == kReserved17)
        return true;
    if (LacksParameterSets(data))
        InsertParameterSets();
    if (type == kSps || type == kPps)
        frameEnd = size > 64;  // a camera may mark small parameter-set packets
    AppendUnit(data, size, timestamp);
    return true;
}

bool CH264RTPMediaParser::AppendStapA(const uint8_t* data, size_t size, uint32_t timestamp) {
    if (size < 1 + kStapSizeField + 1)
        return false;
    size_t pos = 1;
    while (size - pos > 1) {
        const size_t unit = size_t{data[pos]} << 8 | data[pos + 1];
        pos += kStapSizeField;
        if (size - pos < unit || unit == 0 || !IsUnitType(NalType(data[pos])) ||
            HoldsStartCode(data + pos, data + pos + unit))
            return false;
        AppendUnit(data + pos, unit, timestamp);
        pos += unit;
    }
    return true;
}

bool CH264RTPMediaParser::AppendFuA(const uint8_t* data, size_t size, uint32_t timestamp) {
    if (size < kFuHeaders + 1)
        return false;
    const bool start = data[1] & kFuStart;
    if (!start && !fragmenting)
        return false;  // the unit's start fragment was not seen
    if (start && !IsUnitType(NalType(data[1])))
        return false;
    if (start) {
        // The rebuilt NAL header and the unit's first byte.
        const uint8_t unit[] = {static_cast<uint8_t>((data[0] & kForbiddenAndNri) | NalType(data[1])), data[2]};
        // Slices of one picture share a timestamp; keep the earlier slices of a multi-slice
        // picture and drop anything else left in the buffer.
        if (NalType(unit[0]) != kSliceIdr && !(holdsSlice && sliceTimestamp == timestamp))
            ClearBuffer();
        else if (LacksParameterSets(unit))
            InsertParameterSets();
        AppendUnit(unit, sizeof unit, timestamp);
    }
    // Searched from the last two bytes before this fragment: a start code may straddle it.
    const size_t searchFrom =
        std::max(unitStart, buffer.size() - std::min<size_t>(buffer.size(), 2));
    buffer.insert(buffer.end(), data + kFuHeaders + (start ? 1 : 0), data + size);
    fragmenting = !(data[1] & kFuEnd);
    return !HoldsStartCode(buffer.data() + searchFrom, buffer.data() + buffer.size());
}

void CH264RTPMediaParser::AppendUnit(const uint8_t* data, size_t size, uint32_t timestamp) {
    fragmenting = false;
    buffer.insert(buffer.end(), std::begin(kStartCode), std::end(kStartCode));
    unitStart = buffer.size();
    const uint8_t type = size ? NalType(data[0]) : 0;
    if (type == kSps && !holdsSlice && spsOffset == NO_SPS)
        spsOffset = buffer.size();
    buffer.insert(buffer.end(), data, data + size);
    if (IsSlice(type)) {
        holdsSlice = true;
        sliceTimestamp = timestamp;
    }
}

bool CH264RTPMediaParser::LacksParameterSets(const uint8_t* unit) const {
    return NalType(unit[0]) == kSliceIdr && StartsPicture(unit[1]) && !holdsSlice &&
           spsOffset == NO_SPS;
}

void CH264RTPMediaParser::InsertParameterSets() {
    if (sequenceParameterSet.empty() || pictureParameterSet.empty())
        return;
    AppendUnit(sequenceParameterSet.data(), sequenceParameterSet.size(), 0);
    AppendUnit(pictureParameterSet.data(), pictureParameterSet.size(), 0);
}

void CH264RTPMediaParser::ClearBuffer() {
    buffer.clear();
    fragmenting = false;
    holdsSlice = false;
    spsOffset = NO_SPS;
}

bool CH264RTPMediaParser::ReadBufferSps(uint32_t& spsWidth, uint32_t& spsHeight) const {
    return spsOffset != NO_SPS && ParseSps(buffer.data() + spsOffset,
                                           buffer.data() + buffer.size(), spsWidth, spsHeight);
}

void CH264RTPMediaParser::EmitFrame() {
    IFrameAllocator* allocator = driver->GetFrameAllocator();
    IMediaParserClient* target = client;
    if (!allocator || !target || buffer.empty())
        return;
    buffer.insert(buffer.end(), std::begin(kFrameTrailer), std::end(kFrameTrailer));
    uint32_t fourcc = FOURCC_I264;
    if (ReadBufferSps(width, height)) {
        fourcc = FOURCC_H264;
        waitingForKeyFrame = false;
    } else if (waitingForKeyFrame) {
        return;
    }
    IMediaFrame* frame = allocator->AllocateFrame(fourcc, FrameCapacity(buffer.size()),
                                                  sourceName.c_str());
    if (!frame) {
        Reset();  // the host misses this frame: later ones would lack their reference
        return;
    }
    if (!CopyPicture(frame, buffer.data(), buffer.size())) {
        Reset();
    } else {
        frame->SetWidth(width);
        frame->SetHeight(height);
        frame->SetSizeClass(FrameSizeClass(width, height));
        frame->SetDataSize(static_cast<unsigned>(buffer.size()));
        frame->SetFourCC(fourcc);
        const SYSTEMTIME time = converter.GetTime();
        frame->SetTime(&time);
        if (fourcc == FOURCC_H264)  // the picture size PTZ centring needs
            driver->SetLastFrameSize(static_cast<int>(width), static_cast<int>(height));
        if (!target->OnFrame(frame))
            Reset();
    }
    allocator->ReleaseFrame(frame);
}

}  // namespace norvane
