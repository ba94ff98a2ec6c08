#include "host/channel_stats.h"

namespace host {

bool IsKeyFrame(unsigned fourcc) {
    return fourcc == norvane::FOURCC_H264 || fourcc == norvane::FOURCC_JPEG;
}

bool IsMotionOn(const DeliveredFrame& record) {
    return record.data.size() >= 2 && record.data[1] != 0;
}

void ChannelStats::Record(const DeliveredFrame& frame, const SYSTEMTIME& capture) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++counts_.frames;
    counts_.keyFrames += IsKeyFrame(frame.fourcc);
    counts_.bytes += frame.data.size();
    if (!counts_.firstCapture)
        counts_.firstCapture = capture;
    counts_.lastCapture = capture;
}

ChannelCounts ChannelStats::Counts() {
    std::lock_guard<std::mutex> lock(mutex_);
    return counts_;
}

}  // namespace host
