// Streams every channel of a driver's video capture to files for a bounded time, with live
// status lines, and gathers the per-channel summaries when it stops.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/channel_recorder.h"
#include "host/status_line.h"
#include "host/stop_signal.h"
#include "host/summary.h"
#include "norvane/ipcapture.h"

namespace host {

struct SessionOptions {
    std::string outDir;
    int codecType = 3;
    size_t queueFrames = 100;  // writer queue per channel
};

class StreamSession {
public:
    StreamSession(norvane::ipcapture::IIPVideoCapture& video, norvane::IChannelConfig& config,
                  SessionOptions options);
    ~StreamSession();
    StreamSession(const StreamSession&) = delete;
    StreamSession& operator=(const StreamSession&) = delete;

    // Each motion record as it arrives, with its channel index; set before Open.
    void SetMotionCallback(std::function<void(unsigned, const DeliveredFrame&)> callback) {
        onMotion_ = std::move(callback);
    }
    // Creates the output folder and one stream file per channel; false with the reason.
    bool Open(std::string& error);
    // Starts every channel; false when one did not start.
    bool Start();
    // Shows the status lines until `duration` has passed or a stop signal came; true when the
    // signal ended it.
    bool Run(std::chrono::seconds duration, StopSignal& stop, StatusLine& status);
    // One status line per channel, rates over the time since the last call.
    std::vector<std::string> StatusLines();
    // Records each channel's state and signal-loss notices in its timeline (Run does, each
    // time it shows the status).
    void Observe();
    // Each channel's timeline, counted from the session's construction (`Origin`).
    std::vector<TimelineSnapshot> Timelines();
    TimelineClock::time_point Origin() const { return origin_; }
    // Stops every channel, writes what is queued and returns the per-channel figures.
    std::vector<ChannelSummary> Stop();

private:
    struct Channel {
        std::unique_ptr<ChannelRecorder> recorder;
        bool started = false;
        ChannelCounts shown;  // figures at the last status line
    };

    std::string StateName(unsigned index);

    norvane::ipcapture::IIPVideoCapture& video_;
    norvane::IChannelConfig& config_;
    const SessionOptions options_;
    const TimelineClock::time_point origin_;
    std::function<void(unsigned, const DeliveredFrame&)> onMotion_;
    std::vector<Channel> channels_;
    std::chrono::steady_clock::time_point started_;
    std::chrono::steady_clock::time_point shownAt_;
    bool stopped_ = false;
};

}  // namespace host
