#include "camsim/rtsp_server.h"

#include <chrono>
#include <cstdio>
#include <utility>

#include "camsim/change_wait.h"
#include "camsim/auth_crypto.h"
#include "camsim/text.h"

namespace camsim {

namespace platform = norvane::platform;

struct RtspServer::Connection {
    platform::TcpSocket socket;
    std::shared_ptr<InterleavedLink> link = std::make_shared<InterleavedLink>(socket);
    std::thread thread;
    unsigned number = 0;
    bool done = false;  // under the server lock
};

struct RtspServer::Reply {
    int status = 200;
    std::string headers;  // whole lines
    std::string body;
};

namespace {

constexpr unsigned kSendWaitMs = 10000;
const char* const kPublic = "OPTIONS, DESCRIBE, SETUP, PLAY, PAUSE, TEARDOWN";

const char* Reason(int status) {
    switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 404: return "Not Found";
    case 453: return "Not Enough Bandwidth";
    case 454: return "Session Not Found";
    case 461: return "Unsupported Transport";
    case 500: return "Internal Server Error";
    default: return "Not Implemented";
    }
}

std::string PublicLine(bool getParameter) {
    return "Public: " + std::string(kPublic) + (getParameter ? ", GET_PARAMETER" : "") + "\r\n";
}

std::string Format(int status, const std::string& cseq,
                   const std::string& headers, const std::string& body) {
    return "RTSP/1.0 " + std::to_string(status) + " " + Reason(status) + "\r\nCSeq: " + cseq +
           "\r\n" + headers + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// Session identifier of a request without its parameters.
std::string SessionId(const RtspRequest& request) {
    const std::string value = request.Header("Session");
    return Trim(value.substr(0, value.find(';')));
}

// Channels of a TCP Transport header ("RTP/AVP/TCP", RFC 2326 12.39): those it asks for with
// "interleaved=", else 0 and 1; false for any other transport.
bool InterleavedChannels(const std::string& transport, uint8_t& rtp, uint8_t& rtcp) {
    const std::string spec = transport.substr(0, transport.find(';'));
    if (spec.rfind("RTP/AVP", 0) != 0 || !spec.ends_with("/TCP"))
        return false;
    const size_t at = transport.find("interleaved=");
    unsigned first = 0, second = 1;
    if (at != std::string::npos) {
        const int fields =
            std::sscanf(transport.c_str() + at, "interleaved=%u-%u", &first, &second);
        if (fields == 1)
            second = first + 1;
        if (fields < 1 || first > 255 || second > 255 || first == second)
            return false;
    }
    rtp = static_cast<uint8_t>(first);
    rtcp = static_cast<uint8_t>(second);
    return true;
}

// Client ports of a UDP unicast Transport header; false for anything else (TCP interleaving).
bool ClientPorts(const std::string& transport, uint16_t& rtp, uint16_t& rtcp) {
    const size_t at = transport.find("client_port=");
    unsigned first = 0, second = 0;
    if (transport.rfind("RTP/AVP", 0) != 0 || transport.find("TCP") != std::string::npos ||
        at == std::string::npos)
        return false;
    const int fields = std::sscanf(transport.c_str() + at, "client_port=%u-%u", &first, &second);
    if (fields == 1)
        second = first + 1;
    if (fields < 1 || first == 0 || first > 65535 || second == 0 || second > 65535)
        return false;
    rtp = static_cast<uint16_t>(first);
    rtcp = static_cast<uint16_t>(second);
    return true;
}

std::string WithSlash(const std::string& url) { return url.ends_with('/') ? url : url + "/"; }

// URL of the stream's one medium: the request URL when it names the medium already.
std::string TrackUrl(const std::string& url) {
    return UrlPath(url).ends_with("/trackID=1") ? url : WithSlash(url) + "trackID=1";
}

std::string Hex(uint32_t value) {
    char text[9];
    std::snprintf(text, sizeof(text), "%08X", value);
    return text;
}

// Scrambles a counter into an identifier-like value (Knuth's multiplicative hash).
uint32_t Scramble(uint32_t value) { return value * 2654435761u; }

void Accumulate(RtspTotals& totals, const SessionStats& stats) {
    totals.playing += stats.playing;
    totals.timedOut += stats.end == SessionEnd::Timeout;
    totals.tornDown += stats.end == SessionEnd::Teardown;
    totals.frames += stats.frames;
    totals.packets += stats.packets;
    totals.octets += stats.octets;
    totals.senderReports += stats.senderReports;
    totals.receiverReports += stats.receiverReports;
    totals.byes += stats.byes;
    totals.faults += stats.faults;
}

}  // namespace

RtspServer::RtspServer()
    : auth_(AuthMode::None, {}, {}, "camsim", {}),
      nonce_(Md5Hex(std::to_string(
          std::chrono::steady_clock::now().time_since_epoch().count()))) {}

RtspServer::~RtspServer() { Stop(); }

bool RtspServer::AddStream(const std::string& path, StreamCodec codec, const std::string& source,
                           unsigned fps) {
    auto stream = std::make_unique<Stream>();
    stream->fps = fps;
    if (fps == 0 || acceptThread_.joinable() || !stream->media.Load(codec, source))
        return false;
    streams_[UrlPath(path)] = std::move(stream);
    return true;
}

void RtspServer::SetAuth(AuthMode mode, const std::string& user, const std::string& password) {
    std::lock_guard<std::mutex> lock(mutex_);
    auth_ = RtspAuth(mode, user, password, "camsim", nonce_);
}

void RtspServer::SetDenyAll(bool deny) {
    std::lock_guard<std::mutex> lock(mutex_);
    denyAll_ = deny;
}

void RtspServer::SetSessionTimeout(unsigned announcedSeconds, unsigned enforcedMs) {
    std::lock_guard<std::mutex> lock(mutex_);
    announcedTimeout_ = announcedSeconds;
    enforcedTimeoutMs_ = enforcedMs;
}

void RtspServer::SetGetParameter(bool offered) {
    std::lock_guard<std::mutex> lock(mutex_);
    getParameter_ = offered;
}

void RtspServer::SetRtcpKeepAlive(bool keeps) {
    std::lock_guard<std::mutex> lock(mutex_);
    rtcpKeepAlive_ = keeps;
}

void RtspServer::SetOptionsKeepAlive(bool keeps) {
    std::lock_guard<std::mutex> lock(mutex_);
    optionsKeepAlive_ = keeps;
}

void RtspServer::SetSenderReportInterval(unsigned milliseconds) {
    std::lock_guard<std::mutex> lock(mutex_);
    reportIntervalMs_ = milliseconds;
}

void RtspServer::SetSessionFrameLimit(uint64_t frames) {
    std::lock_guard<std::mutex> lock(mutex_);
    frameLimit_ = frames;
}

void RtspServer::SetSendStamps(bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    sendStamps_ = on;
}

void RtspServer::SetSpropParameterSets(const std::string& value) {
    std::lock_guard<std::mutex> lock(mutex_);
    sprop_ = value;
}

void RtspServer::SetSpreadPhases(bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    spreadPhases_ = on;
}

void RtspServer::SetRtpFaults(const RtpFaults& faults) {
    std::vector<std::shared_ptr<RtpSession>> sessions;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        faults_ = faults;
        sessions = SessionsLocked();
    }
    for (const auto& session : sessions)
        session->SetFaults(faults);
}

