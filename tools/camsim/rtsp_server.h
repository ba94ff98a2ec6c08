// RTSP/1.0 server of the simulated camera on loopback: streams by path, OPTIONS, DESCRIBE,
// SETUP, PLAY, PAUSE, TEARDOWN and GET_PARAMETER, Basic or Digest authentication, several
// sessions at once, RTP over UDP or interleaved on the RTSP connection, and the RTSP-level faults
// (401 for ever, slow replies, connection cuts, sessions ended with a BYE, offline, a session
// time-out shorter than announced). One thread per connection; each session runs its own
// (RtpSession).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "camsim/media_source.h"
#include "camsim/rtp_session.h"
#include "camsim/rtsp_auth.h"
#include "platform/socket.h"

namespace camsim {

struct RtspLogEntry {
    unsigned connection = 0;  // 1 for the first accepted connection
    std::string method;
    std::string url;
    std::string session;  // the request's Session header without parameters
    std::string transport;  // the request's Transport header
    int status = 0;       // 0: the connection was cut instead of answering
};

struct RtspTotals {
    unsigned connections = 0;  // accepted
    unsigned cuts = 0;         // connections the server cut
    unsigned sessions = 0;     // set up
    unsigned playing = 0;      // sending now
    unsigned timedOut = 0;     // ended by the keep-alive time-out
    unsigned tornDown = 0;
    uint64_t frames = 0;
    uint64_t packets = 0;
    uint64_t octets = 0;  // RTP payload bytes
    unsigned senderReports = 0;
    unsigned receiverReports = 0;
    unsigned byes = 0;
    RtpFaultCounts faults;
};

class RtspServer {
public:
    // Room for 64 channels and their peers, plus ended ones not yet reaped.
    static constexpr unsigned MAX_CONNECTIONS = 256;
    static constexpr unsigned MAX_SESSIONS = 256;
    static constexpr unsigned IDLE_MS = 120000;  // a silent connection is closed after this
    static constexpr unsigned MAX_REPLY_DELAY_MS = 30000;

    RtspServer();
    ~RtspServer();
    RtspServer(const RtspServer&) = delete;
    RtspServer& operator=(const RtspServer&) = delete;

    // Serves `source` (an H.264 Annex B file or a folder of JPEG pictures) at `path` ("h264");
    // before Start. False when the media cannot be used.
    bool AddStream(const std::string& path, StreamCodec codec, const std::string& source, unsigned fps);
    void SetAuth(AuthMode mode, const std::string& user, const std::string& password);
    // 401 for every request, whatever the credentials.
    void SetDenyAll(bool deny);
    // Announced in the Session header (0: no timeout parameter) and enforced; an enforced time
    // below the announced one (or the client's default) is the short time-out fault.
    void SetSessionTimeout(unsigned announcedSeconds, unsigned enforcedMs);
    // GET_PARAMETER listed in Public and answered (the default), or neither, as servers without
    // it answer 501.
    void SetGetParameter(bool offered);
    // Whether OPTIONS counts as activity of the session it names (the default); servers such
    // as VLC's count only other requests.
    void SetOptionsKeepAlive(bool keeps);
    // Whether receiver reports count as activity of their session (the default, as RFC 3550
    // lets a server judge liveness); some cameras count only requests.
    void SetRtcpKeepAlive(bool keeps);
    void SetSenderReportInterval(unsigned milliseconds);
    // Each session set up later sends at most this many frames, then stays quiet (0: no limit).
    void SetSessionFrameLimit(uint64_t frames);
    // Each H.264 session set up later ends every frame with its send stamp (send_stamp.h).
    void SetSendStamps(bool on);
    // Later DESCRIBE replies of H.264 streams carry this sprop-parameter-sets value instead of
    // the media's sets (empty: the media's).
    void SetSpropParameterSets(const std::string& value);
    // Sessions set up later start their frame clocks at spread phases (SessionSetup).
    void SetSpreadPhases(bool on);
    // For every live session and those set up later.
    void SetRtpFaults(const RtpFaults& faults);
    // SETUP asking for RTP over UDP is answered 461 (Unsupported Transport); TCP still works.
    void SetUdpRefused(bool refused);
    // SETUP asking for RTP interleaved on the connection (RTP/AVP/TCP) is answered 461.
    void SetTcpRefused(bool refused);
    // A TCP SETUP gets channels of the camera's choosing, `rtp` and `rtp` + 1, whatever it asked
    // for (negative: those asked for), as RFC 2326 lets a server answer.
    void SetChosenInterleaved(int rtp);
    void SetReplyDelay(unsigned milliseconds);
    // Each reply goes out byte by byte, with this pause before every byte (0: in one piece).
    void SetReplyTrickle(unsigned milliseconds);
    // Each connection is closed instead of answering its Nth request (0: never).
    void SetCutAfterRequests(unsigned requests);
    // Closes every open connection now; sessions go on until they time out.
    void CutConnections();
    // Ends every live session as a camera whose stream stops: each sends an RTCP BYE and
    // nothing more. Connections stay open.
    void EndSessions();

