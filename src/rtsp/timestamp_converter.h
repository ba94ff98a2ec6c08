// How a frame's capture time is made: from the RTP timestamp of each completed frame and the
// time it arrived.
#pragma once

#include <cstdint>

#include "norvane/types.h"

namespace norvane {

// Turns the RTP timestamps of completed frames into frame times that are arrival times, kept at
// least 1 ms apart and never going back while frames come faster or repeat a timestamp.
class CTimeStampConverter {
public:
    CTimeStampConverter() = default;
    virtual ~CTimeStampConverter() = default;

    // Records a completed frame's RTP timestamp at the current time.
    void Update(uint32_t rtpTimestamp);
    // As Update, with `now` as the arrival time (file time, 100 ns units).
    void UpdateAt(uint32_t rtpTimestamp, uint64_t now);
    // The last frame time, or the current time before any frame.
    SYSTEMTIME GetTime() const;

    uint64_t GetLastFrameTime() const { return lastFrameTime; }
    uint16_t GetAdvanceCount() const { return advanceCount; }

private:
    uint64_t lastFrameTime = 0;
    uint32_t lastTimestamp = 0;
    uint16_t advanceCount = 0;
};

}  // namespace norvane
