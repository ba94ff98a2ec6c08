#include "camsim/camera_cgi.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "camsim/cgi_rules.h"

namespace camsim {

namespace {

const char* const kGroup23Settings[] = {
    "h264_resol",        "h264_frame_rate",   "h264_protocol",        "h264_quality",
    "h264_priority_sw",  "jpeg_resol",        "jpeg_frame_rate",      "jpeg_protocol",
    "jpeg_quality",      "jpeg_priority_sw",  "jframe_rate_admin",    "jframe_rate_guest",
    "jframe_rate_operator"};
const char* const kGroup23Defaults[] = {"1", "1", "1", "2", "1", "1", "8",
                                        "1", "2", "1", "8", "8", "8"};
const char* const kOtherSettings[] = {"codec",    "resol",          "frame_rate", "gop_interval",
                                      "priority", "picture_quality"};
const char* const kOtherDefaults[] = {"1", "1", "3", "30", "1", "2"};

constexpr size_t kLiveStatusSize = 128;
// Refusals kept as text, per camera and the unexpected ones per process.
constexpr size_t MAX_KEPT_REJECTIONS = 100;
constexpr size_t kMotionAreaOffset = 48;
constexpr size_t kMotionAreaSize = 32;

const char kLanguagePage[] =
    "<HTML><HEAD><TITLE>Language</TITLE></HEAD><BODY>Select the language of the camera "
    "menu.</BODY></HTML>\r\n";

std::string Line(const std::string& name, const std::string& value) {
    return name + ":(" + value + ")\r\n";
}

std::string Unbracket(std::string value) {
    value.erase(std::remove_if(value.begin(), value.end(),
                               [](char c) { return c == '(' || c == ')'; }),
                value.end());
    return value;
}

const std::string* Find(const QueryList& q, const std::string& key) {
    for (const auto& [k, v] : q)
        if (k == key)
            return &v;
    return nullptr;
}

bool Has(const QueryList& q, const std::string& key) { return Find(q, key) != nullptr; }

CgiReply Text(std::string body) { return CgiReply{200, "text/plain", std::move(body)}; }

uint64_t NowMs() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

struct RejectionLog {
    std::mutex mutex;
    std::vector<std::string> lines;
};

RejectionLog& UnexpectedRejections() {
    static RejectionLog log;
    return log;
}

void NoteUnexpectedRejection(const std::string& line) {
    RejectionLog& log = UnexpectedRejections();
    std::lock_guard<std::mutex> lock(log.mutex);
    if (log.lines.size() < MAX_KEPT_REJECTIONS)
        log.lines.push_back(line);
}

}  // namespace

std::vector<std::string> TakeUnexpectedRejections() {
    RejectionLog& log = UnexpectedRejections();
    std::lock_guard<std::mutex> lock(log.mutex);
    return std::exchange(log.lines, {});
}

QueryList ParseQuery(const std::string& query) {
    QueryList out;
    size_t start = 0;
    while (start <= query.size()) {
        size_t end = query.find('&', start);
        if (end == std::string::npos)
            end = query.size();
        const std::string token = query.substr(start, end - start);
        if (!token.empty()) {
            const size_t eq = token.find('=');
            if (eq == std::string::npos)
                out.emplace_back(token, "");
            else
                out.emplace_back(token.substr(0, eq), token.substr(eq + 1));
        }
        start = end + 1;
    }
    return out;
}

CameraCgi::CameraCgi(Personality personality)
    : personality_(std::move(personality)), aspectRatio_(personality_.aspectRatio) {
    const bool group23 = personality_.group == 2 || personality_.group == 3;
    if (group23) {
        for (size_t i = 0; i < std::size(kGroup23Settings); ++i)
            settings_[kGroup23Settings[i]] = kGroup23Defaults[i];
    } else {
        for (size_t i = 0; i < std::size(kOtherSettings); ++i)
            settings_[kOtherSettings[i]] = kOtherDefaults[i];
    }
    streams_.assign(static_cast<size_t>(std::max(personality_.streamCount, 1)), {"()", "(0)"});
    streams_[0] = {"(FRONT)", "(1)"};

    const int inputs = personality_.inputs;
    const int outputs = personality_.outputs;
    for (int i = 1; i <= inputs; ++i) {
        const std::string n = std::to_string(i);
        alarm_[personality_.group == 2 ? "alarm_in_polarity" + n : "alarm_in" + n] = "0";
    }
    if (outputs >= 1) {
        alarm_["alarm_out_sw"] = "0";
        alarm_["alarm_out_polarity"] = "0";
    }
    for (int i = 2; i <= outputs && personality_.group != 2; ++i) {
        alarm_["alarm_out_sw" + std::to_string(i)] = "0";
        alarm_["alarm_out_polarity" + std::to_string(i)] = "0";
    }
    alarm_["motion_sw"] = "1";
    alarm_["motion_duration"] = "5";
    alarm_["motion_action"] = "1";
}

const std::map<std::string, CameraCgi::Page>& CameraCgi::Pages() const {
    static const std::map<std::string, Page> pages = {
        {"/cgi-bin/cam_set.cgi", &CameraCgi::CamSet},
        {"/cgi-bin/net.cgi", &CameraCgi::Net},
        {"/cgi-bin/codec_stream.cgi", &CameraCgi::CodecStream},
        {"/cgi-bin/aspect.cgi", &CameraCgi::Aspect},
        {"/cgi-bin/lang.cgi", &CameraCgi::Language},
        {"/cgi-bin/alarm_set.cgi", &CameraCgi::AlarmSet},
        {"/cgi-bin/alarm_in.cgi", &CameraCgi::AlarmIn},
        {"/cgi-bin/alarm_out.cgi", &CameraCgi::AlarmOut},
        {"/cgi-bin/opecmd.cgi", &CameraCgi::OperationCommand},
        {"/liveimg.cgi", &CameraCgi::LiveStatus},
    };
    return pages;
}

bool CameraCgi::Serves(const std::string& path) const { return Pages().count(path) != 0; }

CgiReply CameraCgi::Handle(const std::string& path, const std::string& query) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (auto refusal = RefuseLocked(path, query))
        return *refusal;
    const auto it = Pages().find(path);
    if (it == Pages().end())
        return CgiReply{404, "text/plain", "Not Found\r\n"};
    timeline_.Apply(NowMs(), inputBits_, motion_);
    if (!languageChosen_ && path != "/cgi-bin/lang.cgi")
        return CgiReply{200, "text/html", kLanguagePage};
    return (this->*(it->second))(ParseQuery(query));
}