void RtspServer::SetUdpRefused(bool refused) {
    std::lock_guard<std::mutex> lock(mutex_);
    udpRefused_ = refused;
}

void RtspServer::SetTcpRefused(bool refused) {
    std::lock_guard<std::mutex> lock(mutex_);
    tcpRefused_ = refused;
}

void RtspServer::SetChosenInterleaved(int rtp) {
    std::lock_guard<std::mutex> lock(mutex_);
    chosenInterleaved_ = std::min(rtp, 254);
}

void RtspServer::SetReplyDelay(unsigned milliseconds) {
    std::lock_guard<std::mutex> lock(mutex_);
    replyDelayMs_ = std::min(milliseconds, MAX_REPLY_DELAY_MS);
}

void RtspServer::SetReplyTrickle(unsigned milliseconds) {
    std::lock_guard<std::mutex> lock(mutex_);
    trickleMs_ = std::min(milliseconds, MAX_REPLY_DELAY_MS);
}

void RtspServer::SetCutAfterRequests(unsigned requests) {
    std::lock_guard<std::mutex> lock(mutex_);
    cutAfter_ = requests;
}

void RtspServer::CutConnections() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& connection : connections_) {
            if (!connection->done) {
                connection->socket.Shutdown();
                ++counters_.cuts;
            }
        }
    }
    Changed();
}

