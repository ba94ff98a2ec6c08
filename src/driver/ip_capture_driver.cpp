#include "driver/ip_capture_driver.h"

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstdarg>
#include <cstdio>
#include <new>

#include "driver/video_capture.h"
#include "driver/xml_parser.h"
#include "platform/system.h"

namespace norvane {

namespace {

const char* OrEmpty(const char* text) { return text ? text : ""; }

std::string ToLowerC(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

int ParseCustomParameterInt(const std::string& text) {
    size_t digits = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (i == 0 && (c == '+' || c == '-'))
            continue;
        if (c < '0' || c > '9')
            return CUSTOM_PARAMETER_NOT_SET;
        ++digits;
    }
    if (digits == 0)
        return CUSTOM_PARAMETER_NOT_SET;
    // A value outside the 32-bit range has no defined "%d" result: it is not set.
    errno = 0;
    const long long value = std::strtoll(text.c_str(), nullptr, 10);
    if (errno == ERANGE || value < INT32_MIN || value > INT32_MAX)
        return CUSTOM_PARAMETER_NOT_SET;
    return static_cast<int>(value);
}

CIPCaptureDriver::CIPCaptureDriver() = default;

CIPCaptureDriver::~CIPCaptureDriver() { DeleteSubObjects(); }

void CIPCaptureDriver::CopyConfiguration(IDeviceConfig* config) {
    IDeviceSettings* device = config->GetDeviceSettings();
    IConnectionSettings* connection = config->GetConnectionSettings();
    IDeviceOptions* options = config->GetOptions();

    codecType = connection ? connection->GetCodecType() : 0;
    if (device) {
        inputCount = static_cast<uint32_t>(device->GetInputCount());
        outputCount = static_cast<uint32_t>(device->GetOutputCount());
        channelCount = static_cast<uint32_t>(device->GetChannelCount());
        deviceInfo.model = OrEmpty(device->GetModelName());
    }
    if (connection) {
        deviceInfo.address = OrEmpty(connection->GetAddress());
        deviceInfo.port = connection->GetPort();
        deviceInfo.userName = OrEmpty(connection->GetUserName());
        deviceInfo.password = OrEmpty(connection->GetPassword());
    }
    optionFlag = options && options->GetOptionFlag() != 0;
    for (int n = 1;; ++n) {
        const char* text = config->GetCustomParameter(n);
        if (!text)
            break;
        customParameters[static_cast<unsigned>(n)] = text;
    }
}

bool CIPCaptureDriver::Open(IDebugInfoSink* logSink, IFrameAllocator* frameAllocator,
                            IDeviceConfig* config) {
    if (!config)
        return false;
    log = logSink;
    frames = frameAllocator;
    CopyConfiguration(config);
    hostVersion = ReadHostVersion();
    if (!CreateIO() || !CreatePTZ())
        return false;
    if (!videoCapture)
        videoCapture.reset(new (std::nothrow) CIPVideoCapture(channelCount, this));
    return true;
}

void CIPCaptureDriver::DeleteSubObjects() {
    videoCapture.reset();
    if (io)
        io->StopIO();  // its threads end before the object goes
    io.reset();
    ptz.reset();
}

void CIPCaptureDriver::Close() { DeleteSubObjects(); }

ipcapture::IIPVideoCapture* CIPCaptureDriver::GetVideoCapture() { return videoCapture.get(); }

ipcapture::IIPVideoCaptureEx* CIPCaptureDriver::GetVideoCaptureEx() { return videoCapture.get(); }

IIPPTZDriverEx* CIPCaptureDriver::GetPTZDriverEx() {
    return dynamic_cast<IIPPTZDriverEx*>(ptz.get());
}

void CIPCaptureDriver::Log(int type, const char* format, ...) {
    va_list args;
    va_start(args, format);
    DeliverLog(log, hostVersion, type, format, args);
    va_end(args);
}

std::string CIPCaptureDriver::GetAddressAndPort() {
    char port[8];
    std::snprintf(port, sizeof port, ":%hu", deviceInfo.port);
    return deviceInfo.address + port;
}

std::string CIPCaptureDriver::GetCustomParameterString(int number) {
    const auto it = customParameters.find(static_cast<unsigned>(number));
    if (it == customParameters.end() || it->second == "(none)")
        return {};
    return it->second;
}

int CIPCaptureDriver::GetCustomParameterInt(int number) {
    const auto it = customParameters.find(static_cast<unsigned>(number));
    if (it == customParameters.end())
        return CUSTOM_PARAMETER_NOT_SET;
    return ParseCustomParameterInt(it->second);
}

std::pair<int, int> CIPCaptureDriver::GetLastFrameSize() {
    CLockGuard guard(lock);
    return lastFrameSize;
}

bool CIPCaptureDriver::GetRtpOverTcp() {
    return rtpOverTcp;
}

void CIPCaptureDriver::SetRtpOverTcp(bool overTcp) {
    rtpOverTcp = overTcp;
}

void CIPCaptureDriver::SetLastFrameSize(int width, int height) {
    CLockGuard guard(lock);
    lastFrameSize = {width, height};
}

void CIPCaptureDriver::LogDriverOpened(const std::string& firmware) {
    const std::string name = GetDriverName();
    if (name.empty() || deviceInfo.model.empty())
        return;
    std::string text = "DRIVER IS OPENED (name: " + name + ", device model: " + deviceInfo.model;
    if (!firmware.empty())
        text += ", FW: " + firmware;
    text += ", address: " + deviceInfo.address + ":" + std::to_string(deviceInfo.port) + ")";
    // The firmware text comes from the camera: never a format string.
    Log(LOG_OPENED, "%s", text.c_str());
}

bool CIPCaptureDriver::ReadMotionDetectionSetting(unsigned channelIndex) {
    CXmlParser parser;
    if (!settingsDirectory.empty())
        parser.SetBaseDirectory(settingsDirectory);
    if (!parser.Load("DriverSettings.xml"))
        return false;
    std::string xpath = "/kora/ipdrivers/driver[parameters/ipaddress=\"" + deviceInfo.address + "\"]";
    const std::string name = GetDriverName();
    if (!name.empty())
        xpath += "[drivername=\"" + name + "\"]";
    xpath += "/cameras/camera[@number=\"" + std::to_string(channelIndex + 1) + "\"]/motiondetection";
    const std::string text = parser.SelectNodeText(ToLowerC(xpath));
    const bool enabled = !text.empty() && text == "1";
    parser.Unload();
    return enabled;
}

}  // namespace norvane
