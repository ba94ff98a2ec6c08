#include "rtsp/rtsp_response_parser.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "http/base64.h"
#include "http/utils.h"

namespace norvane {

namespace {

constexpr size_t NONE = std::string_view::npos;
constexpr std::string_view LINE_ENDS = "\r\n";

enum HeaderClass {
    HEADER_OTHER = 0,
    HEADER_CSEQ = 1,
    HEADER_CONTENT_BASE = 3,
    HEADER_CONTENT_TYPE = 4,
    HEADER_CONTENT_LENGTH = 5,
    HEADER_TRANSPORT = 6,
    HEADER_SESSION = 7,
    HEADER_EMPTY = 10,
    HEADER_WWW_AUTHENTICATE = 14,
    HEADER_PUBLIC = 15,
};

struct NamedClass {
    std::string_view name;
    int value;
};

constexpr NamedClass HEADER_NAMES[] = {
    {"CSeq", 1},         {"Date", 2},           {"Content-Base", 3},   {"Content-Type", 4},
    {"Content-Length", 5}, {"Transport", 6},    {"Session", 7},        {"Range", 8},
    {"RTP-Info", 9},     {"Server", 11},        {"Accept-Ranges", 12}, {"RTCP-Interval", 13},
    {"WWW-Authenticate", 14}, {"Public", 15},
};

enum SdpClass { SDP_OTHER = 0, SDP_MEDIA = 2, SDP_CONTROL = 3, SDP_FMTP = 4, SDP_RTPMAP = 5 };

constexpr NamedClass SDP_NAMES[] = {
    {"a=control", SDP_CONTROL}, {"a=fmtp", SDP_FMTP}, {"m=", SDP_MEDIA}, {"a=rtpmap", SDP_RTPMAP}};

// Reads "line after line" as RTSP replies are read: a line runs to the next CR or LF and the
// next one starts two characters later; with no CR or LF left the line is empty and the reader
// is past the end.
class LineReader {
public:
    explicit LineReader(std::string_view text) : text_(text) {}

    std::string Next() {
        const size_t end = text_.find_first_of(LINE_ENDS, pos_);
        if (end == NONE) {
            pos_ = text_.size();
            pastEnd_ = true;
            return {};
        }
        std::string line(text_.substr(pos_, end - pos_));
        pos_ = std::min(end + 2, text_.size());
        return line;
    }

    size_t Position() const { return pos_; }
    bool PastEnd() const { return pastEnd_; }

private:
    std::string_view text_;
    size_t pos_ = 0;
    bool pastEnd_ = false;
};

bool SameLetter(char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) ==
           std::tolower(static_cast<unsigned char>(b));
}

size_t FindNoCase(std::string_view text, std::string_view name) {
    if (name.size() > text.size())
        return NONE;
    for (size_t i = 0; i + name.size() <= text.size(); ++i) {
        size_t k = 0;
        while (k < name.size() && SameLetter(text[i + k], name[k]))
            ++k;
        if (k == name.size())
            return i;
    }
    return NONE;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), SameLetter);
}

// A header line's value: the text after its name's colon, blanks after the colon skipped (the
// blank is optional, and the name's case is free; the line was classified by that name).
std::string_view HeaderValue(std::string_view line) {
    const size_t colon = line.find(':');
    const size_t start = colon == NONE ? NONE : line.find_first_not_of(" \t", colon + 1);
    return start == NONE ? std::string_view() : line.substr(start);
}

// Class of a header line by its own name: the text before the first colon, ignoring case.
// Values never decide the class, so a realm or server name that mentions a header is harmless.
int ClassifyHeader(std::string_view line) {
    const size_t colon = line.find(':');
    if (colon == NONE)
        return HEADER_OTHER;
    const std::string_view name = line.substr(0, colon);
    for (const NamedClass& entry : HEADER_NAMES) {
        if (EqualNoCase(name, entry.name))
            return entry.value;
    }
    return HEADER_OTHER;
}

// Class of the first SDP name (in table order) whose first occurrence in the line, ignoring
// case, starts the line or follows a blank, tab, CR or LF.
int ClassifySdp(std::string_view line) {
    for (const NamedClass& entry : SDP_NAMES) {
        const size_t pos = FindNoCase(line, entry.name);
        if (pos == NONE)
            continue;
        if (pos == 0 || std::string_view(" \t\r\n").find(line[pos - 1]) != NONE)
            return entry.value;
    }
    return SDP_OTHER;
}