void RtspServer::EndSessions() {
    std::vector<std::shared_ptr<RtpSession>> sessions;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        sessions = SessionsLocked();
    }
    for (const auto& session : sessions)
        session->End();
    Changed();
}

bool RtspServer::Start(uint16_t port) {
    if (acceptThread_.joinable() || !listener_.Listen(platform::LoopbackIPv4(), port))
        return false;
    port_ = listener_.LocalPort();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = false;
    }
    acceptThread_ = std::thread([this] { AcceptLoop(); });
    return true;
}

void RtspServer::Stop() {
    if (!acceptThread_.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        for (const auto& connection : connections_)
            connection->socket.Wake();
    }
    changedCondition_.notify_all();
    listener_.Wake();
    acceptThread_.join();
    std::list<std::unique_ptr<Connection>> connections;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        connections.swap(connections_);
    }
    for (const auto& connection : connections)
        connection->thread.join();
    Reap(true);
    listener_.Close();
}

std::string RtspServer::Url(const std::string& path) const {
    return "rtsp://127.0.0.1:" + std::to_string(port_) + "/" + UrlPath(path);
}

std::vector<RtspLogEntry> RtspServer::Requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return log_;
}

RtspTotals RtspServer::Totals() {
    std::vector<std::shared_ptr<RtpSession>> sessions;
    RtspTotals totals;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        totals = retired_;
        totals.connections = counters_.connections;
        totals.cuts = counters_.cuts;
        totals.sessions = counters_.sessions;
        sessions = SessionsLocked();
    }
    for (const auto& session : sessions)
        Accumulate(totals, session->Stats());
    return totals;
}

bool RtspServer::SessionStatsOf(const std::string& id, SessionStats& stats) {
    std::shared_ptr<RtpSession> session;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = sessions_.find(id);
        if (it == sessions_.end())
            return false;
        session = it->second;
    }
    stats = session->Stats();
    return true;
}

bool RtspServer::WaitUntil(const std::function<bool()>& condition, unsigned milliseconds) {
    return WaitForChange(mutex_, changedCondition_, version_, condition, milliseconds);
}

void RtspServer::Changed() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++version_;
    }
    changedCondition_.notify_all();
}

void RtspServer::AcceptLoop() {
    for (;;) {
        auto connection = std::make_unique<Connection>();
        const platform::WaitResult result = listener_.Accept(connection->socket, platform::Socket::WAIT_FOREVER);
        if (result == platform::WaitResult::Woken || result == platform::WaitResult::Error)
            return;
        if (result != platform::WaitResult::Ready)
            continue;
        std::list<std::unique_ptr<Connection>> finished;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            for (auto it = connections_.begin(); it != connections_.end();) {
                auto next = std::next(it);
                if ((*it)->done)
                    finished.splice(finished.end(), connections_, it);
                it = next;
            }
            // Beyond the limit the socket is closed at once: the peer sees a refusal.
            if (!stopping_ && connections_.size() < MAX_CONNECTIONS) {
                // Interleaved packets leave as they are sent, as from a streaming server, not
                // held back until the client acknowledges the previous ones.
                connection->socket.SetNoDelay();
                connection->number = ++counters_.connections;
                Connection& added = *connection;
                connections_.push_back(std::move(connection));
                added.thread = std::thread([this, &added] {
                    Serve(added);
                    added.link->Close();
                    EndInterleaved(added);
                    added.socket.Shutdown();  // the peer sees the end now, not at the reaping
                    std::lock_guard<std::mutex> done(mutex_);
                    added.done = true;
                });
            }
        }
        for (const auto& old : finished)
            old->thread.join();
        Changed();
    }
}

