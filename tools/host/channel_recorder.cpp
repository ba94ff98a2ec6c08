#include "host/channel_recorder.h"

#include "host/capture_time.h"

namespace host {

ChannelRecorder::ChannelRecorder(StreamWriter::Output output, size_t capacity,
                                 TimelineClock::time_point origin)
    : timeline_(origin), writer_(std::move(output), capacity) {
    sink_.SetKeepFrames(false);
    sink_.SetFrameCallback([this](const DeliveredFrame& frame) { OnFrame(frame); });
}

ChannelRecorder::~ChannelRecorder() {
    sink_.SetFrameCallback({});
    writer_.Close();
}

void ChannelRecorder::OnFrame(const DeliveredFrame& frame) {
    if (frame.fourcc == norvane::FOURCC_MEMD) {
        ++motionRecords_;
        timeline_.AddMotion(TimelineClock::now(), IsMotionOn(frame));
        if (motionCallback_)
            motionCallback_(frame);
        return;
    }
    stats_.Record(frame, frame.timeSet ? frame.time : UtcNow());
    timeline_.AddFrame(TimelineClock::now(), frame.data.size(), IsKeyFrame(frame.fourcc));
    writer_.Push(frame.data);
}

void ChannelRecorder::Close() { writer_.Close(); }

std::string CodecName(int codecType) { return codecType == 3 ? "h264" : "mjpeg"; }

std::string StreamFileName(unsigned channel, int codecType) {
    return "channel-" + std::to_string(channel) + "." + CodecName(codecType);
}

}  // namespace host
