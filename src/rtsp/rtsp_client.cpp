#include "rtsp/rtsp_client.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "http/utils.h"

namespace norvane {

namespace {

constexpr size_t NONE = std::string::npos;

std::string Format(const char* format, const std::string& a, unsigned b) {
    char buffer[1024];
    const int n = std::snprintf(buffer, sizeof(buffer), format, a.c_str(), b);
    return n < 0 ? std::string() : std::string(buffer, std::min<size_t>(static_cast<size_t>(n), sizeof(buffer) - 1));
}

// Value of the Content-Length header within a header block, or -1 when it has none.
long ContentLengthOf(const std::string& headers) {
    const std::string lower = Utils::ToLowerCopy(headers);
    const size_t at = lower.find("\ncontent-length:");
    if (at == NONE)
        return -1;
    return std::strtol(lower.c_str() + at + 16, nullptr, 10);
}

// The reply is complete once its header block has ended and, with a Content-Length, its body
// has arrived. A DESCRIBE reply without Content-Length is never complete here: it ends when the
// camera closes or the receive times out.
bool ReplyComplete(const std::string& reply, RTSPMethod method) {
    size_t end = reply.find("\r\n\r\n");
    size_t endSize = 4;
    if (end == NONE) {
        end = reply.find("\n\n");
        endSize = 2;
    }
    if (end == NONE)
        return false;
    const long length = ContentLengthOf(reply.substr(0, end + endSize));
    if (length < 0)
        return method != RTSPMethod::Describe;
    return reply.size() - (end + endSize) >= static_cast<unsigned long>(length);
}

}  // namespace

CBaseRTSPClient::~CBaseRTSPClient() { Disconnect(); }

bool CBaseRTSPClient::Connect(const RTSPConnectionParams& newParams) {
    if (connected)
        return true;
    params = newParams;
    socketLibrary.Acquire();
    if (!socket.Create() || !socket.SetReceiveBufferSize(static_cast<int>(params.receiveBuffer)) ||
        !socket.SetReceiveTimeout(params.receiveTimeout)) {
        CloseSocket();
        return false;
    }
    const uint32_t address = Utils::ResolveHostAddress(params.host);
    if (address == 0) {
        CloseSocket();
        return false;
    }
    platform::TcpSocket::ConnectState state = socket.StartConnect(address, params.rtspPort);
    for (uint32_t polls = params.connectTimeout / CONNECT_POLL_MS;
         state == platform::TcpSocket::ConnectState::Pending && polls > 0; --polls)
        state = socket.PollConnect(CONNECT_POLL_MS);
    if (state != platform::TcpSocket::ConnectState::Connected || !socket.SetBlocking(true)) {
        CloseSocket();
        return false;
    }
    connected = true;
    return true;
}

void CBaseRTSPClient::CloseSocket() {
    socket.Close();
    socketLibrary.Release();
}

void CBaseRTSPClient::Disconnect() {
    if (connected)
        CloseSocket();
    connected = false;
}

std::string CBaseRTSPClient::PresentationUrl() const {
    const std::string& base = parser.GetContentBase();
    if (base.find("rtsp://") != NONE)
        return base;
    const size_t first = params.path.find_first_not_of('/');
    return Format("rtsp://%s:%u/", params.host, params.rtspPort) +
           (first == NONE ? std::string() : params.path.substr(first));
}

std::string CBaseRTSPClient::SetupUrl() const {
    const std::string& control = parser.GetControl(params.mediaToSetUp);
    if (control.find("://") != NONE)
        return control;
    std::string url = PresentationUrl();
    if (url.empty() || control.empty())
        return url;
    if (url.back() == '/')
        url.pop_back();
    if (control.front() != '/')
        url += '/';
    return url + control;
}

std::string CBaseRTSPClient::TransportLine() const {
    const std::string& profile = parser.GetTransportProfile(params.mediaToSetUp);
    char buffer[512];
    std::snprintf(buffer, sizeof(buffer), "Transport: %s;unicast;client_port=%u-%u\r\n",
                  profile.empty() ? "RTP/AVP/UDP" : profile.c_str(),
                  static_cast<unsigned>(params.rtpClientPort), static_cast<unsigned>(params.rtcpClientPort));
    return buffer;
}

std::string CBaseRTSPClient::AuthorizationLine(RTSPMethod method) const {
    if (params.authScheme == AuthScheme::Basic) {
        std::string credentials;
        if (!Utils::MakeBasicCredentials(params.userName, params.password, credentials))
            return {};
        return "Authorization: Basic " + credentials + "\r\n";
    }
    if (params.authScheme != AuthScheme::Digest || parser.GetOfferedScheme() != AuthScheme::Digest)
        return {};
    const std::string uri = PresentationUrl();
    const std::string& realm = parser.GetRealm();
    const std::string& nonce = parser.GetNonce();
    if (realm.empty() || nonce.empty() || params.userName.empty() || params.password.empty() ||
        uri.empty())
        return {};
    const std::string ha1 = Utils::Md5Hex(params.userName + ":" + realm + ":" + params.password);
    const std::string ha2 = Utils::Md5Hex(std::string(RTSPMethodName(method)) + ":" + uri);
    const std::string response = Utils::Md5Hex(ha1 + ":" + nonce + ":" + ha2);
    return "Authorization: Digest username=\"" + params.userName + "\", realm=\"" + realm +
           "\", nonce=\"" + nonce + "\", uri=\"" + uri + "\", response=\"" + response + "\"\r\n";
}

std::string CBaseRTSPClient::BuildRequest(RTSPMethod method) {
    const std::string_view name = RTSPMethodName(method);
    if (name.empty())
        return {};
    const std::string url = PresentationUrl();
    const std::string cseq = "CSeq: " + std::to_string(parser.NextCSeq()) + "\r\n";
    const std::string authorization = AuthorizationLine(method);
    const std::string session =
        parser.GetSessionId().empty() ? std::string() : "Session: " + parser.GetSessionId() + "\r\n";
    const std::string start = std::string(name) + " ";
    constexpr const char* VERSION = "RTSP/1.0\r\n";
    constexpr const char* AGENT = "User-Agent: Norvane\r\n";
    constexpr const char* RANGE = "Range: npt=0.000-\r\n";
    switch (method) {
    case RTSPMethod::Describe:
        return start + url + " " + VERSION + cseq + authorization + AGENT +
               "Accept: application/sdp\r\n" + "\r\n";
    case RTSPMethod::Setup:
        return start + SetupUrl() + " " + VERSION + cseq + authorization + TransportLine() + AGENT +
               "\r\n";
    case RTSPMethod::Play:
    case RTSPMethod::Pause:
        return start + url + " " + VERSION + cseq + authorization + session + RANGE + AGENT + "\r\n";
    default:  // TEARDOWN, OPTIONS
        return start + url + " " + VERSION + cseq + authorization + session + AGENT + "\r\n";
    }
}

bool CBaseRTSPClient::ReadReply(RTSPMethod method, std::string& reply) {
    reply.clear();
    char buffer[RECEIVE_CHUNK];
    for (;;) {
        const int received = socket.Receive(buffer, sizeof(buffer));
        if (received <= 0)
            break;
        reply.append(buffer, static_cast<size_t>(received));
        if (reply.size() > MAX_REPLY_SIZE)
            return false;
        if (ReplyComplete(reply, method))
            break;
    }
    return !reply.empty();
}

bool CBaseRTSPClient::ExecuteOnce(RTSPMethod method) {
    if (!connected)
        return false;
    const std::string request = BuildRequest(method);
    if (request.empty() || !socket.SendAll(request.data(), request.size()))
        return false;
    std::string reply;
    return ReadReply(method, reply) && parser.Parse(reply, method);
}

bool CBaseRTSPClient::Execute(RTSPMethod method) {
    if (!ExecuteOnce(method))
        return false;
    if (parser.GetStatusCode() == 401 && parser.GetOfferedScheme() != params.authScheme) {
        params.authScheme = parser.GetOfferedScheme();
        if (!ExecuteOnce(method))
            return false;
    }
    return parser.GetStatusCode() / 100 == 2;
}

}  // namespace norvane
