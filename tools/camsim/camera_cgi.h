// The camera's CGI programs: status pages and settings with their state, alarm and motion
// status, and the PTZ command log. Replies are lines of name, colon and value in parentheses.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "camsim/alarm_timeline.h"
#include "camsim/personality.h"

namespace camsim {

struct CgiReply {
    int status = 200;
    std::string contentType = "text/plain";
    std::string body;
};

// Query parameters in request order; a token without '=' has an empty value.
using QueryList = std::vector<std::pair<std::string, std::string>>;
QueryList ParseQuery(const std::string& query);

// Refused requests of every camera in this process that did not expect refusals, one line each,
// since the last call.
std::vector<std::string> TakeUnexpectedRejections();

class CameraCgi {
public:
    explicit CameraCgi(Personality personality);

    // Answers one GET of `path` with `query` (without the '?'). A request that a camera of this
    // personality does not take (cgi_rules.h) is refused as Refuse says.
    CgiReply Handle(const std::string& path, const std::string& query);
    // The refusal of a request the camera does not take: 404 for a program it lacks, else 400,
    // settings unchanged; the refusal is counted and printed ("camsim: rejected request: ...").
    // Null when the camera takes the request.
    std::optional<CgiReply> Refuse(const std::string& path, const std::string& query);
    // True for the paths this camera serves.
    bool Serves(const std::string& path) const;

    const Personality& GetPersonality() const { return personality_; }
    void SetRtspPort(uint16_t port);

    // Test controls and observations.
    void SetInputs(uint32_t activeBits);
    void SetMotion(bool motion);
    void SetLanguageChosen(bool chosen);
    // Visiting the language page does not choose the language: every CGI stays HTML.
    void SetLanguageStuck(bool stuck);
    // Inputs and motion follow these events, their times counted from now.
    void ScheduleAlarms(std::vector<AlarmEvent> events);
    void SetStream(int number, const std::string& name, const std::string& sw);
    void SetSetting(const std::string& name, const std::string& value);
    std::string Setting(const std::string& name);
    std::string PendingSetting(const std::string& name);
    std::pair<std::string, std::string> Stream(int number);
    int AspectRatio();
    std::string AlarmValue(const std::string& name);
    std::vector<std::string> Commands();
    int Submits();
    // Refusals so far: their number, and the first of them (request: reason).
    size_t RejectionCount();
    std::vector<std::string> Rejections();
    // This camera's refusals are wanted by the test: they are not reported as unexpected.
    void ExpectRejections();

private:
    using Page = CgiReply (CameraCgi::*)(const QueryList&);

    CgiReply CamSet(const QueryList& q);
    CgiReply Net(const QueryList& q);
    CgiReply CodecStream(const QueryList& q);
    CgiReply Aspect(const QueryList& q);
    CgiReply Language(const QueryList& q);
    CgiReply AlarmSet(const QueryList& q);
    CgiReply AlarmIn(const QueryList& q);
    CgiReply AlarmOut(const QueryList& q);
    CgiReply OperationCommand(const QueryList& q);
    CgiReply LiveStatus(const QueryList& q);

    std::optional<CgiReply> RefuseLocked(const std::string& path, const std::string& query);
    std::string CurrentSettingLocked(const std::string& name) const;
    void ApplyAlarmWrites(const QueryList& q);
    std::string AlarmLines(const std::vector<std::string>& names);
    const std::map<std::string, Page>& Pages() const;

    std::mutex mutex_;
    Personality personality_;
    uint16_t rtspPort_ = 554;
    std::map<std::string, std::string> settings_;  // committed codec settings
    std::map<std::string, std::string> pending_;   // written, not yet submitted
    std::vector<std::pair<std::string, std::string>> streams_;  // (name, sw) of stream 1…
    std::map<std::string, std::string> alarm_;  // alarm and motion settings
    int aspectRatio_;
    bool languageChosen_ = true;
    bool languageStuck_ = false;
    AlarmTimeline timeline_;
    uint32_t inputBits_ = 0;
    bool motion_ = false;
    int submits_ = 0;
    std::vector<std::string> commands_;
    size_t rejectionCount_ = 0;
    std::vector<std::string> rejections_;  // the first MAX_KEPT_REJECTIONS
    bool rejectionsExpected_ = false;
};

}  // namespace camsim
