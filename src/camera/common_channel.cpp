#include "camera/common_channel.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "camera/custom_parameters.h"
#include "http/camera_request.h"
#include "http/utils.h"

namespace norvane {

namespace {

constexpr const char* STATUS_REQUEST = "/cgi-bin/codec_stream.cgi?status=1";
constexpr const char* STREAM_SET = "&stream_set=0";
constexpr const char* NAME_FIRST_STREAM =
    "/cgi-bin/codec_stream.cgi?stream_set=0&name_stream=STREAM1";
constexpr const char* RESET_STREAM = "/cgi-bin/codec_stream.cgi?status=1&default=%u";
constexpr const char* ASPECT_STATUS = "/cgi-bin/aspect.cgi?status=1";
constexpr const char* ASPECT_WRITE = "/cgi-bin/aspect.cgi?aspect_ratio=%u&status=1";
constexpr const char* SUBMIT_REQUEST = "/cgi-bin/codec_stream.cgi?submit=1&1258359654505";

const DEVICE_INFO& DeviceOf(IDriver* driver) {
    static const DEVICE_INFO none;
    const DEVICE_INFO* info = driver ? driver->GetDeviceInfo() : nullptr;
    return info ? *info : none;
}

// Only 0 and 1 are aspect ratios the camera takes; anything else is not set.
int AspectRatioOf(IDriver* driver) {
    const int value =
        driver ? driver->GetCustomParameterInt(ASPECT_RATIO.number) : CUSTOM_PARAMETER_NOT_SET;
    return value == 0 || value == 1 ? value : CUSTOM_PARAMETER_NOT_SET;
}

// Leading blanks skipped, then the decimal digits up to the first other character (0 when there
// are none); a number beyond 32 bits counts as the largest one.
uint32_t DecimalPrefix(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    uint64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + static_cast<uint64_t>(text[i] - '0');
        if (value > UINT32_MAX)
            return UINT32_MAX;
    }
    return static_cast<uint32_t>(value);
}

std::string Format(const char* format, unsigned value) {
    char text[128];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// A stream line's raw value, parentheses kept.
std::string StreamValue(const char* field, unsigned stream, std::string_view status) {
    char name[32];
    std::snprintf(name, sizeof name, "stream%u_%s", stream, field);
    return Utils::GetReplyValue(name, ":", status, "\r\n");
}

}  // namespace

CCommonChannel::CCommonChannel(IDriver* driver)
    : configDriver(driver),
      wantedAspectRatio(AspectRatioOf(driver)),
      cameraGroup(driver ? driver->GetCustomParameterInt(CAMERA_GROUP.number)
                         : CUSTOM_PARAMETER_NOT_SET),
      httpClient(DeviceOf(driver), Web::HTTP_CLIENT_AGENT) {}

CCommonChannel::~CCommonChannel() = default;

void CCommonChannel::LogFailure(const CResultDef& result) {
    if (Utils::ShouldLog(failureCounter))
        Utils::LogResult(configDriver, result);
}

bool CCommonChannel::ReadStatusPage(const char* path, CManualEvent* stop, Web::ByteBuffer& reply,
                                    CResultDef& failure) {
    return Utils::SendRequestWithLanguageFallback(httpClient, reply, path, stop, &failure) &&
           !Utils::ReplyText(reply).empty();
}

bool CCommonChannel::ReadStreamStatus(Web::ByteBuffer& reply, CManualEvent* stop) {
    CResultDef failure;
    if (ReadStatusPage(STATUS_REQUEST, stop, reply, failure))
        return true;
    if (!failure.Succeeded())
        LogFailure(failure);
    return false;
}

bool CCommonChannel::PrepareStreams(std::string_view status, bool& changed) {
    changed = false;
    const std::string name1 = StreamValue("name", 1, status);
    const std::string switch1 = StreamValue("sw", 1, status);
    if (name1.empty() || switch1.empty())
        return true;
    CResultDef result;
    if (!StreamValue("name", MAX_STREAMS + 1, status).empty()) {
        result.SetFormatted(CResultDef::LEVEL_ERROR, CResultDef::CODE_BEYOND_CAMERA,
                            "Camera %s lists more than %u streams",
                            DeviceOf(configDriver).address.c_str(), MAX_STREAMS);
        LogFailure(result);
        return false;
    }
    if (name1 == "()" && switch1 == "(0)") {
        result = Utils::SendRequestRD(httpClient, NAME_FIRST_STREAM);
        changed = true;
    }
    for (unsigned m = 2; result.Succeeded(); ++m) {
        const std::string name = StreamValue("name", m, status);
        const std::string onOff = StreamValue("sw", m, status);
        if (name.empty() || onOff.empty())
            break;
        if (name != "()" || onOff == "(1)") {
            result = Utils::SendRequestRD(httpClient, Format(RESET_STREAM, m - 1));
            changed = true;
        }
    }
    if (!result.Succeeded())
        LogFailure(result);
    return result.Succeeded();
}

bool CCommonChannel::ApplyAspectRatio(CManualEvent* stop) {
    Web::ByteBuffer status;
    CResultDef failure;  // not logged: a camera without the page fails here every attempt
    uint32_t current = 0;
    if (!ReadStatusPage(ASPECT_STATUS, stop, status, failure) ||
        !Utils::ParseInteger(
            Utils::GetBracketedReplyValue("aspect_ratio", Utils::ReplyText(status)), current))
        return false;
    if (wantedAspectRatio < 0 || static_cast<uint32_t>(wantedAspectRatio) == current)
        return true;
    const CResultDef result = Utils::SendRequestRD(
        httpClient, Format(ASPECT_WRITE, static_cast<unsigned>(wantedAspectRatio)));
    if (!result.Succeeded())
        LogFailure(result);
    return result.Succeeded();
}

std::string CCommonChannel::BuildChangedParameter(uint32_t wanted, std::string_view status,
                                                  const std::string& name) {
    const std::string current = Utils::GetPlainReplyValue(name, status);
    if (current.empty() || DecimalPrefix(current) == wanted)
        return {};
    return "&" + name + "=" + std::to_string(wanted);
}

bool CCommonChannel::ConfigureStream(CManualEvent& stop, const StreamParameterList& list) {
    const auto stopping = [&stop] { return stop.Wait(0); };
    Web::ByteBuffer reply;
    bool changed = false;
    if (stopping() || !ReadStreamStatus(reply, &stop) ||
        !PrepareStreams(Utils::ReplyText(reply), changed))
        return false;
    if (changed && !ReadStreamStatus(reply, &stop))
        return false;
    const std::string_view status = Utils::ReplyText(reply);
    if (stopping() || !ApplyAspectRatio(&stop))
        return false;

    std::string base = STATUS_REQUEST;
    if (list.streamSet)
        base += STREAM_SET;
    std::string request = base;
    for (const StreamParameter& parameter : list.parameters)
        request += BuildChangedParameter(parameter.value, status, parameter.name);
    if (stopping())
        return false;
    if (request == base)
        return true;  // nothing to change

    // The language page is visited before every write; its answer is not examined.
    if (!httpClient.SendRequest("GET", Utils::LANGUAGE_PAGE) || stopping())
        return false;
    CResultDef result = Utils::SendRequestRD(httpClient, request);
    if (result.Succeeded()) {
        if (stopping())
            return false;  // written but not submitted
        result = Utils::SendRequestRD(httpClient, SUBMIT_REQUEST);
    }
    if (result.Succeeded())
        return true;
    LogFailure(result);
    return false;
}

}  // namespace norvane
