#include "channels/base_rtsp_channel.h"

#include <algorithm>
#include <new>
#include <string>
#include <utility>

#include "http/utils.h"

namespace norvane {

namespace {
constexpr const char* REQUEST = "norvane::CBaseRTSPChannel::Request";
constexpr const char* WAIT_FOR_PASS = "norvane::CBaseRTSPChannel::WaitForPass";
constexpr uint32_t SESSION_NOT_FOUND = 454;
constexpr const char* MOVE_TRANSPORT = "norvane::CBaseRTSPChannel::MoveTransport";
}  // namespace

CBaseRTSPChannel::CBaseRTSPChannel(unsigned number, IDriver* driver, ICaptureSink* sink)
    : CBaseRTPChannel(number, driver, sink), movedToTcp(driver->GetRtpOverTcp()) {
    rtcp.SetByeUser(this);
}

CBaseRTSPChannel::~CBaseRTSPChannel() {
    Stop();
}

std::unique_ptr<CBaseRTSPClient> CBaseRTSPChannel::CreateRTSPClient() {
    return std::unique_ptr<CBaseRTSPClient>(new (std::nothrow) CBaseRTSPClient);
}

bool CBaseRTSPChannel::CreateSession() {
    auto created = CreateRTSPClient();
    if (created)
        created->SetInterleavedUser(this);
    transportChanged = false;
    CLockGuard guard(sessionLock);
    client = std::move(created);
    byeReceived = false;
    return client != nullptr;
}

void CBaseRTSPChannel::CloseSession() {
    const bool stopping = IsStopping();
    {
        CLockGuard guard(sessionLock);
        if (!client)
            return;
        exchanging = !stopping;
    }
    // A stop sends TEARDOWN without waiting for its reply (the camera ends the session on the
    // request), and so does a client a BYE aborted; otherwise the exchange runs, and a stop that
    // begins meanwhile aborts its wait.
    if (stopping || client->IsAborted())
        client->Send(RTSPMethod::Teardown);
    else
        client->Execute(RTSPMethod::Teardown);
    std::unique_ptr<CBaseRTSPClient> closing;
    {
        CLockGuard guard(sessionLock);
        exchanging = false;
        closing = std::move(client);
    }
    closing->Disconnect();
}

bool CBaseRTSPChannel::BeginExchange() {
    CLockGuard guard(sessionLock);
    if (!client || IsStopping())
        return false;
    exchanging = true;
    return true;
}

void CBaseRTSPChannel::EndExchange() {
    CLockGuard guard(sessionLock);
    exchanging = false;
}

void CBaseRTSPChannel::OnStopThread() {
    // The stop event is already set, so no exchange begins after this; one in progress is
    // aborted rather than waited out.
    CLockGuard guard(sessionLock);
    if (client && exchanging)
        client->Abort();
}

void CBaseRTSPChannel::OnBye(const std::vector<uint32_t>& sources) {
    if (std::none_of(sources.begin(), sources.end(),
                     [this](uint32_t source) { return IsMediaSource(source); }))
        return;
    CLockGuard guard(sessionLock);
    byeReceived = true;
    if (client && exchanging)
        client->Abort();
}

bool CBaseRTSPChannel::WaitForPass() {
    if (std::exchange(reconnectAtOnce, false))
        return IsStopping();
    if (GetState() != Running || !client || !client->IsConnected() || !BeginExchange())
        return CBaseRTPChannel::WaitForPass();
    // A BYE that came before the exchange began aborted nothing: it is read here.
    using ReadEnd = CBaseRTSPClient::ReadEnd;
    const ReadEnd end = byeReceived ? ReadEnd::Aborted : client->ReadUnasked(PASS_WAIT_MS);
    EndExchange();
    if (IsStopping())
        return true;
    if (byeReceived)
        EndedByServer("sent an RTCP BYE");
    else if (end == ReadEnd::Closed)
        EndedByServer("closed the RTSP connection");
    else if (end == ReadEnd::Malformed)
        EndedByServer("sent what is neither an interleaved frame nor a reply");
    return false;
}

void CBaseRTSPChannel::EndedByServer(const char* how) {
    if (Utils::ShouldLog(endedSessions))
        driver->Log(LOG_WARNING, "%s: %s %s; the stream is set up anew", WAIT_FOR_PASS,
                    DisplayName().c_str(), how);
    SetState(SignalLost);
}

bool CBaseRTSPChannel::UsesTcp() {
    const RTSPTransport asked = AskedTransport();
    return asked == RTSPTransport::Tcp || (asked == RTSPTransport::Auto && movedToTcp);
}

void CBaseRTSPChannel::MoveTransport(const std::string& why, bool back) {
    if (tcpRefused)
        return;
    movedToTcp = !back;
    tcpRefused = back;
    transportChanged = true;
    driver->SetRtpOverTcp(!back);
    driver->Log(LOG_INFO, "%s: %s: %s; RTP now comes %s", MOVE_TRANSPORT, DisplayName().c_str(),
                why.c_str(), back ? "over UDP again" : "over the RTSP connection (TCP)");
}

void CBaseRTSPChannel::OnSetupRefused() {
    const uint32_t status = client->GetStatusCode();
    if (AskedTransport() != RTSPTransport::Auto || status < 400 || status == 401 || IsStopping())
        return;
    const bool tcp = UsesTcp();
    MoveTransport("the camera refused RTP over " + std::string(tcp ? "TCP" : "UDP") +
                      " (SETUP status " + std::to_string(status) + ")",
                  tcp);
}

bool CBaseRTSPChannel::RetryAtOnce() {
    return std::exchange(transportChanged, false) && !IsStopping();
}

bool CBaseRTSPChannel::OpenReceiver() {
    if (!UsesTcp()) {
        if (CBaseRTPChannel::OpenReceiver())
            return true;
        if (AskedTransport() != RTSPTransport::Auto || tcpRefused || IsStopping())
            return false;
        MoveTransport("no UDP port pair is free");
    }
    receiver.SetUser(this);
    return receiver.OpenWithoutSocket() && rtcp.StartInterleaved(this);
}

void CBaseRTSPChannel::OnInterleaved(uint8_t channel, const uint8_t* data, uint32_t length) {
    if (channel == CBaseRTSPClient::RTP_CHANNEL) {
        Datagram packet;
        packet.source.address = GetCameraAddress();
        packet.data = data;
        packet.length = length;
        receiver.Deliver(&packet, 1);
    } else if (channel == CBaseRTSPClient::RTCP_CHANNEL) {
        rtcp.OnInterleaved(data, length);
    }
}

// The RTCP thread runs only between the client's creation and its close (Reconnect's order).
bool CBaseRTSPChannel::SendRtcp(const uint8_t* data, size_t length) {
    return client && client->SendInterleaved(CBaseRTSPClient::RTCP_CHANNEL, data, length);
}

bool CBaseRTSPChannel::AwaitFirstFrame(uint32_t milliseconds) {
    if (UsesTcp())
        return ReadUntilFirstFrame(milliseconds);
    if (AskedTransport() != RTSPTransport::Auto || tcpRefused || IsPaused() || !client ||
        WaitForRtp(client->GetParams().udpSilenceMs) || IsStopping())
        return CBaseRTPChannel::AwaitFirstFrame(milliseconds);
    MoveTransport("no RTP arrived over UDP within " +
                  std::to_string(client->GetParams().udpSilenceMs) + " ms of PLAY");
    return Reconnect() && AwaitFirstFrame(milliseconds);
}

bool CBaseRTSPChannel::ReadUntilFirstFrame(uint32_t milliseconds) {
    if (!client || !BeginExchange())
        return false;
    const CBaseRTSPClient::ReadEnd end =
        client->ReadUnasked(milliseconds, [this] { return FrameArrived(); });
    EndExchange();
    return end == CBaseRTSPClient::ReadEnd::Done;
}

bool CBaseRTSPChannel::Request(RTSPMethod method) {
    if (!BeginExchange())
        return false;
    const bool ok = client->Execute(method);
    const uint32_t status = client->GetStatusCode();
    EndExchange();
    if (!ok && !IsStopping() && Utils::ShouldLog(failedExchanges))
        driver->Log(LOG_WARNING, "%s: RTSP %s to %s failed (status %u; 0: no reply)", REQUEST,
                    std::string(RTSPMethodName(method)).c_str(), DisplayName().c_str(), status);
    return ok;
}

bool CBaseRTSPChannel::Connect(const RTSPConnectionParams& connection) {
    if (!BeginExchange())
        return false;
    const bool ok = client->Connect(connection);
    EndExchange();
    return ok;
}

bool CBaseRTSPChannel::OpenSession() {
    if (IsStopping() || !client)
        return false;
    const DEVICE_INFO* device = driver->GetDeviceInfo();
    RTSPConnectionParams connection;
    connection.host = device->address;
    connection.userName = device->userName;
    connection.password = device->password;
    connection.connectTimeout = device->timeout;
    connection.rtpClientPort = receiver.GetPort();
    connection.rtcpClientPort = rtcp.GetPort();
    FillConnectionParams(connection);
    connection.transport = UsesTcp() ? RTSPTransport::Tcp : RTSPTransport::Udp;
    if (UsesTcp())  // the stream's bursts wait in the kernel while the capture thread is busy
        connection.receiveBuffer = CUDPClient::SOCKET_RECEIVE_BUFFER;
    if (!Connect(connection) || !Request(RTSPMethod::Describe))
        return false;
    rtcp.SetClockRate(client->GetParser().GetClockRate(MediaKind::Video));
    OnStreamDescribed();
    if (!Request(RTSPMethod::Setup)) {
        OnSetupRefused();
        return false;
    }
    ExpectStream();
    RestartKeepAliveTimer();
    return IsPaused() || Request(RTSPMethod::Play);
}

uint32_t CBaseRTSPChannel::KeepAliveInterval() {
    if (!client)
        return DEFAULT_KEEP_ALIVE_MS;
    uint64_t seconds = client->GetSessionTimeout();
    if (seconds == 0)
        seconds = client->GetParams().defaultSessionTimeout;
    return static_cast<uint32_t>(std::min<uint64_t>(seconds * 1000 / 2, 0xFFFFFFFFu));
}

void CBaseRTSPChannel::KeepAlive() {
    if (KeepAliveElapsedMs() > KeepAliveInterval()) {
        SendKeepAlive();
        RestartKeepAliveTimer();
    }
}

bool CBaseRTSPChannel::OffersGetParameter() const {
    return client && client->GetParser().OffersGetParameter();
}

// GET_PARAMETER where the server's Public header offers it, since some servers do not count
// OPTIONS as activity of a session; OPTIONS until that is known, and for servers without it.
// A 454 reply says the server no longer holds the session: a new one is set up at once.
void CBaseRTSPChannel::SendKeepAlive() {
    if (OffersGetParameter() || (Request(RTSPMethod::Options) && OffersGetParameter()))
        Request(RTSPMethod::GetParameter);
    if (client && client->GetStatusCode() == SESSION_NOT_FOUND && !IsStopping()) {
        EndedByServer("no longer knows the session (454)");
        reconnectAtOnce = true;
    }
}

bool CBaseRTSPChannel::SendPause() {
    return Request(RTSPMethod::Pause);
}

bool CBaseRTSPChannel::SendPlay() {
    return Request(RTSPMethod::Play);
}

}  // namespace norvane