std::optional<CgiReply> CameraCgi::Refuse(const std::string& path, const std::string& query) {
    std::lock_guard<std::mutex> lock(mutex_);
    return RefuseLocked(path, query);
}

std::optional<CgiReply> CameraCgi::RefuseLocked(const std::string& path, const std::string& query) {
    const Refusal refusal =
        CheckCgiRequest(personality_, path, ParseQuery(query),
                        [this](const std::string& name) { return CurrentSettingLocked(name); });
    if (refusal.status == 0)
        return std::nullopt;
    const std::string line = path + (query.empty() ? "" : "?" + query) + ": " + refusal.reason;
    std::fprintf(stderr, "camsim: rejected request: %s\n", line.c_str());
    ++rejectionCount_;
    if (rejections_.size() < MAX_KEPT_REJECTIONS)
        rejections_.push_back(line);
    if (!rejectionsExpected_)
        NoteUnexpectedRejection(line);
    return CgiReply{refusal.status, "text/plain", "Error: " + refusal.reason + "\r\n"};
}

std::string CameraCgi::CurrentSettingLocked(const std::string& name) const {
    const auto pending = pending_.find(name);
    if (pending != pending_.end())
        return pending->second;
    const auto it = settings_.find(name);
    return it == settings_.end() ? std::string() : it->second;
}

