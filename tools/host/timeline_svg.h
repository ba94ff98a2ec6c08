// Timelines drawn as inline SVG, every drawing on the same time axis (0 to the run's length,
// the same width), so that a channel's frames, its events and the alarm inputs line up.
#pragma once

#include <string>
#include <vector>

#include "host/timeline.h"

namespace host {

struct InputChange {
    double seconds;
    int index;  // alarm input; -1 for an I/O failure notice
    bool active;
};

// Frames per second and kbit/s per slot, key-frame ticks, the channel's events and the camera
// state lines `cameraEvents` as marked lines, and its motion records as a lane.
std::string ChannelTimelineSvg(const TimelineSnapshot& timeline,
                               const std::vector<TimelineEvent>& cameraEvents, double seconds);
// One lane per alarm input, shaded where it was active; failure notices as marked lines.
std::string InputsSvg(const std::vector<InputChange>& changes, double seconds);
// "12 s", "4:05", "1:02:03": a time on the axis.
std::string FormatOffset(double seconds);

}  // namespace host