// Version (at most 255 characters) and status code of a status line.
bool ScanStatusLine(const std::string& line, std::string& version, uint32_t& status) {
    char versionText[256] = {};
    unsigned code = 0;
    if (std::sscanf(line.c_str(), "%255s %u ", versionText, &code) != 2)
        return false;
    version = versionText;
    status = code;
    return true;
}

bool ScanUnsigned(const std::string& text, const char* pattern, uint32_t& out) {
    unsigned long value = 0;
    if (std::sscanf(text.c_str(), pattern, &value) != 1)
        return false;
    out = static_cast<uint32_t>(value);
    return true;
}

// One word after `pattern` (at most 255 characters); empty when the pattern does not match.
std::string ScanWord(const std::string& text, const char* pattern) {
    char word[256] = {};
    if (std::sscanf(text.c_str(), pattern, word) != 1)
        return {};
    return word;
}

bool ScanContentLength(const std::string& lower, uint32_t& length) {
    return ScanUnsigned(lower, "content-length: %lu", length);
}

std::string ScanContentType(const std::string& lower) {
    return ScanWord(lower, "content-type: %255s");
}

std::string ChallengeValue(std::string_view name, std::string_view text) {
    return Utils::RemoveChars("\"", Utils::TrimBlanks(Utils::GetReplyValue(name, "=", text, ",\r\n")));
}

const std::string EMPTY;

}  // namespace

std::string_view RTSPMethodName(RTSPMethod method) {
    switch (method) {
    case RTSPMethod::Describe: return "DESCRIBE";
    case RTSPMethod::Setup: return "SETUP";
    case RTSPMethod::Play: return "PLAY";
    case RTSPMethod::Teardown: return "TEARDOWN";
    case RTSPMethod::Options: return "OPTIONS";
    case RTSPMethod::Pause: return "PAUSE";
    case RTSPMethod::GetParameter: return "GET_PARAMETER";
    }
    return {};
}

CRTSPResponseParser::Media* CRTSPResponseParser::MediaSlot(MediaKind kind) {
    const auto index = static_cast<uint32_t>(kind);
    return index >= 1 && index <= 3 ? &media[index - 1] : nullptr;
}

const std::string& CRTSPResponseParser::GetControl(MediaKind kind) const {
    const auto index = static_cast<uint32_t>(kind);
    return index >= 1 && index <= 3 ? media[index - 1].control : EMPTY;
}

const std::string& CRTSPResponseParser::GetTransportProfile(MediaKind kind) const {
    const auto index = static_cast<uint32_t>(kind);
    return index >= 1 && index <= 3 ? media[index - 1].profile : EMPTY;
}

uint32_t CRTSPResponseParser::GetClockRate(MediaKind kind) const {
    const auto index = static_cast<uint32_t>(kind);
    return index >= 1 && index <= 3 ? media[index - 1].clockRate : 0;
}

size_t CRTSPResponseParser::AnnouncedBodyLength(std::string_view head, RTSPMethod method) {
    LineReader reader(head);
    std::string version;
    uint32_t status = 0;
    if (!ScanStatusLine(reader.Next(), version, status))
        return 0;
    bool hasLength = false;
    uint32_t length = 0;
    bool hasType = false;
    for (std::string line = reader.Next(); !line.empty(); line = reader.Next()) {
        const int headerClass = ClassifyHeader(line);
        if (headerClass == HEADER_CONTENT_LENGTH)
            hasLength = ScanContentLength(Utils::ToLowerCopy(line), length) || hasLength;
        else if (headerClass == HEADER_CONTENT_TYPE)
            hasType = !ScanContentType(Utils::ToLowerCopy(line)).empty() || hasType;
    }
    if (hasLength)
        return length;
    return method == RTSPMethod::Describe && status == 200 && hasType ? BODY_TO_END : 0;
}

bool CRTSPResponseParser::Parse(std::string_view reply, RTSPMethod method) {
    LineReader reader(reply);
    if (!ScanStatusLine(reader.Next(), version, statusCode))
        return false;
    if (statusCode != 200 && statusCode != 401)
        return false;
    for (;;) {
        const std::string line = reader.Next();
        if (line.empty()) {
            if (reader.PastEnd())
                return false;
            break;
        }
        if (!ParseHeader(line))
            return false;
    }
    if (method != RTSPMethod::Describe)
        return true;
    // The body is what this reply announces; a Content-Length kept from an earlier reply
    // says nothing about it.
    return ParseSdp(reply.substr(reader.Position(), AnnouncedBodyLength(reply, method)));
}

