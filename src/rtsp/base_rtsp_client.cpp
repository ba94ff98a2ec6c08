#include "rtsp/base_rtsp_client.h"

#include <algorithm>

#include "http/utils.h"
#include "platform/system.h"

namespace norvane {

namespace {

constexpr size_t NONE = std::string::npos;
constexpr int NO_CHANNEL = -1;

// The size of the reply that starts `text` as its head announces it: 0 while the header block has
// not ended, BODY_TO_END for a body that runs until the camera closes or falls quiet, else the
// head and the body its Content-Length gives.
size_t AnnouncedReplySize(std::string_view text, RTSPMethod method) {
    size_t end = text.find("\r\n\r\n");
    size_t endSize = 4;
    if (end == NONE) {
        end = text.find("\n\n");
        endSize = 2;
    }
    if (end == NONE)
        return 0;
    const size_t bodyStart = end + endSize;
    const size_t length =
        CRTSPResponseParser::AnnouncedBodyLength(text.substr(0, bodyStart), method);
    return length == CRTSPResponseParser::BODY_TO_END ? length : bodyStart + length;
}

// Whether the bytes can begin a reply's status line.
bool StartsAsReply(std::string_view text) {
    constexpr std::string_view VERSION = "RTSP/";
    return text.substr(0, VERSION.size()) ==
           VERSION.substr(0, std::min(text.size(), VERSION.size()));
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
    inbox.resize(MAX_REPLY_SIZE + INBOX_CHUNK);
    inboxBegin = inboxEnd = 0;
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
    if (IsInterleaved()) {
        // The profile with its lower transport TCP: "RTP/AVP" and "RTP/AVP/UDP" give "RTP/AVP/TCP".
        std::string base = profile.empty() ? std::string("RTP/AVP") : profile;
        if (base.ends_with("/UDP"))
            base.resize(base.size() - 4);
        return "Transport: " + base + "/TCP;unicast;interleaved=" + std::to_string(RTP_CHANNEL) +
               "-" + std::to_string(RTCP_CHANNEL) + "\r\n";
    }
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

std::string_view CBaseRTSPClient::Unread() const {
    return {inbox.data() + inboxBegin, inboxEnd - inboxBegin};
}

int CBaseRTSPClient::Fill(uint32_t milliseconds) {
    // What is left unread (at most a partial frame or reply) moves to the front.
    if (inboxBegin > 0) {
        std::copy(inbox.begin() + inboxBegin, inbox.begin() + inboxEnd, inbox.begin());
        inboxEnd -= inboxBegin;
        inboxBegin = 0;
    }
    const size_t room = std::min(inbox.size() - inboxEnd, INBOX_CHUNK);
    return socket.ReceiveWithin(inbox.data() + inboxEnd, room, milliseconds);
}

CBaseRTSPClient::Unit CBaseRTSPClient::NextUnit(RTSPMethod method, size_t& size) const {
    const std::string_view unread = Unread();
    if (IsInterleaved() && !unread.empty() && unread[0] == '$') {
        if (unread.size() < INTERLEAVED_HEADER)
            return Unit::Incomplete;
        const size_t length =
            static_cast<uint8_t>(unread[2]) << 8 | static_cast<uint8_t>(unread[3]);
        if (length > MAX_INTERLEAVED_FRAME)
            return Unit::Malformed;
        size = INTERLEAVED_HEADER + length;
        return unread.size() < size ? Unit::Incomplete : Unit::Frame;
    }
    if (IsInterleaved() && !StartsAsReply(unread))
        return Unit::Malformed;
    const size_t announced = AnnouncedReplySize(unread, method);
    if (announced != 0 && announced != CRTSPResponseParser::BODY_TO_END) {
        if (announced > MAX_REPLY_SIZE)
            return Unit::Malformed;
        size = announced;
        return unread.size() < size ? Unit::Incomplete : Unit::Reply;
    }
    return unread.size() > MAX_REPLY_SIZE ? Unit::Malformed : Unit::Incomplete;
}

CBaseRTSPClient::Unit CBaseRTSPClient::TakeFrames(RTSPMethod method, size_t& size) {
    Unit unit;
    while ((unit = NextUnit(method, size)) == Unit::Frame) {
        const auto* frame = reinterpret_cast<const uint8_t*>(inbox.data() + inboxBegin);
        inboxBegin += size;
        // Frames on channels the session did not set up are dropped.
        const int channel = frame[1] == wireRtp    ? RTP_CHANNEL
                            : frame[1] == wireRtcp ? RTCP_CHANNEL
                                                   : NO_CHANNEL;
        if (interleavedUser && channel != NO_CHANNEL)
            interleavedUser->OnInterleaved(static_cast<uint8_t>(channel), frame + INTERLEAVED_HEADER,
                                           static_cast<uint32_t>(size - INTERLEAVED_HEADER));
    }
    return unit;
}

bool CBaseRTSPClient::ReadReply(RTSPMethod method, const Deadline& deadline, std::string& reply) {
    reply.clear();
    for (;;) {
        size_t size = 0;
        const Unit unit = TakeFrames(method, size);
        if (unit == Unit::Malformed)
            return false;
        if (unit == Unit::Reply) {
            reply.assign(Unread().substr(0, size));
            inboxBegin += size;
            return true;
        }
        const uint32_t left = deadline.Left();
        if (left == 0)
            return false;
        const int received = Fill(std::min(params.receiveTimeout, left));
        if (received <= 0)
            break;
        inboxEnd += static_cast<size_t>(received);
    }
    // A quiet peer or a closed connection ends the reply; the deadline or Abort fail it.
    if (aborted || deadline.Left() == 0)
        return false;
    reply.assign(Unread());
    inboxBegin = inboxEnd;
    return !reply.empty();
}

bool CBaseRTSPClient::ExecuteOnce(RTSPMethod method) {
    if (!connected || aborted)
        return false;
    const std::string request = BuildRequest(method);
    if (request.empty())
        return false;
    const Deadline deadline(2 * uint64_t{params.receiveTimeout});
    if (!SendLocked(request, deadline.Left()))
        return false;
    std::string reply;
    if (!ReadReply(method, deadline, reply) || !parser.Parse(reply, method))
        return false;
    if (method == RTSPMethod::Setup && parser.GetStatusCode() / 100 == 2) {
        wireRtp = parser.GetInterleavedChannels().first;
        wireRtcp = parser.GetInterleavedChannels().second;
    }
    return true;
}

bool CBaseRTSPClient::SendLocked(const std::string& text, uint32_t milliseconds) {
    CLockGuard guard(sendLock);
    return socket.SendAllWithin(text.data(), text.size(), milliseconds);
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
    return !request.empty() && SendLocked(request, 0);
}

bool CBaseRTSPClient::SendInterleaved(uint8_t channel, const uint8_t* data, size_t length) {
    if (!connected || length > MAX_INTERLEAVED_FRAME)
        return false;
    std::string frame(INTERLEAVED_HEADER + length, '\0');
    frame[0] = '$';
    frame[1] = static_cast<char>(channel == RTCP_CHANNEL ? wireRtcp.load() : wireRtp.load());
    frame[2] = static_cast<char>(length >> 8);
    frame[3] = static_cast<char>(length);
    std::copy(data, data + length, frame.begin() + INTERLEAVED_HEADER);
    if (SendLocked(frame, INTERLEAVED_SEND_MS))
        return true;
    socket.Shutdown();
    return false;
}

CBaseRTSPClient::ReadEnd CBaseRTSPClient::ReadUnasked(uint32_t milliseconds,
                                                      const std::function<bool()>& done) {
    const Deadline deadline(milliseconds);
    while (connected && !aborted) {
        size_t size = 0;
        const Unit unit = TakeFrames(RTSPMethod::Options, size);
        if (unit == Unit::Malformed)
            return ReadEnd::Malformed;
        if (unit == Unit::Reply || !IsInterleaved())
            inboxBegin = unit == Unit::Reply ? inboxBegin + size : inboxEnd;
        if (done && done())
            return ReadEnd::Done;
        const uint32_t left = deadline.Left();
        if (left == 0)
            return ReadEnd::TimePassed;
        const platform::WaitResult result = socket.WaitReadable(left);
        if (result == platform::WaitResult::Error)
            return ReadEnd::Closed;
        if (result != platform::WaitResult::Ready)
            break;
        const int received = Fill(0);
        if (received <= 0)
            return aborted ? ReadEnd::Aborted : ReadEnd::Closed;
        inboxEnd += static_cast<size_t>(received);
    }
    return aborted ? ReadEnd::Aborted : ReadEnd::TimePassed;
}

// Reads what has arrived unread (the reply of an aborted exchange), at most one reply's bound:
// closing a socket with unread bytes resets the connection, and the reset may cost the camera
// the request just sent.
void CBaseRTSPClient::DiscardPending() {
    if (!socket.SetBlocking(false))
        return;
    char discarded[1024];
    size_t total = 0;
    for (int received; total <= MAX_REPLY_SIZE &&
                       (received = socket.Receive(discarded, sizeof(discarded))) > 0;)
        total += static_cast<size_t>(received);
}

}  // namespace norvane
