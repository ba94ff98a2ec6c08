#include "camera/sanyo_camera_properties.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "camera/custom_parameters.h"
#include "camera/stream_codes.h"
#include "http/camera_request.h"
#include "http/utils.h"

namespace norvane {

namespace {

constexpr const char* MODEL_STATUS = "/cgi-bin/cam_set.cgi?status=1";
constexpr const char* NET_STATUS = "/cgi-bin/net.cgi?status=1";
constexpr const char* RTSP_STATUS = "/cgi-bin/codec_stream.cgi?status=1&rtsp_rtp=1";
constexpr const char* ASPECT_STATUS = "/cgi-bin/aspect.cgi?status=1";
constexpr const char* CODEC_STATUS = "/cgi-bin/codec_stream.cgi?status=1";
constexpr const char* ALARM_IN_STATUS = "/cgi-bin/alarm_in.cgi?status=1";
constexpr const char* ALARM_OUT_STATUS = "/cgi-bin/alarm_out.cgi?status=1";
constexpr const char* ALARM_OUT_ON = "/cgi-bin/alarm_out.cgi?alarm_out_sw=1";
constexpr const char* ALARM_STATUS = "/cgi-bin/alarm_set.cgi?status=1";
constexpr const char* ALARM_SET = "/cgi-bin/alarm_set.cgi?";

constexpr const char* MAKER = "Sanyo";
constexpr const char* DEFAULT_MODEL = "VCC-HD4000";  // cameras without a model_name line

struct ModelGroup {
    const char* name;
    uint32_t group;
};

// First match wins; "HD" alone is every other HD model.
constexpr ModelGroup MODEL_GROUPS[] = {
    {"HD4000", 2}, {"HD2300", 3}, {"HD2100", 3}, {"HD3300", 3}, {"HD3100", 3},
    {"HD4600", 4}, {"HD5600", 5}, {"HD5400", 5}, {"HD", 1},
};

struct FirmwareLine {
    const char* name;
    const char* prefix;
};

constexpr FirmwareLine FIRMWARE_LINES[] = {
    {"CAM MAIN Ver", "CAM MAIN:"},
    {"CAM SUB  Ver", " CAM SUB:"},
    {"NET MAIN Ver", " NET MAIN:"},
    {"NET SUB  Ver", " NET SUB:"},
};

// Frames per second a camera offers, by group and video standard.
constexpr uint32_t GROUP2_RATES_25[] = {25, 20, 15, 12, 10, 5, 3, 2, 1};
constexpr uint32_t GROUP2_RATES_30[] = {30, 20, 15, 10, 5, 3, 2, 1};
constexpr uint32_t OTHER_RATES_25[] = {25, 12, 8, 5, 2, 1};
constexpr uint32_t OTHER_RATES_30[] = {30, 15, 10, 5, 3, 1};

constexpr uint16_t LARGEST_WIDTH = 2288;  // offered at its own frame period only
constexpr uint32_t LARGEST_PERIOD = 200;  // ms
constexpr uint32_t GROUP_WITHOUT_LARGEST = 5;

bool Contains(std::string_view text, const char* part) {
    return text.find(part) != std::string_view::npos;
}

std::string Plain(const char* name, std::string_view text) {
    return Utils::GetPlainReplyValue(name, text);
}

std::string OrDefault(const std::string& text, const char* fallback) {
    return text.empty() ? fallback : text;
}

// 1 for narrow pictures (width/height at most 1.5), 0 for wide ones.
uint32_t AspectClassOf(uint32_t width, uint32_t height) {
    return width * 2 <= height * 3 ? 1 : 0;
}

}  // namespace

CSanyoCameraProperties::CSanyoCameraProperties(const DEVICE_INFO& device, bool readerFlag)
    : CCameraPropertiesEx(device, readerFlag), httpClient(Device(), Web::HTTP_CLIENT_AGENT) {
    httpClient.SetStopEvent(&abortEvent);
}

CSanyoCameraProperties::~CSanyoCameraProperties() {
    httpClient.SetStopEvent(nullptr);
}

uint32_t CSanyoCameraProperties::GroupOfModel(const std::string& modelName, uint32_t group) {
    for (const ModelGroup& entry : MODEL_GROUPS)
        if (Contains(modelName, entry.name))
            return entry.group;
    return group;
}

bool CSanyoCameraProperties::ReadProperties(int& code) {
    return RunSteps({[this] { return ReadModel(); }, [this] { return ReadRtsp(); },
                     [this] { return ReadAspectRatio(); }, [this] { return ReadInterlace(); },
                     [this] { return AddFrameRatesAndSizes(); }, [this] { return ReadAlarms(); }},
                    code);
}

void CSanyoCameraProperties::Abort() {
    Cancel();
    abortEvent.Set();
    httpClient.CloseRequest();
}

bool CSanyoCameraProperties::Request(const std::string& path, std::string_view& text) {
    text = {};
    if (!Utils::SendRequestWithLanguageFallback(httpClient, reply, path, &abortEvent))
        return false;
    text = Utils::ReplyText(reply);
    return !text.empty();
}

void CSanyoCameraProperties::Send(const std::string& path) {
    Utils::SendRequestRD(httpClient, path);
}

bool CSanyoCameraProperties::ReadModel() {
    std::string_view text;
    if (!Request(MODEL_STATUS, text))
        return false;
    const std::string name = Plain("model_name", text);
    if (name.empty()) {
        cameraGroup = GroupOfModel(DEFAULT_MODEL, cameraGroup);
        model = std::string(MAKER) + DEFAULT_MODEL;
    } else {
        cameraGroup = GroupOfModel(name, cameraGroup);
        model = std::string(MAKER) + " " + name;
    }
    const std::string modelValue = Plain("model", text);
    if (modelValue.empty() && cameraGroup == 2)
        return false;
    if (Contains(modelValue, "1") || Contains(modelValue, "0"))
        modelFlag = true;

    macAddress.clear();
    for (int i = 1; i <= 6; ++i)
        macAddress += Plain(("mac" + std::to_string(i)).c_str(), text);
    firmware.clear();
    for (const FirmwareLine& line : FIRMWARE_LINES) {
        const std::string version = Utils::RemoveChars(" ", Plain(line.name, text));
        if (!version.empty())
            firmware += line.prefix + version;
    }
    const std::string standard = Plain("tv_format", text);
    if (!standard.empty())
        thirtyFrameFamily = !Contains(standard, "1");
    if (Contains(Plain("model_audio", text), "1"))
        audio = true;
    const std::string codec = Plain("model_codec", text);
    if (Contains(codec, "0")) {
        codecs.push_back(CODEC_MJPEG);
    } else if (Contains(codec, "1")) {
        codecs.push_back(CODEC_MJPEG);
        codecs.push_back(CODEC_H264);
    } else if (Contains(codec, "2")) {
        codecs.push_back(CODEC_H264);
    }
    return true;
}

// Only a port in 1-65535 replaces the current one.
void CSanyoCameraProperties::ReadRtspPort(std::string_view text) {
    uint32_t port = 0;
    if (Utils::ParseInteger(Utils::TrimBlanks(Plain("rtsp_port", text)), port) && port >= 1 &&
        port <= 65535)
        rtspPort = port;
}

bool CSanyoCameraProperties::ReadRtsp() {
    std::string_view text;
    if (!Request(NET_STATUS, text))
        return false;
    ReadRtspPort(text);
    if (std::string path = Plain("h_stream1", text); !path.empty())
        h264Path = path;
    if (std::string path = Plain("j_stream1", text); !path.empty())
        mjpegPath = path;
    if (!h264Path.empty())
        return true;
    if (!Request(RTSP_STATUS, text))
        return false;
    if (std::string path = Plain("rtsp_uri", text); !path.empty())
        h264Path = path;
    ReadRtspPort(text);
    return true;
}

bool CSanyoCameraProperties::ReadAspectRatio() {
    std::string_view text;
    if (!Request(ASPECT_STATUS, text))
        return false;
    uint32_t value = 0;
    if (!Utils::ParseInteger(Utils::GetBracketedReplyValue("aspect_ratio", text), value))
        return false;
    if (value == 0 || (value == 3 && cameraGroup == 2))
        aspectClass = 0;
    else if (value == 1 || (value == 2 && cameraGroup == 2))
        aspectClass = 1;
    else
        return false;
    return true;
}

bool CSanyoCameraProperties::ReadInterlace() {
    std::string_view text;
    if (!Request(CODEC_STATUS, text))
        return false;
    interlace = Utils::GetBracketedReplyValue("interlace", text) == "1";
    return true;
}

bool CSanyoCameraProperties::AddFrameRatesAndSizes() {
    if (cameraGroup == 2) {
        if (thirtyFrameFamily)
            frameRates.insert(std::begin(GROUP2_RATES_30), std::end(GROUP2_RATES_30));
        else
            frameRates.insert(std::begin(GROUP2_RATES_25), std::end(GROUP2_RATES_25));
    } else if (thirtyFrameFamily) {
        frameRates.insert(std::begin(OTHER_RATES_30), std::end(OTHER_RATES_30));
    } else {
        frameRates.insert(std::begin(OTHER_RATES_25), std::end(OTHER_RATES_25));
    }
    const uint32_t top = *frameRates.rbegin();
    const uint32_t period = 1000 / top;
    for (const auto& [width, height] : PictureSizes(static_cast<int>(cameraGroup))) {
        if (AspectClassOf(width, height) != aspectClass)
            continue;
        CResolutionEntry entry;
        entry.width = width;
        entry.height = height;
        if (width == LARGEST_WIDTH) {
            if (cameraGroup == GROUP_WITHOUT_LARGEST)
                continue;
            entry.framePeriods = {LARGEST_PERIOD};
        } else if (period >= top) {
            entry.framePeriods = {period};
        }
        const bool known = std::any_of(
            resolutions.begin(), resolutions.end(),
            [&entry](const auto& r) { return r.width == entry.width && r.height == entry.height; });
        if (!known)
            resolutions.push_back(entry);
    }
    return true;
}

bool CSanyoCameraProperties::ReadAlarms() {
    return cameraGroup == 2 ? ReadGroup2Alarms() : ReadOtherAlarms();
}

bool CSanyoCameraProperties::ReadGroup2Alarms() {
    std::string_view text;
    if (!Request(ALARM_IN_STATUS, text))
        return false;
    inputCount = 0;
    while (!Plain(("alarm_in_polarity" + std::to_string(inputCount + 1)).c_str(), text).empty()) {
        if (++inputCount > MAX_ALARM_INPUTS)
            return false;
    }
    if (!Request(ALARM_OUT_STATUS, text))
        return false;
    const std::string output = Plain("alarm_out_sw", text);
    if (!output.empty()) {
        if (!Contains(output, "0"))
            Send(ALARM_OUT_ON);
        outputCount = 1;
    }
    return true;
}

bool CSanyoCameraProperties::ReadOtherAlarms() {
    std::string_view text;
    if (!Request(ALARM_STATUS, text))
        return false;
    inputCount = 0;
    for (;;) {
        const std::string name = "alarm_in" + std::to_string(inputCount + 1);
        const std::string value = Plain(name.c_str(), text);
        if (value.empty())
            break;
        if (inputCount == MAX_ALARM_INPUTS)
            return false;
        if (!Contains(value, "1"))
            Send(ALARM_SET + name + "=1");
        ++inputCount;
    }
    const std::string second = Plain("alarm_out_sw2", text);
    if (!second.empty() && !Contains(second, "1"))
        Send(std::string(ALARM_SET) + "alarm_out_sw2=1");
    const std::string first = Plain("alarm_out_sw", text);
    if (!first.empty() && !Contains(first, "1"))
        Send(std::string(ALARM_SET) + "alarm_out_sw=1");
    outputCount = second.empty() ? 1 : 2;
    return true;
}

bool CSanyoCameraProperties::WriteResults(ICapabilityResults* results) {
    if (!results)
        return false;
    if (IFrameRateList* list = results->GetFrameRateList(1)) {
        for (uint32_t fps : frameRates)
            if (fps != 0)
                list->AddPeriod((1000 + fps / 2) / fps);
        list->SetDefaultPeriod(DEFAULT_FRAME_PERIOD);
    }
    if (!CCameraPropertiesEx::WriteResults(results))
        return false;
    const std::pair<CustomParameter, std::string> entries[] = {
        {VIDEO_STANDARD, thirtyFrameFamily ? "1" : "0"},
        {RTSP_PORT, std::to_string(rtspPort)},
        {CAMERA_GROUP, std::to_string(cameraGroup)},
        {MJPEG_RTSP_PATH, OrDefault(mjpegPath, NO_RTSP_MJPEG)},
        {H264_RTSP_PATH, OrDefault(h264Path, NO_RTSP_H264)},
        {MAC_ADDRESS, macAddress},
        {FIRMWARE, firmware},
        {ASPECT_RATIO, std::to_string(aspectClass)},
        {INTERLACE, interlace ? "1" : "0"},
    };
    for (const auto& [parameter, value] : entries) {
        ICustomParameterEntry* entry = results->GetCustomParameterEntry(parameter.number);
        if (!entry)
            continue;
        entry->SetName(parameter.name);
        entry->SetOption(0);
        entry->SetFlag(parameter.flag);
        entry->SetValue(OrDefault(value, "(none)").c_str());
    }
    return true;
}

}  // namespace norvane
