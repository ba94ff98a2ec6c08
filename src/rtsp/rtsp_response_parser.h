// Turns RTSP reply texts into the session state of one client: status, CSeq, Content-Base,
// session, authentication challenge and, for DESCRIBE, the SDP media controls, transport
// profiles and codec parameter sets. Fields persist from reply to reply.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace norvane {

enum class RTSPMethod : uint32_t {
    Describe = 1,
    Setup = 2,
    Play = 3,
    Teardown = 4,
    Options = 5,
    Pause = 6,
    GetParameter = 7,
};
enum class AuthScheme : uint32_t { None = 0, Basic = 1, Digest = 2 };
enum class MediaKind : uint32_t { None = 0, Video = 1, Audio = 2, Metadata = 3 };

// Method name of a request; empty for an unknown method.
std::string_view RTSPMethodName(RTSPMethod method);

class CRTSPResponseParser {
public:
    static constexpr size_t MAX_PARAMETER_SET = 256;
    static constexpr uint32_t MAX_CLOCK_RATE = 1000000;  // Hz; a higher rtpmap rate is ignored
    // Body length of a reply that ends only when the peer closes or falls quiet.
    static constexpr size_t BODY_TO_END = std::string_view::npos;

    CRTSPResponseParser() = default;
    virtual ~CRTSPResponseParser() = default;

    // Parses one reply; the body is read as SDP for DESCRIBE only. Never reads past the text.
    bool Parse(std::string_view reply, RTSPMethod method);

    // Body length that a reply's own head (status line and headers up to the empty line)
    // announces: its Content-Length; without one no body, except that a 200 reply to DESCRIBE
    // with a Content-Type runs to the end (BODY_TO_END). Earlier replies do not count.
    static size_t AnnouncedBodyLength(std::string_view head, RTSPMethod method);

    // Forgets the session identifier (a new connection starts without one).
    void ForgetSession() { sessionId.clear(); }

    // The request counter: incremented before each request; a reply's CSeq overwrites it.
    uint32_t NextCSeq() { return ++cseq; }

    const std::string& GetVersion() const { return version; }
    uint32_t GetStatusCode() const { return statusCode; }
    uint32_t GetCSeq() const { return cseq; }
    const std::string& GetContentBase() const { return contentBase; }
    const std::string& GetContentType() const { return contentType; }
    uint32_t GetContentLength() const { return contentLength; }
    const std::string& GetSessionId() const { return sessionId; }
    uint32_t GetSessionTimeout() const { return sessionTimeout; }
    // RTP and RTCP channels on the connection that the last Transport header gave.
    std::pair<uint8_t, uint8_t> GetInterleavedChannels() const { return interleaved; }
    // Control and transport profile of a media kind; empty for kinds outside 1 to 3.
    const std::string& GetControl(MediaKind kind) const;
    const std::string& GetTransportProfile(MediaKind kind) const;
    // RTP clock rate of a media kind's first payload format, from its a=rtpmap; 0 when the
    // description gave none.
    uint32_t GetClockRate(MediaKind kind) const;
    AuthScheme GetOfferedScheme() const { return offeredScheme; }
    const std::string& GetRealm() const { return realm; }
    const std::string& GetNonce() const { return nonce; }
    const std::vector<uint8_t>& GetSequenceParameterSet() const { return sps; }
    const std::vector<uint8_t>& GetPictureParameterSet() const { return pps; }
    const std::vector<uint8_t>& GetCodecConfiguration() const { return codecConfig; }
    // The last Public header listed GET_PARAMETER (a keep-alive that servers count as activity).
    bool OffersGetParameter() const { return getParameterOffered; }
    // The last DESCRIBE offered sprop-parameter-sets that cannot be used (fewer than two
    // entries, an empty or oversized one): they were dropped, and the stream's own count.
    bool HasUnusableParameterSets() const { return unusableSets; }

private:
    struct Media {
        std::string control;
        std::string profile;
        std::string format;  // first payload format of the m= line
        uint32_t clockRate = 0;
    };

    bool ParseHeader(const std::string& line);
    bool ParseCSeq(const std::string& lower);
    bool ParseContentBase(const std::string& line);
    bool ParseContentType(const std::string& lower);
    bool ParseContentLength(const std::string& lower);
    bool ParseSession(const std::string& line);
    bool ParseAuthenticate(const std::string& line);
    bool ParsePublic(const std::string& line);
    void ParseTransport(const std::string& line);
    bool ParseSdp(std::string_view body);
    bool ParseMediaLine(const std::string& line);
    bool ParseControlLine(const std::string& line);
    bool ParseFmtpLine(const std::string& line);
    void ParseRtpmapLine(const std::string& line);
    Media* MediaSlot(MediaKind kind);

    std::string version;
    uint32_t statusCode = 0;
    uint32_t cseq = 0;
    std::string contentBase;
    std::string contentType;
    uint32_t contentLength = 0;
    std::string sessionId;
    uint32_t sessionTimeout = 0;
    std::pair<uint8_t, uint8_t> interleaved{0, 1};
    Media media[3];
    AuthScheme offeredScheme = AuthScheme::None;
    std::string realm;
    std::string nonce;
    std::vector<uint8_t> sps;
    std::vector<uint8_t> pps;
    std::vector<uint8_t> codecConfig;
    bool getParameterOffered = false;
    bool unusableSets = false;
    MediaKind currentKind = MediaKind::None;  // SDP parse state
    MediaKind sectionKind = MediaKind::None;  // kind of the m= section, for its rtpmap lines
};

}  // namespace norvane
