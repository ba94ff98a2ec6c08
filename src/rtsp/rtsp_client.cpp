#include "rtsp/rtsp_client.h"

#include <algorithm>

#include "http/utils.h"
#include "platform/system.h"

namespace norvane {

namespace {

constexpr size_t NONE = std::string::npos;

// The reply is complete once its header block has ended and the body its head announces has
// arrived. A body that runs to the end is never complete here: it ends when the camera closes
// or falls quiet.
bool ReplyComplete(const std::string& reply, RTSPMethod method) {
    size_t end = reply.find("\r\n\r\n");
    size_t endSize = 4;
    if (end == NONE) {
        end = reply.find("\n\n");
        endSize = 2;
    }
    if (end == NONE)
        return false;
    const size_t bodyStart = end + endSize;
    const size_t length = CRTSPResponseParser::AnnouncedBodyLength(
        std::string_view(reply).substr(0, bodyStart), method);
    return length != CRTSPResponseParser::BODY_TO_END && reply.size() - bodyStart >= length;
}

}  // namespace

// Time left of an exchange.
class CBaseRTSPClient::Deadline {
public:
    explicit Deadline(uint64_t limitMs) : start_(platform::SteadyMs()), limit_(limitMs) {}

    // Milliseconds left; 0 once the exchange has lasted its limit.
    uint32_t Left() const {
        const uint32_t elapsed = platform::SteadyMs() - start_;
        return elapsed >= limit_
                   ? 0
                   : static_cast<uint32_t>(std::min<uint64_t>(limit_ - elapsed, UINT32_MAX));
    }

private:
    uint32_t start_;
    uint64_t limit_;
};

CBaseRTSPClient::~CBaseRTSPClient() { Disconnect(); }

bool CBaseRTSPClient::Connect(const RTSPConnectionParams& newParams) {
    if (aborted)
        return false;
    if (connected)
        return true;
    params = newParams;
    parser.ForgetSession();
    digestOffered = false;
    socketLibrary.Acquire();
    if (!CreateSocket() || !socket.SetReceiveBufferSize(static_cast<int>(params.receiveBuffer)) ||
        !socket.SetReceiveTimeout(params.receiveTimeout)) {
        CloseSocket();
        return false;
    }
    const uint32_t address =
        Utils::ResolveHostAddress(params.host, [this] { return aborted.load(); });
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

bool CBaseRTSPClient::CreateSocket() {
    CLockGuard guard(socketLock);
    return socket.Create() && !aborted;
}

void CBaseRTSPClient::CloseSocket() {
    {
        CLockGuard guard(socketLock);
        socket.Close();
    }
    socketLibrary.Release();
}

void CBaseRTSPClient::Abort() {
    aborted = true;
    CLockGuard guard(socketLock);
    socket.Wake();
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
    return "rtsp://" + params.host + ":" + std::to_string(params.rtspPort) + "/" +
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
    if (profile.size() > MAX_TRANSPORT_PROFILE)
        return {};
    return "Transport: " + (profile.empty() ? std::string("RTP/AVP/UDP") : profile) +
           ";unicast;client_port=" + std::to_string(params.rtpClientPort) + "-" +
           std::to_string(params.rtcpClientPort) + "\r\n";
}

std::string CBaseRTSPClient::AuthorizationLine(RTSPMethod method, const std::string& uri) const {
    if (params.authScheme == AuthScheme::Basic) {
        std::string credentials;
        if (!Utils::MakeBasicCredentials(params.userName, params.password, credentials))
            return {};
        return "Authorization: Basic " + credentials + "\r\n";
    }
    if (params.authScheme != AuthScheme::Digest || parser.GetOfferedScheme() != AuthScheme::Digest)
        return {};
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
    const std::string url = method == RTSPMethod::Setup ? SetupUrl() : PresentationUrl();
    const std::string cseq = "CSeq: " + std::to_string(parser.NextCSeq()) + "\r\n";
    // Digest's uri is the request's own URI.
    const std::string authorization = AuthorizationLine(method, url);
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
    case RTSPMethod::Setup: {
        const std::string transport = TransportLine();
        if (transport.empty())
            return {};
        return start + url + " " + VERSION + cseq + authorization + transport + AGENT +
               "\r\n";
    }
    case RTSPMethod::Play:
    case RTSPMethod::Pause:
        return start + url + " " + VERSION + cseq + authorization + session + RANGE + AGENT + "\r\n";
    default:  // TEARDOWN, OPTIONS, GET_PARAMETER (without a body)
        return start + url + " " + VERSION + cseq + authorization + session + AGENT + "\r\n";
    }
}

bool CBaseRTSPClient::ReadReply(RTSPMethod method, const Deadline& deadline, std::string& reply) {
    reply.clear();
    char buffer[RECEIVE_CHUNK];
    for (;;) {
        const uint32_t left = deadline.Left();
        if (left == 0)
            return false;
        const int received =
            socket.ReceiveWithin(buffer, sizeof(buffer), std::min(params.receiveTimeout, left));
        if (received <= 0) {
            // A quiet peer or a closed connection ends the reply; the deadline or Abort fail it.
            if (aborted || deadline.Left() == 0)
                return false;
            break;
        }
        reply.append(buffer, static_cast<size_t>(received));
        if (reply.size() > MAX_REPLY_SIZE)
            return false;
        if (ReplyComplete(reply, method))
            break;
    }
    return !reply.empty();
}

bool CBaseRTSPClient::ExecuteOnce(RTSPMethod method) {
    if (!connected || aborted)
        return false;
    const std::string request = BuildRequest(method);
    if (request.empty())
        return false;
    const Deadline deadline(2 * uint64_t{params.receiveTimeout});
    if (!socket.SendAllWithin(request.data(), request.size(), deadline.Left()))
        return false;
    std::string reply;
    return ReadReply(method, deadline, reply) && parser.Parse(reply, method);
}

bool CBaseRTSPClient::Execute(RTSPMethod method) {
    if (!ExecuteOnce(method))
        return false;
    // Retry once when the challenge gives what an answer needs: another scheme, or a Digest
    // nonce (the first request of a Digest client cannot carry one).
    const AuthScheme offered = parser.GetOfferedScheme();
    if (parser.GetStatusCode() != 401)
        return parser.GetStatusCode() / 100 == 2;
    digestOffered = digestOffered || offered == AuthScheme::Digest;
    // Where Digest was offered on this connection, a Basic challenge is not answered: the
    // password would go out in the clear.
    if (offered == AuthScheme::Basic && digestOffered)
        return false;
    if (offered != params.authScheme || offered == AuthScheme::Digest) {
        params.authScheme = offered;
        if (!ExecuteOnce(method))
            return false;
    }
    return parser.GetStatusCode() / 100 == 2;
}

bool CBaseRTSPClient::Send(RTSPMethod method) {
    if (!connected)
        return false;
    DiscardPending();
    const std::string request = BuildRequest(method);
    return !request.empty() && socket.SendAllWithin(request.data(), request.size(), 0);
}

bool CBaseRTSPClient::AwaitClose(uint32_t milliseconds) {
    const Deadline deadline(milliseconds);
    char dropped[RECEIVE_CHUNK];
    while (connected && !aborted) {
        const uint32_t left = deadline.Left();
        if (left == 0)
            return false;
        const platform::WaitResult result = socket.WaitReadable(left);
        if (result == platform::WaitResult::Error)
            return true;
        if (result != platform::WaitResult::Ready)
            return false;
        if (socket.Receive(dropped, sizeof(dropped)) <= 0)
            return true;
    }
    return false;
}

// Reads what has arrived unread (the reply of an aborted exchange), at most one reply's bound:
// closing a socket with unread bytes resets the connection, and the reset may cost the camera
// the request just sent.
void CBaseRTSPClient::DiscardPending() {
    if (!socket.SetBlocking(false))
        return;
    char discarded[RECEIVE_CHUNK];
    size_t total = 0;
    for (int received; total <= MAX_REPLY_SIZE &&
                       (received = socket.Receive(discarded, sizeof(discarded))) > 0;)
        total += static_cast<size_t>(received);
}

}  // namespace norvane