CgiReply CameraCgi::CamSet(const QueryList&) {
    const Personality& p = personality_;
    std::string body;
    if (!p.modelName.empty())
        body += Line("model_name", p.modelName);
    body += Line("model", p.modelValue);
    for (size_t i = 0; i < 6; ++i)
        body += Line("mac" + std::to_string(i + 1), p.mac.substr(std::min(i * 2, p.mac.size()), 2));
    body += Line("CAM MAIN Ver", p.camMainVersion);
    body += Line("CAM SUB  Ver", p.camSubVersion);
    body += Line("NET MAIN Ver", p.netMainVersion);
    body += Line("NET SUB  Ver", p.netSubVersion);
    body += Line("tv_format", p.family25 ? "1" : "0");
    body += Line("model_audio", p.audio ? "1" : "0");
    body += Line("model_codec", std::to_string(p.modelCodec));
    return Text(body);
}

CgiReply CameraCgi::Net(const QueryList&) {
    std::string body = Line("rtsp_port", std::to_string(rtspPort_));
    if (personality_.streamsInNetPage) {
        body += Line("h_stream1", personality_.h264Path);
        body += Line("j_stream1", personality_.mjpegPath);
    }
    return Text(body);
}

CgiReply CameraCgi::CodecStream(const QueryList& q) {
    if (const std::string* m = Find(q, "default")) {
        const size_t index = static_cast<size_t>(std::atoi(m->c_str()));  // stream index - 1
        if (index < streams_.size())
            streams_[index] = {"()", "(0)"};
    }
    if (const std::string* name = Find(q, "name_stream")) {
        streams_[0] = {"(" + *name + ")", "(1)"};
    }
    for (const auto& [key, value] : q)
        if (settings_.count(key))
            pending_[key] = value;
    if (Has(q, "submit")) {
        for (const auto& [key, value] : pending_)
            settings_[key] = value;
        pending_.clear();
        ++submits_;
    }
    std::string body;
    if (Has(q, "rtsp_rtp")) {
        body += Line("rtsp_uri", personality_.h264Path);
        body += Line("rtsp_port", std::to_string(rtspPort_));
    }
    body += Line("interlace", personality_.interlace ? "1" : "0");
    for (size_t i = 0; i < streams_.size(); ++i) {
        const std::string n = std::to_string(i + 1);
        body += "stream" + n + "_name:" + streams_[i].first + "\r\n";
        body += "stream" + n + "_sw:" + streams_[i].second + "\r\n";
    }
    for (const auto& [key, value] : settings_)
        body += Line(key, value);
    return Text(body);
}

CgiReply CameraCgi::Aspect(const QueryList& q) {
    if (const std::string* value = Find(q, "aspect_ratio"))
        aspectRatio_ = std::atoi(value->c_str());
    return Text(Line("aspect_ratio", std::to_string(aspectRatio_)));
}

CgiReply CameraCgi::Language(const QueryList&) {
    languageChosen_ = !languageStuck_;
    return CgiReply{200, "text/html", kLanguagePage};
}

void CameraCgi::ApplyAlarmWrites(const QueryList& q) {
    for (const auto& [key, value] : q)
        if (key != "status" && alarm_.count(key))
            alarm_[key] = value;
}

std::string CameraCgi::AlarmLines(const std::vector<std::string>& prefixes) {
    std::string body;
    for (const auto& [key, value] : alarm_)
        for (const std::string& prefix : prefixes)
            if (key.rfind(prefix, 0) == 0) {
                body += Line(key, value);
                break;
            }
    return body;
}

CgiReply CameraCgi::AlarmSet(const QueryList& q) {
    ApplyAlarmWrites(q);
    if (personality_.group == 2)
        return Text(AlarmLines({"motion_"}));
    return Text(AlarmLines({"alarm_in", "alarm_out", "motion_"}));
}

CgiReply CameraCgi::AlarmIn(const QueryList& q) {
    ApplyAlarmWrites(q);
    return Text(AlarmLines({"alarm_in"}));
}

