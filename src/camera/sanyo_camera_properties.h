// The Sanyo camera properties reader: model and camera group, firmware, MAC address, RTSP port
// and stream paths, video standard, aspect ratio, interlace, picture sizes with frame periods,
// codecs and alarm counts, read from the camera's status pages.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <string_view>

#include "camera/camera_properties.h"
#include "foundation/event.h"
#include "http/http_client.h"

namespace norvane {

class CSanyoCameraProperties : public CCameraPropertiesEx {
public:
    static constexpr uint32_t DEFAULT_RTSP_PORT = 554;
    static constexpr uint32_t UNKNOWN_GROUP = 6;
    static constexpr uint32_t UNKNOWN_ASPECT = 255;
    // Frame period the host offers as its default choice, ms.
    static constexpr uint32_t DEFAULT_FRAME_PERIOD = 500;
    // Alarm inputs a camera of the family has at most: the input poll reads them as the bits of
    // one status byte. A page listing more fails the read, so a camera cannot make the reader
    // send a request per listed input.
    static constexpr uint32_t MAX_ALARM_INPUTS = 8;

    CSanyoCameraProperties(const DEVICE_INFO& device, bool readerFlag);
    ~CSanyoCameraProperties() override;

    bool ReadProperties(int& code) override;
    bool WriteResults(ICapabilityResults* results) override;
    void Abort() override;

    // The camera group a model name belongs to; `group` when the name matches none.
    static uint32_t GroupOfModel(const std::string& modelName, uint32_t group);

    uint32_t CameraGroup() const { return cameraGroup; }

private:
    bool ReadModel();
    bool ReadRtsp();
    bool ReadAspectRatio();
    bool ReadInterlace();
    bool AddFrameRatesAndSizes();
    bool ReadAlarms();
    bool ReadGroup2Alarms();
    bool ReadOtherAlarms();

    // The page's text, seen in `reply` until the next request; false when the request fails or
    // the body is empty.
    bool Request(const std::string& path, std::string_view& text);
    // A switching request whose outcome does not matter.
    void Send(const std::string& path);
    void ReadRtspPort(std::string_view text);

    CManualEvent abortEvent;  // set only by Abort: every request then fails at once
    Web::CHttpClient httpClient;
    Web::ByteBuffer reply;  // the last page read
    bool thirtyFrameFamily = false;
    std::set<uint32_t> frameRates;  // frames per second
    uint32_t rtspPort = DEFAULT_RTSP_PORT;
    uint32_t cameraGroup = UNKNOWN_GROUP;
    std::string mjpegPath;
    std::string h264Path;
    std::string macAddress;
    std::string firmware;
    uint32_t aspectClass = UNKNOWN_ASPECT;
    bool interlace = false;
};

}  // namespace norvane
