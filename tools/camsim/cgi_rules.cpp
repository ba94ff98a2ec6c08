#include "camsim/cgi_rules.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <set>
#include <span>
#include <sstream>
#include <vector>

namespace camsim {

namespace {

using GroupMask = uint32_t;
constexpr GroupMask Only(int group) {
    return 1u << group;
}
constexpr GroupMask ANY = ~0u;
constexpr GroupMask G2 = Only(2);
constexpr GroupMask G3 = Only(3);
constexpr GroupMask G23 = G2 | G3;
constexpr GroupMask NOT_G2 = ~G2;
constexpr GroupMask NOT_G23 = ~G23;
// Groups 2 and 4 have a zoom-only head: no pan, tilt or centring, and 8 presets.
constexpr GroupMask ZOOM_HEAD = G2 | Only(4);
constexpr GroupMask FULL_HEAD = ~ZOOM_HEAD;

constexpr uint32_t ANY_NUMBER = std::numeric_limits<uint32_t>::max();
constexpr const char* SUBMIT_TOKEN = "1258359654505";

enum class Kind { Number, Text, Bare };
// Names numbered per alarm input (name1 … nameN) or per output (name, name2 … nameN).
enum class Numbered { No, PerInput, PerOutput };
enum class Bound { Fixed, LastStream };  // LastStream: the index of the camera's last stream

// One parameter a camera knows: the groups that know it, its values and, where its codes
// depend on the stream's codec, that codec. A parameter given with no range below is one whose
// range is not known: any decimal number passes.
struct ValueRule {
    const char* name;
    GroupMask groups = ANY;
    uint32_t low = 0;
    uint32_t high = ANY_NUMBER;
    int codec = -1;  // 0 Motion-JPEG, 1 H.264; -1 either
    Kind kind = Kind::Number;
    Numbered numbered = Numbered::No;
    Bound bound = Bound::Fixed;
};

// A request form: parameter names in their order, "name?" optional, "name=V" required with
// that value. A request is accepted when one form of the camera's group takes all of it.
struct Form {
    const char* parameters;
    GroupMask groups = ANY;
};

struct Program {
    const char* path;
    GroupMask groups;
    std::span<const ValueRule> values;
    std::span<const Form> forms;
};

constexpr ValueRule STATUS{.name = "status", .low = 1, .high = 1};

// cam_set.cgi, net.cgi and alarm_in.cgi: status pages only.
const ValueRule kStatusValues[] = {STATUS};
const Form kStatusForms[] = {{"status?"}};

// codec_stream.cgi. Codes are those of the resolution, frame-rate and quality tables of the
// family; 0 is also the code of a size or rate outside them.
const ValueRule kCodecStreamValues[] = {
    STATUS,
    {.name = "rtsp_rtp", .low = 1, .high = 1},
    {.name = "default", .low = 1, .bound = Bound::LastStream},  // a stream after the first
    {.name = "stream_set", .high = 0},  // the simulator keeps the first stream's settings only
    {.name = "name_stream", .kind = Kind::Text},
    // Groups other than 2 and 3: one codec per stream, and codes of that codec.
    {.name = "codec", .groups = NOT_G23, .high = 1},  // 0 Motion-JPEG, 1 H.264
    {.name = "resol", .groups = NOT_G23, .high = 6, .codec = 0},
    {.name = "resol", .groups = NOT_G23, .high = 4, .codec = 1},
    {.name = "frame_rate", .groups = NOT_G23, .high = 8, .codec = 0},
    {.name = "frame_rate", .groups = NOT_G23, .high = 3, .codec = 1},
    {.name = "gop_interval", .groups = NOT_G23, .low = 1},  // frames
    {.name = "priority", .groups = NOT_G23},
    {.name = "picture_quality", .groups = NOT_G23, .high = 4},
    // Groups 2 and 3: settings of each codec under names of their own.
    {.name = "h264_resol", .groups = G2, .high = 3},
    {.name = "h264_resol", .groups = G3, .high = 4},
    {.name = "h264_frame_rate", .groups = G2, .high = 2},
    {.name = "h264_frame_rate", .groups = G3, .high = 3},
    {.name = "h264_protocol", .groups = G23},
    {.name = "h264_quality", .groups = G23, .high = 4},
    {.name = "h264_priority_sw", .groups = G23, .high = 1},
    {.name = "jpeg_resol", .groups = G23, .high = 6},
    {.name = "jpeg_frame_rate", .groups = G2, .high = 12},
    {.name = "jpeg_frame_rate", .groups = G3, .high = 8},
    {.name = "jframe_rate_admin", .groups = G2, .high = 12},
    {.name = "jframe_rate_admin", .groups = G3, .high = 8},
    {.name = "jframe_rate_guest", .groups = G2, .high = 12},
    {.name = "jframe_rate_guest", .groups = G3, .high = 8},
    {.name = "jframe_rate_operator", .groups = G2, .high = 12},
    {.name = "jframe_rate_operator", .groups = G3, .high = 8},
    {.name = "jpeg_protocol", .groups = G23},
    {.name = "jpeg_quality", .groups = G23, .high = 4},
    {.name = "jpeg_priority_sw", .groups = G23, .high = 1},
    {.name = "submit", .low = 1, .high = 1},
    {.name = SUBMIT_TOKEN, .kind = Kind::Bare},
};
const Form kCodecStreamForms[] = {
    {"status? rtsp_rtp?"},
    {"status default"},
    {"stream_set name_stream"},
    {"status? stream_set codec? resol? frame_rate? gop_interval? priority? picture_quality?",
     NOT_G23},
    {"status? h264_resol? h264_frame_rate? h264_protocol? h264_quality? h264_priority_sw? "
     "jpeg_resol? jpeg_frame_rate? jframe_rate_admin? jframe_rate_guest? jframe_rate_operator? "
     "jpeg_protocol? jpeg_quality? jpeg_priority_sw?",
     G23},
    {"submit 1258359654505"},  // written settings take effect with the submit token only
};

// aspect.cgi: 0 wide, 1 narrow; group 2 has two more values (2 narrow, 3 wide).
const ValueRule kAspectValues[] = {
    STATUS,
    {.name = "aspect_ratio", .groups = G2, .high = 3},
    {.name = "aspect_ratio", .groups = NOT_G2, .high = 1},
};
const Form kAspectForms[] = {{"status?"}, {"aspect_ratio status?"}};

// lang.cgi: the language page takes no parameter.
const Form kLanguageForms[] = {{""}};

// alarm_set.cgi: motion settings in every group, alarm inputs and outputs outside group 2.
// Switches and polarities are 0 or 1; the motion settings' ranges are not known.
const ValueRule kAlarmSetValues[] = {
    {.name = "alarm_in", .groups = NOT_G2, .high = 1, .numbered = Numbered::PerInput},
    {.name = "alarm_out_sw", .groups = NOT_G2, .high = 1, .numbered = Numbered::PerOutput},
    {.name = "alarm_out_polarity", .groups = NOT_G2, .high = 1, .numbered = Numbered::PerOutput},
    STATUS,
    {.name = "motion_sw"},
    {.name = "motion_duration"},
    {.name = "motion_action"},
};
const Form kAlarmSetForms[] = {
    {"status?"},
    {"alarm_in", NOT_G2},
    {"alarm_out_sw", NOT_G2},
    {"alarm_out_polarity status?", NOT_G2},
    {"status? motion_sw? motion_duration? motion_action?"},
};

// alarm_out.cgi (group 2, one output).
const ValueRule kAlarmOutValues[] = {
    {.name = "alarm_out_sw", .high = 1, .numbered = Numbered::PerOutput},
    {.name = "alarm_out_polarity", .high = 1, .numbered = Numbered::PerOutput},
    STATUS,
};
const Form kAlarmOutForms[] = {{"status?"}, {"alarm_out_sw"}, {"alarm_out_polarity status?"}};

// opecmd.cgi: one operation per request, its parameters in the operation's order. Speeds are the
// camera's steps (the host's 1 to 16 become 1 to 6 for pan and tilt, 1 to 4 for zoom).
const ValueRule kOperationValues[] = {
    {.name = "ope", .low = 8, .high = 52},
    {.name = "registration", .groups = ZOOM_HEAD, .low = 1, .high = 8},
    {.name = "registration", .groups = FULL_HEAD, .low = 1, .high = 255},
    {.name = "execution", .groups = ZOOM_HEAD, .low = 1, .high = 8},
    {.name = "execution", .groups = FULL_HEAD, .low = 1, .high = 255},
    {.name = "pan_dir", .low = 1, .high = 2},
    {.name = "pan_percent", .high = 100},
    {.name = "tilt_dir", .low = 1, .high = 2},
    {.name = "tilt_percent", .high = 100},
    {.name = "action", .high = 1},
    {.name = "cmd", .low = 1, .high = 12},
    {.name = "p_speed", .low = 1, .high = 6},
    {.name = "t_speed", .low = 1, .high = 6},
    {.name = "z_speed", .low = 1, .high = 4},
    {.name = "num"},
};
const Form kOperationForms[] = {
    {"ope=8 registration"},  // store the position as a preset
    {"ope=11 execution"},    // go to a preset
    {"ope=20 pan_dir pan_percent tilt_dir tilt_percent", FULL_HEAD},  // centre on a point
    {"ope=49 action"},                                                // focus
    {"ope=50 action"},                                                // iris
    {"ope=51"},  // a move without a command: the head does nothing
    {"ope=51 cmd=1 p_speed t_speed", FULL_HEAD},
    {"ope=51 cmd=2 t_speed", FULL_HEAD},
    {"ope=51 cmd=3 p_speed t_speed", FULL_HEAD},
    {"ope=51 cmd=4 p_speed", FULL_HEAD},
    {"ope=51 cmd=5 p_speed", FULL_HEAD},
    {"ope=51 cmd=6 p_speed t_speed", FULL_HEAD},
    {"ope=51 cmd=7 t_speed", FULL_HEAD},
    {"ope=51 cmd=8 p_speed t_speed", FULL_HEAD},
    {"ope=51 cmd=9 z_speed"},
    {"ope=51 cmd=10 z_speed"},
    {"ope=51 cmd=11"},  // stop zooming
    {"ope=51 cmd=12"},  // stop moving
    {"ope=52 num"},     // unzoom
};

// liveimg.cgi: the I/O and motion status, or the picture stream (with a rate in groups 2, 3).
const ValueRule kLiveValues[] = {
    {.name = "pol", .low = 1, .high = 1},
    {.name = "motion", .low = 1, .high = 1},
    {.name = "serverpush", .low = 1, .high = 1},
    {.name = "rate", .groups = G23, .low = 1, .high = 5},
};
const Form kLiveForms[] = {{"pol motion?"}, {"serverpush rate?"}};

const Program kPrograms[] = {
    {"/cgi-bin/cam_set.cgi", ANY, kStatusValues, kStatusForms},
    {"/cgi-bin/net.cgi", ANY, kStatusValues, kStatusForms},
    {"/cgi-bin/codec_stream.cgi", ANY, kCodecStreamValues, kCodecStreamForms},
    {"/cgi-bin/aspect.cgi", ANY, kAspectValues, kAspectForms},
    {"/cgi-bin/lang.cgi", ANY, {}, kLanguageForms},
    {"/cgi-bin/alarm_set.cgi", ANY, kAlarmSetValues, kAlarmSetForms},
    {"/cgi-bin/alarm_in.cgi", G2, kStatusValues, kStatusForms},
    {"/cgi-bin/alarm_out.cgi", G2, kAlarmOutValues, kAlarmOutForms},
    {"/cgi-bin/opecmd.cgi", ANY, kOperationValues, kOperationForms},
    {"/liveimg.cgi", ANY, kLiveValues, kLiveForms},
};

// A parameter as the forms see it: its rule's name (numbered names lose their number).
struct Checked {
    std::string name;
    std::string value;
};

struct Context {
    const Personality& camera;
    GroupMask group;
    int codec;  // of the stream being set: the request's, else the camera's; -1 when unknown
};

GroupMask GroupBit(int group) {
    return group >= 0 && group < 32 ? Only(group) : Only(31);
}

bool ParseNumber(const std::string& text, uint32_t& value) {
    if (text.empty() || text.size() > 10 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const unsigned long long parsed = std::stoull(text);
    if (parsed > ANY_NUMBER)
        return false;
    value = static_cast<uint32_t>(parsed);
    return true;
}

// The number after `stem` in `name`: 0 when name is the stem, -1 when it is not stem + digits.
long long NumberAfter(const std::string& stem, const std::string& name) {
    if (name.compare(0, stem.size(), stem) != 0)
        return -1;
    if (name.size() == stem.size())
        return 0;
    uint32_t number = 0;
    return ParseNumber(name.substr(stem.size()), number) ? number : -1;
}

bool NameMatches(const ValueRule& rule, const std::string& name) {
    if (rule.numbered == Numbered::No)
        return name == rule.name;
    return NumberAfter(rule.name, name) >= 0;
}

// Empty when the camera has the numbered input or output that `name` names.
std::string CheckNumber(const ValueRule& rule, const std::string& name, const Personality& camera) {
    const long long number = NumberAfter(rule.name, name);
    if (rule.numbered == Numbered::PerInput && (number < 1 || number > camera.inputs))
        return name + ": the camera has " + std::to_string(camera.inputs) + " alarm input(s)";
    // The first output's name has no number.
    const long long output = number == 0 ? 1 : number == 1 ? 0 : number;
    if (rule.numbered == Numbered::PerOutput && (output < 1 || output > camera.outputs))
        return name + ": the camera has " + std::to_string(camera.outputs) + " alarm output(s)";
    return {};
}

// The rule of one parameter for this camera, or why there is none.
std::string FindRule(const Program& program, const std::string& name, const Context& c,
                     const ValueRule*& found) {
    bool named = false, ofGroup = false;
    for (const ValueRule& rule : program.values) {
        if (!NameMatches(rule, name))
            continue;
        named = true;
        if (!(rule.groups & c.group))
            continue;
        ofGroup = true;
        if (rule.codec >= 0 && rule.codec != c.codec)
            continue;
        found = &rule;
        return CheckNumber(rule, name, c.camera);
    }
    if (!named)
        return "unknown parameter \"" + name + "\"";
    if (!ofGroup)
        return name + " is not a parameter of a group " + std::to_string(c.camera.group) +
               " camera";
    return name + " is not a parameter of codec " + std::to_string(c.codec);
}

std::string CheckValue(const ValueRule& rule, const std::string& name, const std::string& value,
                       const Personality& camera) {
    switch (rule.kind) {
        case Kind::Bare:
            return value.empty() ? "" : name + " takes no value";
        case Kind::Text:
            return value.empty() ? name + " needs a value" : "";
        case Kind::Number:
            break;
    }
    uint32_t number = 0;
    if (!ParseNumber(value, number))
        return name + "=" + value + " is not a number";
    const uint32_t high = rule.bound == Bound::LastStream
                              ? static_cast<uint32_t>(std::max(camera.streamCount - 1, 0))
                              : rule.high;
    if (number < rule.low || number > high)
        return name + "=" + value + " is out of range " + std::to_string(rule.low) + " to " +
               std::to_string(high);
    return {};
}

bool FormTakes(const char* form, const std::vector<Checked>& parameters) {
    std::istringstream elements(form);
    size_t next = 0;
    for (std::string element; elements >> element;) {
        const bool optional = element.back() == '?';
        if (optional)
            element.pop_back();
        const size_t eq = element.find('=');
        const std::string name = element.substr(0, eq);
        const bool present =
            next < parameters.size() && parameters[next].name == name &&
            (eq == std::string::npos || parameters[next].value == element.substr(eq + 1));
        if (present)
            ++next;
        else if (!optional)
            return false;
    }
    return next == parameters.size();
}

int StreamCodec(const QueryList& query, const CurrentSetting& current) {
    std::string text = current("codec");
    for (const auto& [name, value] : query)
        if (name == "codec")
            text = value;
    uint32_t codec = 0;
    return ParseNumber(text, codec) && codec <= 1 ? static_cast<int>(codec) : -1;
}

}  // namespace

Refusal CheckCgiRequest(const Personality& camera, const std::string& path, const QueryList& query,
                        const CurrentSetting& current) {
    const Context c{camera, GroupBit(camera.group), StreamCodec(query, current)};
    const Program* program = nullptr;
    for (const Program& p : kPrograms)
        if (path == p.path)
            program = &p;
    if (!program)
        return {404, "no such program"};
    if (!(program->groups & c.group))
        return {404, "no such program on a group " + std::to_string(camera.group) + " camera"};
    std::vector<Checked> parameters;
    std::set<std::string> seen;
    for (const auto& [name, value] : query) {
        if (!seen.insert(name).second)
            return {400, name + " given twice"};
        const ValueRule* rule = nullptr;
        std::string reason = FindRule(*program, name, c, rule);
        if (reason.empty())
            reason = CheckValue(*rule, name, value, camera);
        if (!reason.empty())
            return {400, reason};
        parameters.push_back({rule->name, value});
    }
    for (const Form& form : program->forms)
        if ((form.groups & c.group) && FormTakes(form.parameters, parameters))
            return {};
    return {400, "no request of this program takes these parameters in this order"};
}

}  // namespace camsim