bool CRTSPResponseParser::ParseHeader(const std::string& line) {
    switch (ClassifyHeader(line)) {
    case HEADER_CSEQ: return ParseCSeq(Utils::ToLowerCopy(line));
    case HEADER_CONTENT_BASE: return ParseContentBase(line);
    case HEADER_CONTENT_TYPE: return ParseContentType(Utils::ToLowerCopy(line));
    case HEADER_CONTENT_LENGTH: return ParseContentLength(Utils::ToLowerCopy(line));
    case HEADER_TRANSPORT: ParseTransport(line); return true;
    case HEADER_SESSION: return ParseSession(line);
    case HEADER_WWW_AUTHENTICATE: return ParseAuthenticate(line);
    case HEADER_PUBLIC: return ParsePublic(line);
    default: return true;
    }
}

bool CRTSPResponseParser::ParseCSeq(const std::string& lower) { return ScanUnsigned(lower, "cseq: %lu", cseq); }

bool CRTSPResponseParser::ParseContentBase(const std::string& line) {
    const std::string_view value = HeaderValue(line);
    const size_t url = value.find("rtsp://");
    if (url != NONE)
        contentBase = Utils::TrimBlanks(value.substr(url));
    return true;
}

bool CRTSPResponseParser::ParseContentType(const std::string& lower) {
    const std::string type = ScanContentType(lower);
    if (type.empty())
        return false;
    contentType = type;
    return true;
}

bool CRTSPResponseParser::ParseContentLength(const std::string& lower) {
    return ScanContentLength(lower, contentLength);
}

bool CRTSPResponseParser::ParseSession(const std::string& line) {
    const std::string_view value = HeaderValue(line);
    sessionId = Utils::TrimBlanks(value.substr(0, value.find_first_of(";\r\n")));
    if (line.find(';') != NONE) {
        const std::string timeout = Utils::GetReplyValue("timeout", "=", line, ";\r\n");
        if (timeout.empty()) {
            sessionId.clear();
        } else {
            const auto seconds = static_cast<uint32_t>(std::strtoul(timeout.c_str(), nullptr, 10));
            sessionTimeout = seconds == 0 ? 30 : seconds;
        }
    }
    return !sessionId.empty();
}

// The channels a SETUP reply gives RTP and RTCP on the connection ("interleaved=4-5", or "=4" for
// 4 and 5): the server may choose others than those asked for. Anything unusable keeps 0 and 1.
void CRTSPResponseParser::ParseTransport(const std::string& line) {
    interleaved = {0, 1};
    const std::string value = Utils::GetReplyValue("interleaved", "=", line, ";\r\n");
    unsigned rtp = 0, rtcp = 0;
    const int fields = std::sscanf(value.c_str(), "%u-%u", &rtp, &rtcp);
    if (fields == 1)
        rtcp = rtp + 1;
    if (fields >= 1 && rtp <= 255 && rtcp <= 255 && rtp != rtcp)
        interleaved = {static_cast<uint8_t>(rtp), static_cast<uint8_t>(rtcp)};
}

bool CRTSPResponseParser::ParsePublic(const std::string& line) {
    getParameterOffered = false;
    std::string_view methods = HeaderValue(line);
    while (!methods.empty() && !getParameterOffered) {
        const size_t comma = std::min(methods.find(','), methods.size());
        getParameterOffered = EqualNoCase(Utils::TrimBlanks(methods.substr(0, comma)),
                                          RTSPMethodName(RTSPMethod::GetParameter));
        methods.remove_prefix(std::min(comma + 1, methods.size()));
    }
    return true;
}

