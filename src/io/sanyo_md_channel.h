// Motion detection of a Sanyo camera: the camera's motion settings brought to fixed values, and
// the motion area of the live status page read once a second.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "io/base_motion_http_channel.h"

namespace norvane {

class CSanyoMDChannel : public CBaseMotionHTTPChannel {
public:
    static constexpr const char* SETTINGS_REQUEST = "/cgi-bin/alarm_set.cgi?status=1";
    static constexpr const char* POLL_REQUEST = "/liveimg.cgi?pol=1&motion=1";
    static constexpr size_t MOTION_AREA_OFFSET = 48;
    static constexpr size_t MOTION_AREA_SIZE = 32;

    CSanyoMDChannel(unsigned channel, ICaptureSink* sink, IDriver* driver);
    ~CSanyoMDChannel() override;

    bool ConfigureCamera() override;
    bool PollMotion() override;

    // "&key=wanted" when the settings page reports the key with another value; else empty.
    static std::string MakeSettingChange(std::string_view settings, const char* key,
                                         unsigned wanted);
    // False for a reply too short to hold the motion area; else `motion` tells whether any of
    // its bytes is set.
    static bool MotionInReply(const Web::ByteBuffer& reply, bool& motion);

private:
    bool Request(const std::string& path, Web::ByteBuffer& reply);

    uint32_t failureCounter = 0;  // log throttle, never reset
};

}  // namespace norvane