// Drops ended sessions (every session with `all`), keeping their figures in the totals.
void RtspServer::Reap(bool all) {
    std::vector<std::shared_ptr<RtpSession>> sessions;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        sessions = SessionsLocked();
    }
    for (const auto& session : sessions) {
        if (!all && session->Stats().end == SessionEnd::None)
            continue;
        session->Stop(SessionEnd::Stopped);
        Retire(*session);
    }
}

// Drops an ended session from those held, keeping its figures in the totals.
void RtspServer::Retire(RtpSession& session) {
    const SessionStats stats = session.Stats();
    std::lock_guard<std::mutex> lock(mutex_);
    if (sessions_.erase(session.Id()))
        Accumulate(retired_, stats);
}

std::vector<std::shared_ptr<RtpSession>> RtspServer::SessionsLocked() const {
    std::vector<std::shared_ptr<RtpSession>> sessions;
    sessions.reserve(sessions_.size());
    for (const auto& [id, session] : sessions_)
        sessions.push_back(session);
    return sessions;
}

void RtspServer::Serve(Connection& connection) {
    RtspRequestReader reader;
    char chunk[4096];
    unsigned answered = 0;
    for (;;) {
        uint8_t channel = 0;
        std::string frame;
        const RtspRequestReader::Frame framed = reader.NextFrame(channel, frame);
        if (framed == RtspRequestReader::Frame::Complete) {
            TakeRtcp(connection, channel, frame);
            continue;
        }
        RtspRequest request;
        const RtspRequestReader::Result result = framed == RtspRequestReader::Frame::NeedMore
                                                     ? RtspRequestReader::Result::NeedMore
                                                     : reader.Next(request);
        if (result == RtspRequestReader::Result::Malformed) {
            connection.link->SendText(Format(400, "0", {}, {}), kSendWaitMs, 0,
                                      [](unsigned) { return true; });
            return;
        }
        if (result == RtspRequestReader::Result::NeedMore) {
            const int got = connection.socket.ReceiveWithin(chunk, sizeof(chunk), IDLE_MS);
            if (got <= 0)
                return;
            reader.Append(chunk, static_cast<size_t>(got));
            continue;
        }
        bool cut;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            cut = cutAfter_ != 0 && ++answered >= cutAfter_;
            counters_.cuts += cut;
        }
        if (cut) {
            Log(connection.number, request, 0);
            return;
        }
        if (!Delay())
            return;
        const Reply reply = Answer(request, connection);
        Log(connection.number, request, reply.status);
        const std::string text = Format(reply.status, request.Header("CSeq"), reply.headers, reply.body);
        if (!SendReply(connection, text))
            return;
    }
}

bool RtspServer::SendReply(Connection& connection, const std::string& text) {
    unsigned pause;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pause = trickleMs_;
    }
    return connection.link->SendText(text, kSendWaitMs, pause,
                                     [this](unsigned ms) { return Wait(ms); });
}

void RtspServer::TakeRtcp(const Connection& connection, uint8_t channel, const std::string& data) {
    std::vector<std::shared_ptr<RtpSession>> sessions;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        sessions = SessionsLocked();
    }
    for (const auto& session : sessions) {
        if (session->Link() == connection.link.get() && session->RtcpChannel() == channel)
            session->OnRtcp(reinterpret_cast<const uint8_t*>(data.data()), data.size());
    }
}

void RtspServer::EndInterleaved(const Connection& connection) {
    std::vector<std::shared_ptr<RtpSession>> sessions;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        sessions = SessionsLocked();
    }
    for (const auto& session : sessions) {
        if (session->Link() == connection.link.get())
            session->Stop(SessionEnd::Stopped);
    }
}

