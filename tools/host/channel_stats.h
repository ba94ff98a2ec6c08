// Running figures of one channel as the host sees its deliveries.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>

#include "host/capture_sink.h"

namespace host {

struct ChannelCounts {
    uint64_t frames = 0;
    uint64_t keyFrames = 0;  // "H264" (key frame with its SPS) and "JPEG" pictures
    uint64_t bytes = 0;
    std::optional<SYSTEMTIME> firstCapture;
    std::optional<SYSTEMTIME> lastCapture;
};

class ChannelStats {
public:
    // `capture` is the frame's own time, or the host's stamp when the driver gave none.
    void Record(const DeliveredFrame& frame, const SYSTEMTIME& capture);
    ChannelCounts Counts();

private:
    std::mutex mutex_;
    ChannelCounts counts_;
};

// True for frames a decoder can start from.
bool IsKeyFrame(unsigned fourcc);
// True for a motion record ("MEMD") that reports motion.
bool IsMotionOn(const DeliveredFrame& record);

}  // namespace host
