#include "channels/rtsp_channel.h"

#include <algorithm>
#include <new>
#include <string>

#include "http/utils.h"

namespace norvane {

namespace {
constexpr const char* REQUEST = "norvane::CBaseRTSPChannel::Request";
constexpr const char* WAIT_FOR_PASS = "norvane::CBaseRTSPChannel::WaitForPass";
}  // namespace

CBaseRTSPChannel::CBaseRTSPChannel(unsigned number, IDriver* driver, ICaptureSink* sink)
    : CBaseRTPChannel(number, driver, sink) {
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
    if (GetState() != Running || !client || !client->IsConnected() || !BeginExchange())
        return CBaseRTPChannel::WaitForPass();
    // A BYE that came before the exchange began aborted nothing: it is read here.
    const bool closed = !byeReceived && client->AwaitClose(PASS_WAIT_MS);
    EndExchange();
    if (IsStopping())
        return true;
    if (closed || byeReceived)
        EndedByServer(closed ? "closed the RTSP connection" : "sent an RTCP BYE");
    return false;
}

void CBaseRTSPChannel::EndedByServer(const char* how) {
    if (Utils::ShouldLog(endedSessions))
        driver->Log(LOG_WARNING, "%s: %s %s; the stream is set up anew", WAIT_FOR_PASS,
                    DisplayName().c_str(), how);
    SetState(SignalLost);
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
    if (!Connect(connection) || !Request(RTSPMethod::Describe))
        return false;
    rtcp.SetClockRate(client->GetParser().GetClockRate(MediaKind::Video));
    OnStreamDescribed();
    if (!Request(RTSPMethod::Setup))
        return false;
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
void CBaseRTSPChannel::SendKeepAlive() {
    if (OffersGetParameter() || (Request(RTSPMethod::Options) && OffersGetParameter()))
        Request(RTSPMethod::GetParameter);
}

bool CBaseRTSPChannel::SendPause() {
    return Request(RTSPMethod::Pause);
}

bool CBaseRTSPChannel::SendPlay() {
    return Request(RTSPMethod::Play);
}

}  // namespace norvane