CgiReply CameraCgi::AlarmOut(const QueryList& q) {
    ApplyAlarmWrites(q);
    return Text(AlarmLines({"alarm_out"}));
}

CgiReply CameraCgi::OperationCommand(const QueryList& q) {
    std::string command;
    for (const auto& [key, value] : q)
        command += (command.empty() ? "" : "&") + key + (value.empty() ? "" : "=" + value);
    commands_.push_back(command);
    return Text("OK\r\n");
}

CgiReply CameraCgi::LiveStatus(const QueryList& q) {
    if (!Has(q, "pol"))
        return CgiReply{400, "text/plain", "Bad Request\r\n"};
    std::string body(kLiveStatusSize, '\0');
    body[personality_.group == 2 ? 27 : 33] = static_cast<char>(inputBits_ & 0xFF);
    if (Has(q, "motion") && motion_)
        std::fill_n(body.begin() + kMotionAreaOffset, kMotionAreaSize, '\x01');
    return CgiReply{200, "application/octet-stream", body};
}

void CameraCgi::SetRtspPort(uint16_t port) {
    std::lock_guard<std::mutex> lock(mutex_);
    rtspPort_ = port;
}

void CameraCgi::SetInputs(uint32_t activeBits) {
    std::lock_guard<std::mutex> lock(mutex_);
    inputBits_ = activeBits;
}

void CameraCgi::SetMotion(bool motion) {
    std::lock_guard<std::mutex> lock(mutex_);
    motion_ = motion;
}

void CameraCgi::SetLanguageChosen(bool chosen) {
    std::lock_guard<std::mutex> lock(mutex_);
    languageChosen_ = chosen;
}

void CameraCgi::SetLanguageStuck(bool stuck) {
    std::lock_guard<std::mutex> lock(mutex_);
    languageStuck_ = stuck;
    languageChosen_ = languageChosen_ && !stuck;
}

void CameraCgi::ScheduleAlarms(std::vector<AlarmEvent> events) {
    std::lock_guard<std::mutex> lock(mutex_);
    timeline_.Schedule(std::move(events), NowMs());
}

void CameraCgi::SetStream(int number, const std::string& name, const std::string& sw) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (number >= 1 && static_cast<size_t>(number) <= streams_.size())
        streams_[static_cast<size_t>(number) - 1] = {name, sw};
}

void CameraCgi::SetSetting(const std::string& name, const std::string& value) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (settings_.count(name))
        settings_[name] = value;
    else if (alarm_.count(name))
        alarm_[name] = value;
}

std::string CameraCgi::Setting(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = settings_.find(name);
    return it == settings_.end() ? std::string() : it->second;
}

std::string CameraCgi::PendingSetting(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = pending_.find(name);
    return it == pending_.end() ? std::string() : it->second;
}

std::pair<std::string, std::string> CameraCgi::Stream(int number) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (number < 1 || static_cast<size_t>(number) > streams_.size())
        return {};
    return streams_[static_cast<size_t>(number) - 1];
}

int CameraCgi::AspectRatio() {
    std::lock_guard<std::mutex> lock(mutex_);
    return aspectRatio_;
}

std::string CameraCgi::AlarmValue(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = alarm_.find(name);
    return it == alarm_.end() ? std::string() : Unbracket(it->second);
}

std::vector<std::string> CameraCgi::Commands() {
    std::lock_guard<std::mutex> lock(mutex_);
    return commands_;
}

int CameraCgi::Submits() {
    std::lock_guard<std::mutex> lock(mutex_);
    return submits_;
}

size_t CameraCgi::RejectionCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return rejectionCount_;
}

std::vector<std::string> CameraCgi::Rejections() {
    std::lock_guard<std::mutex> lock(mutex_);
    return rejections_;
}

void CameraCgi::ExpectRejections() {
    std::lock_guard<std::mutex> lock(mutex_);
    rejectionsExpected_ = true;
}

}  // namespace camsim
