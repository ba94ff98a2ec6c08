#include "host/channel_recorder.h"

#include "host/capture_time.h"

namespace host {

ChannelRecorder::ChannelRecorder(StreamWriter::Output output, size_t capacity)
    : writer_(std::move(output), capacity) {
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
        if (motionCallback_)
            motionCallback_(frame);
        return;
    }
    stats_.Record(frame, frame.timeSet ? frame.time : UtcNow());
    writer_.Push(frame.data);
}

void ChannelRecorder::Close() { writer_.Close(); }

std::string CodecName(int codecType) { return codecType == 3 ? "h264" : "mjpeg"; }

std::string StreamFileName(unsigned channel, int codecType) {
    return "channel-" + std::to_string(channel) + "." + CodecName(codecType);
}

}  // namespace host
