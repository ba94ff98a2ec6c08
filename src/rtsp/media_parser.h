// Base of the RTP depacketisers: sequence tracking, the frame buffer and the frame hand-over.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "foundation/idriver.h"
#include "rtsp/rtp_packet.h"
#include "rtsp/timestamp_converter.h"

namespace norvane {

// The owner of a depacketiser (the RTP channel), which passes frames on to the host.
class IMediaParserClient {
public:
    // True when the host accepted the frame.
    virtual bool OnFrame(IMediaFrame* frame) = 0;
    // (width, height) of the channel's capture parameters.
    virtual std::pair<uint32_t, uint32_t> GetFrameSize() = 0;

protected:
    ~IMediaParserClient() = default;  // never deleted through this view
};

// Size class the host files a frame under: 1 below 200 wide, 2 below 400, 3 for wide pictures
// below 1024, 4 otherwise.
unsigned FrameSizeClass(uint32_t width, uint32_t height);

class CRTPMediaParser {
public:
    static constexpr size_t FRAME_BUFFER_LIMIT = 10485760;

    CRTPMediaParser(IDriver* driver, std::string sourceName);
    virtual ~CRTPMediaParser() = default;
    CRTPMediaParser(const CRTPMediaParser&) = delete;
    CRTPMediaParser& operator=(const CRTPMediaParser&) = delete;

    // Called for every packet of the channel, in arrival order, on the receiver's queue thread.
    virtual void ProcessPacket(const CRTPPacket& packet) = 0;
    // Drops the partly assembled frame.
    virtual void Reset() = 0;
    // Stores copies of the sequence and picture parameter sets and the codec configuration.
    virtual void SetParameterSets(const std::vector<uint8_t>& sps, const std::vector<uint8_t>& pps,
                                  const std::vector<uint8_t>& config);

    void SetClient(IMediaParserClient* newClient) { client = newClient; }
    // True while the frame buffer is within FRAME_BUFFER_LIMIT; logs an overflow otherwise.
    bool CheckBufferSize();

    uint32_t GetWidth() const { return width; }
    uint32_t GetHeight() const { return height; }

protected:
    // True when `sequence` follows the last one (or is the first ever); records it either way.
    bool ContinuesSequence(uint16_t sequence);
    // Host frame capacity for `size` bytes, rounded up to steps the host can reuse.
    static unsigned FrameCapacity(size_t size);
    // Copies the picture into the frame; false when the frame has no data buffer.
    bool CopyPicture(IMediaFrame* frame, const uint8_t* data, size_t size);

    bool firstPacket = true;
    uint16_t lastSequence = 0;
    IDriver* driver;
    std::string sourceName;
    // Set by the owner's thread while the queue thread may be emitting; read once per frame.
    std::atomic<IMediaParserClient*> client{nullptr};
    CTimeStampConverter converter;
    std::vector<uint8_t> buffer;
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> sequenceParameterSet;
    std::vector<uint8_t> pictureParameterSet;
    std::vector<uint8_t> codecConfiguration;
};

}  // namespace norvane