// Waits out the configured reply delay; false when the server stops meanwhile.
bool RtspServer::Delay() {
    unsigned delay;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        delay = replyDelayMs_;
    }
    return Wait(delay);
}

// Waits this long; false when the server stops meanwhile.
bool RtspServer::Wait(unsigned milliseconds) {
    std::unique_lock<std::mutex> lock(mutex_);
    changedCondition_.wait_for(lock, std::chrono::milliseconds(milliseconds), [&] { return stopping_; });
    return !stopping_;
}

void RtspServer::Log(unsigned connection, const RtspRequest& request, int status) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        log_.push_back({connection, request.method, request.url, SessionId(request),
                        request.Header("Transport"), status});
    }
    Changed();
}

RtspServer::Reply RtspServer::Answer(const RtspRequest& request, const Connection& connection) {
    const std::shared_ptr<RtpSession> session = FindSession(request);
    bool getParameter, optionsKeepAlive;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        getParameter = getParameter_;
        optionsKeepAlive = optionsKeepAlive_;
    }
    if (session && (optionsKeepAlive || request.method != "OPTIONS"))
        session->Touch();
    std::string challenge;
    if (!Authorised(request, challenge))
        return {401, "WWW-Authenticate: " + challenge + "\r\n", {}};
    const std::string sessionLine = session ? "Session: " + session->Id() + "\r\n" : std::string();
    if (request.method == "OPTIONS")
        return {200, PublicLine(getParameter) + sessionLine, {}};
    if (request.method == "DESCRIBE")
        return Describe(request);
    if (request.method == "SETUP")
        return Setup(request, connection);
    if (request.method != "PLAY" && request.method != "PAUSE" && request.method != "TEARDOWN" &&
        (request.method != "GET_PARAMETER" || !getParameter))
        return {501, PublicLine(getParameter), {}};
    if (!session)
        return {454, {}, {}};
    if (request.method == "PLAY")
        return Play(request, *session);
    if (request.method == "TEARDOWN")
        return Teardown(session);
    if (request.method == "PAUSE")
        session->Pause();
    return {200, sessionLine, {}};
}

bool RtspServer::Authorised(const RtspRequest& request, std::string& challenge) {
    std::lock_guard<std::mutex> lock(mutex_);
    challenge = auth_.Challenge();
    if (challenge.empty())
        challenge = "Basic realm=\"camsim\"";  // refused without a scheme: offer one anyway
    if (denyAll_)
        return false;
    // A camera of this family answers OPTIONS without a login.
    return request.method == "OPTIONS" || auth_.Accepts(request);
}

const MediaSource* RtspServer::FindStream(const std::string& path, unsigned* fps) const {
    for (const auto& [name, stream] : streams_) {
        if (path == name || path.rfind(name + "/", 0) == 0) {
            if (fps)
                *fps = stream->fps;
            return &stream->media;
        }
    }
    return nullptr;
}

// An ended session (timed out, or its connection gone) is no longer known.
std::shared_ptr<RtpSession> RtspServer::FindSession(const RtspRequest& request) {
    const std::string id = SessionId(request);
    std::shared_ptr<RtpSession> session;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = sessions_.find(id);
        if (it != sessions_.end())
            session = it->second;
    }
    return session && session->Stats().end == SessionEnd::None ? session : nullptr;
}

RtspServer::Reply RtspServer::Describe(const RtspRequest& request) {
    const std::string path = UrlPath(request.url);
    const MediaSource* media = FindStream(path);
    if (!media)
        return {404, {}, {}};
    uint32_t id;
    SdpMedia medium = media->Medium();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        id = Scramble(++nextId_);
        medium.sprop = sprop_;
    }
    return {200,
            "Content-Base: " + WithSlash(request.url) + "\r\nContent-Type: application/sdp\r\n",
            BuildSdp(medium, path, id)};
}

