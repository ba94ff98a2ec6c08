// One live status line per channel: redrawn in place on a terminal, printed as plain periodic
// lines otherwise, so that logs stay readable.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "host/channel_stats.h"

namespace host {

// Name of a channel state as GetChannelState reports it; "None" when the slot is empty.
std::string ChannelStateName(bool known, int state);

struct StatusFigures {
    unsigned channel = 0;
    std::string state;
    double fps = 0;
    double kbps = 0;
    uint64_t frames = 0;
    uint64_t keyFrames = 0;
    uint64_t signalLost = 0;  // the driver's signal-loss notices
    uint64_t dropped = 0;     // frames the writer had to drop
};

// Rates over the interval between two readings `seconds` apart (0 when it is empty).
StatusFigures MakeFigures(unsigned channel, const std::string& state, const ChannelCounts& now,
                          const ChannelCounts& before, double seconds);
std::string FormatStatus(const StatusFigures& figures);

class StatusLine {
public:
    StatusLine(std::FILE* out, bool terminal) : out_(out), terminal_(terminal) {}

    // How often lines are shown: every second on a terminal, every two seconds otherwise.
    std::chrono::milliseconds Interval() const;
    // On a terminal each call redraws the lines of the previous one; the cursor ends below.
    void Show(const std::vector<std::string>& lines);

private:
    std::FILE* out_;
    bool terminal_;
    size_t drawn_ = 0;  // lines of the last redraw
};

}  // namespace host
