#include "rtsp/timestamp_converter.h"

#include "foundation/time.h"

namespace norvane {

namespace {
constexpr uint64_t ONE_MS = 10000;  // file-time units
}  // namespace

void CTimeStampConverter::Update(uint32_t rtpTimestamp) {
    UpdateAt(rtpTimestamp, GetCurrentFileTime());
}

void CTimeStampConverter::UpdateAt(uint32_t rtpTimestamp, uint64_t now) {
    if (now == 0 || rtpTimestamp == 0)
        return;
    if (lastFrameTime == 0 || lastTimestamp == 0) {
        lastFrameTime = now;
        lastTimestamp = rtpTimestamp;
        return;
    }
    const int64_t step =
        (static_cast<int64_t>(rtpTimestamp) - static_cast<int64_t>(lastTimestamp)) * 100;
    uint64_t frameTime;
    if (step > 10000 && now > lastFrameTime + ONE_MS) {
        if (advanceCount > 0) {
            frameTime = now - ONE_MS;
            --advanceCount;
        } else {
            frameTime = now;
        }
    } else {
        frameTime = lastFrameTime + ONE_MS;
        ++advanceCount;
    }
    lastFrameTime = frameTime;
    lastTimestamp = rtpTimestamp;
}

SYSTEMTIME CTimeStampConverter::GetTime() const {
    SYSTEMTIME time{};
    if (lastFrameTime != 0 && lastTimestamp != 0 && FileTimeToSystemTime(lastFrameTime, &time))
        return time;
    FileTimeToSystemTime(GetCurrentFileTime(), &time);
    return time;
}

}  // namespace norvane
