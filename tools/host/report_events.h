// What the run report places on the time axis beside the frames: the driver's camera-state
// lines per channel and the alarm input changes, each as seconds from the run's start.
#pragma once

#include <cstddef>
#include <vector>

#include "host/io_sink.h"
#include "host/log_receiver.h"
#include "host/timeline.h"
#include "host/timeline_svg.h"

namespace host {

// Per channel, the latest `limit` "is online", "is offline" and "Signal was lost" lines of the
// driver log. A device of several channels names the channel ("(channel N)"), a device of one
// does not: such lines belong to channel 0. Lines of channels past `channels` are left out.
std::vector<std::vector<TimelineEvent>> CameraStateEvents(const std::vector<LogRecord>& log,
                                                          TimelineClock::time_point origin,
                                                          size_t channels, size_t limit);
// The latest `limit` input changes and failure notices.
std::vector<InputChange> InputChanges(const std::vector<IOEvent>& events,
                                      TimelineClock::time_point origin, size_t limit);

}  // namespace host
