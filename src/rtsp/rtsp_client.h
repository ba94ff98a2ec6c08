// Minimal RTSP/1.0 client for one camera stream: one TCP connection, one request text per
// exchange, Basic or Digest authentication with a single retry after 401.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "foundation/lock.h"
#include "platform/socket.h"
#include "rtsp/rtsp_response_parser.h"

namespace norvane {

struct RTSPConnectionParams {
    uint16_t rtspPort = 554;
    uint16_t rtpClientPort = 0;
    uint16_t rtcpClientPort = 0;
    std::string host;
    std::string userName;
    std::string password;
    uint32_t connectTimeout = 5000;         // ms
    uint32_t receiveTimeout = 5000;         // ms, ends every blocking read
    uint32_t receiveBuffer = 65536;         // bytes
    uint32_t secondTimeout = 1000;          // ms, carried only
    uint32_t defaultSessionTimeout = 60;    // s, when the reply gave none
    AuthScheme authScheme = AuthScheme::None;
    std::string path;                       // with or without leading '/'
    MediaKind mediaToSetUp = MediaKind::Video;
};

class CBaseRTSPClient {
public:
    // Replies longer than this fail the exchange, so a peer streaming garbage cannot grow memory.
    static constexpr size_t MAX_REPLY_SIZE = 64 * 1024;
    static constexpr size_t RECEIVE_CHUNK = 1024;
    static constexpr uint32_t CONNECT_POLL_MS = 100;
    // A longer transport profile from the SDP fails the SETUP request instead of being sent.
    static constexpr size_t MAX_TRANSPORT_PROFILE = 256;

    CBaseRTSPClient() = default;
    virtual std::string BuildRequest(RTSPMethod method);
    virtual ~CBaseRTSPClient();
    CBaseRTSPClient(const CBaseRTSPClient&) = delete;
    CBaseRTSPClient& operator=(const CBaseRTSPClient&) = delete;

    // Opens the TCP connection (true at once when already connected, keeping the old parameters).
    // A new connection starts without a session identifier.
    bool Connect(const RTSPConnectionParams& params);
    // One exchange, retried once after a 401 whose challenge can be answered (another scheme or
    // a Digest nonce); true on a 2xx reply. Each exchange lasts at most twice the receive
    // time-out.
    bool Execute(RTSPMethod method);
    // Sends the request without waiting for its reply, also after Abort: the TEARDOWN of a stop,
    // which the camera acts on whether or not its reply is read. False when it could not be sent
    // at once.
    bool Send(RTSPMethod method);
    // Between exchanges: waits up to `milliseconds` for the server to close the connection,
    // dropping whatever it sends unasked. True when the connection was closed or reset; false
    // when the time passed or the client was aborted.
    bool AwaitClose(uint32_t milliseconds);
    // Owning thread only.
    void Disconnect();
    // Safe from any thread: a Connect or Execute under way returns false promptly, and so does
    // every later one; the owner still disconnects.
    void Abort();

    bool IsConnected() const { return connected; }
    bool IsAborted() const { return aborted; }
    const RTSPConnectionParams& GetParams() const { return params; }
    const CRTSPResponseParser& GetParser() const { return parser; }
    uint32_t GetStatusCode() const { return parser.GetStatusCode(); }
    uint32_t GetSessionTimeout() const { return parser.GetSessionTimeout(); }

    // Pieces of the request text.
    std::string PresentationUrl() const;
    std::string SetupUrl() const;
    std::string TransportLine() const;
    std::string AuthorizationLine(RTSPMethod method, const std::string& uri) const;

private:
    class Deadline;

    bool ExecuteOnce(RTSPMethod method);
    void DiscardPending();
    // Reads one reply (see the .cpp for when it is complete); false when none, too long, past
    // the deadline or aborted.
    bool ReadReply(RTSPMethod method, const Deadline& deadline, std::string& reply);
    // Creates the socket, unless aborted (under socketLock, so Abort wakes the new socket).
    bool CreateSocket();
    void CloseSocket();

    RTSPConnectionParams params;
    CRTSPResponseParser parser;
    platform::TcpSocket socket;
    platform::SocketLibraryUse socketLibrary;
    bool connected = false;
    bool digestOffered = false;  // a challenge on this connection offered Digest
    std::atomic<bool> aborted{false};
    CLock socketLock;  // orders socket creation and closing against Abort's wake-up
};

}  // namespace norvane