RtspServer::Reply RtspServer::Setup(const RtspRequest& request, const Connection& connection) {
    SessionSetup setup;
    setup.media = FindStream(UrlPath(request.url), &setup.fps);
    if (!setup.media)
        return {404, {}, {}};
    const std::string transport = request.Header("Transport");
    bool udpRefused, tcpRefused;
    int chosen;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        udpRefused = udpRefused_;
        tcpRefused = tcpRefused_;
        chosen = chosenInterleaved_;
    }
    if (InterleavedChannels(transport, setup.rtpChannel, setup.rtcpChannel)) {
        if (tcpRefused)
            return {461, {}, {}};
        if (chosen >= 0) {
            setup.rtpChannel = static_cast<uint8_t>(chosen);
            setup.rtcpChannel = static_cast<uint8_t>(chosen + 1);
        }
        setup.link = connection.link;
    } else if (udpRefused || !ClientPorts(transport, setup.clientRtpPort, setup.clientRtcpPort)) {
        return {461, {}, {}};
    }
    Reap(false);
    unsigned announced;
    uint32_t source;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (sessions_.size() >= MAX_SESSIONS)
            return {453, {}, {}};
        const uint32_t number = ++nextId_;
        setup.id = Hex(Scramble(number));
        setup.ssrc = Scramble(number ^ 0x5A5A5A5Au);
        setup.firstSequence = static_cast<uint16_t>(Scramble(number) >> 7);
        setup.timestampBase = Scramble(number + 7);
        setup.timeoutMs = enforcedTimeoutMs_;
        setup.rtcpKeepsAlive = rtcpKeepAlive_;
        setup.reportIntervalMs = reportIntervalMs_;
        setup.frameLimit = frameLimit_;
        setup.sendStamps = sendStamps_;
        setup.spreadPhase = spreadPhases_;
        setup.faults = faults_;
        announced = announcedTimeout_;
        source = faults_.otherSource ? platform::MakeIPv4(127, 0, 0, 2) : platform::LoopbackIPv4();
    }
    const uint16_t clientRtp = setup.clientRtpPort, clientRtcp = setup.clientRtcpPort;
    const bool interleaved = setup.link != nullptr;
    const std::string channels =
        std::to_string(setup.rtpChannel) + "-" + std::to_string(setup.rtcpChannel);
    auto session = std::make_shared<RtpSession>(std::move(setup), [this] { Changed(); });
    if (!session->Open(source))
        return {500, {}, {}};
    {
        std::lock_guard<std::mutex> lock(mutex_);
        sessions_[session->Id()] = session;
        ++counters_.sessions;
    }
    const uint16_t serverPort = session->ServerRtpPort();
    const std::string timeout = announced ? ";timeout=" + std::to_string(announced) : std::string();
    const std::string lower = interleaved
                                  ? "RTP/AVP/TCP;unicast;interleaved=" + channels
                                  : "RTP/AVP;unicast;client_port=" + std::to_string(clientRtp) +
                                        "-" + std::to_string(clientRtcp) +
                                        ";server_port=" + std::to_string(serverPort) + "-" +
                                        std::to_string(serverPort + 1);
    return {200,
            "Transport: " + lower + ";ssrc=" + Hex(session->Ssrc()) +
                "\r\nSession: " + session->Id() + timeout + "\r\n",
            {}};
}

RtspServer::Reply RtspServer::Play(const RtspRequest& request, RtpSession& session) {
    uint16_t sequence = 0;
    uint32_t timestamp = 0;
    if (!session.Play(sequence, timestamp))
        return {454, {}, {}};
    return {200,
            "Session: " + session.Id() + "\r\nRange: npt=0.000-\r\nRTP-Info: url=" + TrackUrl(request.url) +
                ";seq=" + std::to_string(sequence) + ";rtptime=" + std::to_string(timestamp) + "\r\n",
            {}};
}

RtspServer::Reply RtspServer::Teardown(const std::shared_ptr<RtpSession>& session) {
    session->Stop(SessionEnd::Teardown);
    Retire(*session);
    return {200, "Session: " + session->Id() + "\r\n", {}};
}

}  // namespace camsim
