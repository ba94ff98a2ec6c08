// What kind of camera the simulator plays: model, camera group, video standard, codecs, I/O.
#pragma once

#include <string>

namespace camsim {

struct Personality {
    std::string modelName = "VCC-HD4000";  // empty: the status page has no model_name line
    std::string modelValue = "1";           // the status page's `model` value
    int group = 2;                          // group 2 cameras use their own pages and offsets
    bool family25 = false;                  // tv_format (1): 25-frame family; (0): 30-frame
    int aspectRatio = 1;                    // aspect.cgi value
    bool audio = false;
    int modelCodec = 1;  // 0 Motion-JPEG only, 1 both, 2 H.264 only
    int inputs = 1;
    int outputs = 1;
    std::string mac = "0080F0A1B2C3";
    std::string camMainVersion = "2.10";
    std::string camSubVersion = "1.03";
    std::string netMainVersion = "3.01";
    std::string netSubVersion = "1.00";
    std::string h264Path = "h264";
    std::string mjpegPath = "mjpeg";
    bool streamsInNetPage = true;  // false: net.cgi reports only rtsp_port
    bool interlace = false;
    int streamCount = 4;

    // A preset for a model name of the family; unknown names get a group 1 camera.
    static Personality ForModel(const std::string& modelName);
};

}  // namespace camsim