    // Listens on 127.0.0.1 (port 0: any free one).
    bool Start(uint16_t port = 0);
    // Ends every connection and session and waits for their threads; Start may follow.
    void Stop();
    uint16_t Port() const { return port_; }
    std::string Url(const std::string& path) const;

    std::vector<RtspLogEntry> Requests();
    RtspTotals Totals();
    // Stats of the session with this identifier, if the server still holds it.
    bool SessionStatsOf(const std::string& id, SessionStats& stats);
    // True when `condition` holds within the limit; re-checked at every change.
    bool WaitUntil(const std::function<bool()>& condition, unsigned milliseconds);

private:
    struct Connection;
    struct Reply;

    void AcceptLoop();
    void Reap(bool all);
    void Retire(RtpSession& session);
    std::vector<std::shared_ptr<RtpSession>> SessionsLocked() const;  // with mutex_ held
    void Serve(Connection& connection);
    // Hands an interleaved RTCP frame of the connection to its session.
    void TakeRtcp(const Connection& connection, uint8_t channel, const std::string& data);
    // Ends the sessions interleaved on the connection, which is gone.
    void EndInterleaved(const Connection& connection);
    bool Delay();
    bool Wait(unsigned milliseconds);
    bool SendReply(Connection& connection, const std::string& text);
    Reply Answer(const RtspRequest& request, const Connection& connection);
    Reply Describe(const RtspRequest& request);
    Reply Setup(const RtspRequest& request, const Connection& connection);
    Reply Play(const RtspRequest& request, RtpSession& session);
    Reply Teardown(const std::shared_ptr<RtpSession>& session);
    const MediaSource* FindStream(const std::string& path, unsigned* fps = nullptr) const;
    std::shared_ptr<RtpSession> FindSession(const RtspRequest& request);
    bool Authorised(const RtspRequest& request, std::string& challenge);
    void Log(unsigned connection, const RtspRequest& request, int status);
    void Changed();

    struct Stream {
        MediaSource media;
        unsigned fps = 25;
    };
    std::map<std::string, std::unique_ptr<Stream>> streams_;  // fixed once started

    norvane::platform::TcpListener listener_;
    uint16_t port_ = 0;
    std::thread acceptThread_;

    std::mutex mutex_;  // guards everything below
    std::condition_variable changedCondition_;
    uint64_t version_ = 0;
    bool stopping_ = false;
    RtspAuth auth_;
    bool denyAll_ = false;
    unsigned announcedTimeout_ = 60;
    unsigned enforcedTimeoutMs_ = 60000;
    bool getParameter_ = true;
    bool optionsKeepAlive_ = true;
    bool rtcpKeepAlive_ = true;
    unsigned reportIntervalMs_ = 5000;
    uint64_t frameLimit_ = 0;
    bool sendStamps_ = false;
    std::string sprop_;
    bool spreadPhases_ = false;
    RtpFaults faults_;
    bool udpRefused_ = false;
    bool tcpRefused_ = false;
    int chosenInterleaved_ = -1;
    unsigned replyDelayMs_ = 0;
    unsigned trickleMs_ = 0;
    unsigned cutAfter_ = 0;
    std::string nonce_;
    std::list<std::unique_ptr<Connection>> connections_;
    std::map<std::string, std::shared_ptr<RtpSession>> sessions_;
    std::vector<RtspLogEntry> log_;
    RtspTotals retired_;  // of sessions no longer held
    RtspTotals counters_;  // connections, cuts, sessions set up
    uint32_t nextId_ = 0;
};

}  // namespace camsim
