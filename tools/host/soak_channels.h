// The channels of a soak: one sink each that counts video frames apart from motion records, and
// the frame counts at the last mark, so that a run can tell which channels delivered since.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

#include "host/capture_sink.h"
#include "host/channel_config.h"
#include "norvane/ipcapture.h"

namespace host {

// A channel's sink whose frame count is video alone: motion records are counted apart, so that
// a channel that only reports motion does not pass for one that delivers pictures.
class VideoSink : public CaptureSink {
public:
    bool DeliverFrame(norvane::IMediaFrame* media) override;
    size_t MotionRecords() const { return motion_; }

private:
    std::atomic<size_t> motion_{0};
};

class SoakChannels {
public:
    // `count` channels of 320x240 with motion detection on, not yet started.
    SoakChannels(norvane::ipcapture::IIPVideoCapture& video, unsigned count);
    // Stops every channel.
    ~SoakChannels();
    SoakChannels(const SoakChannels&) = delete;
    SoakChannels& operator=(const SoakChannels&) = delete;

    // Starts every channel; how many started.
    unsigned Start();
    size_t Count() const { return sinks_.size(); }
    size_t Frames(unsigned channel) const { return sinks_[channel]->FrameCount(); }
    size_t SignalLost() const;
    size_t MotionRecords() const;
    // Channels that delivered no frame since the last Mark.
    std::vector<unsigned> Silent() const;
    // Waits (bounded) until every channel delivered since the last Mark; the silent ones.
    std::vector<unsigned> WaitAllDelivered(std::chrono::steady_clock::time_point deadline) const;
    // Frames since the last Mark: fewest and most over the channels.
    std::pair<size_t, size_t> Spread() const;
    void Mark();

private:
    norvane::ipcapture::IIPVideoCapture& video_;
    ChannelConfig config_{320, 240};
    std::vector<std::unique_ptr<VideoSink>> sinks_;
    std::vector<size_t> marks_;
};

}  // namespace host
