// One channel's host side while streaming: the capture sink the driver delivers to, the running
// figures, and the writer that puts the frames into the channel's file.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "host/capture_sink.h"
#include "host/channel_stats.h"
#include "host/stream_writer.h"
#include "host/timeline.h"

namespace host {

class ChannelRecorder {
public:
    // Frames go to `output` through a queue of `capacity` frames; the timeline counts from
    // `origin`.
    ChannelRecorder(StreamWriter::Output output, size_t capacity,
                    TimelineClock::time_point origin = TimelineClock::now());
    ~ChannelRecorder();
    ChannelRecorder(const ChannelRecorder&) = delete;
    ChannelRecorder& operator=(const ChannelRecorder&) = delete;

    CaptureSink& Sink() { return sink_; }
    ChannelCounts Counts() { return stats_.Counts(); }
    WriterCounts Writer() { return writer_.Counts(); }
    uint64_t SignalLost() { return sink_.SignalLostCount(); }
    ChannelTimeline& Timeline() { return timeline_; }
    // Motion records ("MEMD") are counted and handed to the callback, never written.
    uint64_t MotionRecords() const { return motionRecords_; }
    void SetMotionCallback(std::function<void(const DeliveredFrame&)> callback) {
        motionCallback_ = std::move(callback);
    }
    // Writes what is queued; call once the channel is stopped.
    void Close();

private:
    void OnFrame(const DeliveredFrame& frame);

    std::atomic<uint64_t> motionRecords_{0};
    std::function<void(const DeliveredFrame&)> motionCallback_;  // set before the channel starts
    ChannelStats stats_;
    ChannelTimeline timeline_;
    StreamWriter writer_;
    CaptureSink sink_;
};

// File name of a channel's stream: "channel-N.h264" or "channel-N.mjpeg".
std::string StreamFileName(unsigned channel, int codecType);
// "h264" for codec type 3, "mjpeg" otherwise.
std::string CodecName(int codecType);

}  // namespace host
