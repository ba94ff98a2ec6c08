// tavrin-host's streaming run: loads the driver library, probes the camera (the bundled
// simulator unless an address is given), streams its channels to files for a bounded time with
// a live status line per channel, and writes summary.json, driver.log and report.html.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "host/camera_options.h"
#include "host/io_command.h"

namespace host {

struct StreamOptions {
    CameraOptions camera;
    IOOptions io;
    int codec = 3;
    int channels = 1;
    uint16_t width = 1920;
    uint16_t height = 1080;
    bool sizeGiven = false;  // --width or --height was given
    uint16_t framePeriod = 40;
    uint16_t quality = 50;
    unsigned seconds = 10;
    std::string out = "tavrin-out";
    size_t queue = 100;
    std::map<int, std::string> custom;
    std::string rtspTransport = "auto";
    bool transportGiven = false;  // --rtsp-transport was given
};

// Motion-JPEG asks for 1280x720 unless a size was given: the driver receives it over HTTP
// above 1600 wide.
void ApplyDefaultSize(StreamOptions& options);
// The custom parameters handed to the driver: `custom` with the RTP transport (the given one
// wins over a probed one) and "(none)" for every number before it that holds nothing.
std::map<int, std::string> DriverCustomParameters(const StreamOptions& options,
                                                  std::map<int, std::string> custom);
// 0 when every channel started and delivered frames, 1 when one did not, 2 when the library
// or the simulator could not be used.
int RunStreamCommand(StreamOptions& options);

}  // namespace host