bool CRTSPResponseParser::ParseAuthenticate(const std::string& line) {
    offeredScheme = AuthScheme::None;
    const std::string_view value = HeaderValue(line);
    const size_t wordEnd = value.find_first_of(" \t\r\n");
    if (wordEnd == NONE)
        return false;
    const std::string_view word = value.substr(0, wordEnd);
    if (EqualNoCase(word, "Digest"))
        offeredScheme = AuthScheme::Digest;
    else if (EqualNoCase(word, "Basic"))
        offeredScheme = AuthScheme::Basic;
    else
        return true;
    const std::string_view rest = value.substr(wordEnd);
    realm = ChallengeValue("realm", rest);
    nonce = ChallengeValue("nonce", rest);
    return offeredScheme == AuthScheme::Basic || (!realm.empty() && !nonce.empty());
}

bool CRTSPResponseParser::ParseSdp(std::string_view body) {
    currentKind = MediaKind::None;
    unusableSets = false;
    size_t pos = 0;
    for (;;) {
        pos = body.find_first_not_of(LINE_ENDS, pos);
        if (pos == NONE)
            return true;
        const size_t end = std::min(body.find_first_of(LINE_ENDS, pos), body.size());
        const std::string line(body.substr(pos, end - pos));
        pos = end;
        bool accepted = true;
        switch (ClassifySdp(line)) {
        case SDP_MEDIA: accepted = ParseMediaLine(line); break;
        case SDP_CONTROL: accepted = ParseControlLine(line); break;
        case SDP_FMTP: accepted = ParseFmtpLine(line); break;
        case SDP_RTPMAP:
            ParseRtpmapLine(line);
            break;
        default: break;
        }
        if (!accepted)
            return false;
    }
}

bool CRTSPResponseParser::ParseMediaLine(const std::string& line) {
    currentKind = MediaKind::None;
    sectionKind = MediaKind::None;
    const std::string description = Utils::GetReplyValue("m", "=", line, "\r\n");
    const std::vector<std::string> words = Utils::SplitString(description, ' ');
    if (description.empty() || words.empty() || words[0].empty())
        return false;
    const std::string kind = Utils::ToLowerCopy(words[0]);
    if (kind == "video")
        currentKind = MediaKind::Video;
    else if (kind == "audio")
        currentKind = MediaKind::Audio;
    else if (kind == "metadata" || kind == "data")
        currentKind = MediaKind::Metadata;
    sectionKind = currentKind;
    Media* slot = MediaSlot(currentKind);
    if (slot && words.size() > 2)
        slot->profile = words[2];
    if (slot && words.size() > 3)
        slot->format = words[3];
    return true;
}

// "a=rtpmap:<format> <encoding>/<clock rate>[/<parameters>]"; only the line of the section's
// first format counts, and a line not of that form is passed over.
void CRTSPResponseParser::ParseRtpmapLine(const std::string& line) {
    Media* slot = MediaSlot(sectionKind);
    char format[32] = {};
    char encoding[64] = {};
    unsigned long rate = 0;
    if (!slot ||
        std::sscanf(line.c_str(), "a=rtpmap:%31s %63[^/]/%lu", format, encoding, &rate) != 3)
        return;
    if (slot->format == format && rate > 0 && rate <= MAX_CLOCK_RATE)
        slot->clockRate = static_cast<uint32_t>(rate);
}

bool CRTSPResponseParser::ParseControlLine(const std::string& line) {
    const std::string control = ScanWord(line, "a=control:%255s");
    if (Media* slot = MediaSlot(currentKind))
        slot->control = control;
    currentKind = MediaKind::None;
    return !control.empty();
}

bool CRTSPResponseParser::ParseFmtpLine(const std::string& line) {
    const std::string sprop = Utils::GetReplyValue("sprop-parameter-sets", "=", line, ";\r\n");
    if (sprop.empty()) {
        const std::string config = Utils::GetReplyValue("config", "=", line, ";\r\n");
        if (config.empty())
            return true;
        codecConfig = Utils::HexToBytes(config);
        return !codecConfig.empty();
    }
    // Sets that cannot be used do not fail the reply: many cameras repeat them in the stream.
    const std::vector<std::string> sets = Utils::SplitString(sprop, ',');
    std::vector<uint8_t> first, second;
    if (sets.size() < 2 || !Utils::Base64Decode(sets[0], first, MAX_PARAMETER_SET) ||
        !Utils::Base64Decode(sets[1], second, MAX_PARAMETER_SET) || first.empty() ||
        second.empty()) {
        sps.clear();
        pps.clear();
        unusableSets = true;
        return true;
    }
    sps = std::move(first);
    pps = std::move(second);
    return true;
}

}  // namespace norvane
