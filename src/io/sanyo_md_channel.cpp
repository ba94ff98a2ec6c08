#include "io/sanyo_md_channel.h"

#include <algorithm>

#include "http/camera_request.h"
#include "http/utils.h"

namespace norvane {

namespace {

struct MotionSetting {
    const char* key;
    unsigned wanted;
};

// Written in this order, each only when the camera's value differs.
constexpr MotionSetting MOTION_SETTINGS[] = {
    {"motion_sw", 2}, {"motion_duration", 11}, {"motion_action", 0}};

}  // namespace

CSanyoMDChannel::CSanyoMDChannel(unsigned channel, ICaptureSink* sink, IDriver* driver)
    : CBaseMotionHTTPChannel(channel, driver, sink) {}

// The thread calls this class's operations: it ends before the object is taken apart.
CSanyoMDChannel::~CSanyoMDChannel() {
    StopDetection();
}

bool CSanyoMDChannel::Request(const std::string& path, Web::ByteBuffer& reply) {
    CResultDef failure;
    if (Utils::SendRequestWithLanguageFallback(HttpClient(), reply, path, &Stop(), &failure))
        return true;
    if (!failure.Succeeded() && Utils::ShouldLog(failureCounter))
        Utils::LogResult(GetDriver(), failure);
    return false;
}

std::string CSanyoMDChannel::MakeSettingChange(std::string_view settings, const char* key,
                                               unsigned wanted) {
    const std::string current = Utils::GetBracketedReplyValue(key, settings);
    const std::string text = std::to_string(wanted);
    if (current.empty() || current == text)
        return {};
    return std::string("&") + key + "=" + text;
}

bool CSanyoMDChannel::ConfigureCamera() {
    Web::ByteBuffer reply;
    if (!Request(SETTINGS_REQUEST, reply))
        return false;
    const std::string_view settings = Utils::ReplyText(reply);
    if (settings.empty())
        return false;
    std::string changes;
    for (const MotionSetting& setting : MOTION_SETTINGS)
        changes += MakeSettingChange(settings, setting.key, setting.wanted);
    if (changes.empty())
        return true;
    return Request(SETTINGS_REQUEST + changes, reply);
}

// The buffer with the zero byte the request helper appends must hold the area: a reply one byte
// short of it has that zero as its last area byte.
bool CSanyoMDChannel::MotionInReply(const Web::ByteBuffer& reply, bool& motion) {
    if (reply.size() < MOTION_AREA_OFFSET + MOTION_AREA_SIZE)
        return false;
    const auto area = reply.begin() + MOTION_AREA_OFFSET;
    motion = std::any_of(area, area + MOTION_AREA_SIZE, [](uint8_t b) { return b != 0; });
    return true;
}

bool CSanyoMDChannel::PollMotion() {
    Web::ByteBuffer reply;
    bool motion = false;
    if (!Request(POLL_REQUEST, reply) || !MotionInReply(reply, motion))
        return false;
    ReportMotion(motion);
    return true;
}

}  // namespace norvane
