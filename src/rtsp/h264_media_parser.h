// H.264 depacketiser (RFC 6184 single NAL units, STAP-A, FU-A) into Annex B access units.
#pragma once

#include "rtsp/media_parser.h"

namespace norvane {

class CH264RTPMediaParser : public CRTPMediaParser {
public:
    CH264RTPMediaParser(IDriver* driver, std::string sourceName);

    void ProcessPacket(const CRTPPacket& packet) override;
    void Reset() override;
    // Stores the sets only when both are whole units of their types and the SPS parses; the
    // picture size is then taken from it.
    void SetParameterSets(const std::vector<uint8_t>& sps, const std::vector<uint8_t>& pps,
                          const std::vector<uint8_t>& config) override;
    // A new session: the sets of the last one are dropped (they may describe another picture
    // size), then the session's own are stored as SetParameterSets does. Empty sets are none.
    // True when sets were stored.
    bool StartSession(const std::vector<uint8_t>& sps, const std::vector<uint8_t>& pps,
                      const std::vector<uint8_t>& config);

    bool IsWaitingForKeyFrame() const { return waitingForKeyFrame; }

private:
    bool AppendSingle(const uint8_t* data, size_t size, uint32_t timestamp);
    bool AppendStapA(const uint8_t* data, size_t size, uint32_t timestamp);
    bool AppendFuA(const uint8_t* data, size_t size, uint32_t timestamp);
    // Start code and NAL unit; records a slice for the multi-slice rule and the frame's SPS.
    void AppendUnit(const uint8_t* data, size_t size, uint32_t timestamp);
    // True for the first slice of an IDR picture (from the unit's first two bytes) in a frame
    // that carries no SPS before it. A later slice first means the picture's start was lost,
    // so it must not pass as a key frame.
    bool LacksParameterSets(const uint8_t* unit) const;
    // Stored SPS and PPS, before the slice LacksParameterSets found.
    void InsertParameterSets();
    void ClearBuffer();
    void EmitFrame();
    // Size from the frame's SPS (the first one before its first slice).
    bool ReadBufferSps(uint32_t& spsWidth, uint32_t& spsHeight) const;

    static constexpr size_t NO_SPS = SIZE_MAX;

    bool waitingForKeyFrame = true;
    bool frameEnd = false;
    bool fragmenting = false;  // an FU-A unit has begun and not yet ended
    // The buffer holds a slice whose packet had this RTP timestamp.
    bool holdsSlice = false;
    uint32_t sliceTimestamp = 0;
    size_t spsOffset = NO_SPS;  // NAL header of the frame's SPS in the buffer
    size_t unitStart = 0;       // NAL header of the last unit begun in the buffer
};

}  // namespace norvane
