// Minimal RTSP/1.0 client for one camera stream: one TCP connection, one request text per
// exchange, Basic or Digest authentication with a single retry after 401.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "foundation/lock.h"
#include "platform/socket.h"
#include "rtsp/rtsp_response_parser.h"

namespace norvane {

// How RTP and RTCP reach the client: Auto tries UDP first and moves to TCP where UDP fails.
enum class RTSPTransport { Auto, Udp, Tcp };

// Takes the RTP and RTCP frames interleaved on the RTSP connection (RFC 2326 10.12), on the thread
// reading it.
class IInterleavedUser {
public:
    virtual ~IInterleavedUser() = default;
    // `channel`: RTP_CHANNEL or RTCP_CHANNEL of CBaseRTSPClient, whichever channels the server
    // chose for them in its SETUP reply; `data` is valid only during the call.
    virtual void OnInterleaved(uint8_t channel, const uint8_t* data, uint32_t length) = 0;
};

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
    // Tcp sets up RTP and RTCP interleaved on the connection; Udp and Auto on the client ports.
    RTSPTransport transport = RTSPTransport::Udp;
    uint32_t udpSilenceMs = 3000;  // Auto: no RTP over UDP this long after PLAY moves to TCP
};

class CBaseRTSPClient {
public:
    // Replies longer than this fail the exchange, so a peer streaming garbage cannot grow memory.
    static constexpr size_t MAX_REPLY_SIZE = 64 * 1024;
    static constexpr uint32_t CONNECT_POLL_MS = 100;
    // A longer transport profile from the SDP fails the SETUP request instead of being sent.
    static constexpr size_t MAX_TRANSPORT_PROFILE = 256;
    // Interleaved frames announcing more end the session: no RTP or RTCP packet of a camera is
    // that long, and the bound keeps the read buffer small.
    static constexpr size_t MAX_INTERLEAVED_FRAME = 16384;
    static constexpr size_t INTERLEAVED_HEADER = 4;  // '$', channel, 16-bit length
    // The channels SETUP asks for, and the names the user and SendInterleaved know them by.
    static constexpr uint8_t RTP_CHANNEL = 0;
    static constexpr uint8_t RTCP_CHANNEL = 1;
    // One receive takes at most this much, so a stream's packets are read in few calls.
    static constexpr size_t INBOX_CHUNK = 64 * 1024;
    // Time an interleaved send may wait for the camera to take data.
    static constexpr uint32_t INTERLEAVED_SEND_MS = 1000;

    // How a read between exchanges ended.
    enum class ReadEnd { TimePassed, Done, Closed, Malformed, Aborted };

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
    // Between exchanges: reads the connection for up to `milliseconds`, handing interleaved
    // frames to the user and dropping replies no exchange waits for (without interleaving,
    // whatever arrives). Ends early when the connection is closed or reset, when it carries
    // bytes that are neither frames nor replies, at Abort, or once `done` holds (tested after
    // each receive).
    ReadEnd ReadUnasked(uint32_t milliseconds, const std::function<bool()>& done = {});
    // Sends one interleaved frame; safe from any thread while connected. A frame that could not
    // go out whole within INTERLEAVED_SEND_MS shuts the connection down, since the stream would
    // be out of step; the reader then sees it closed.
    bool SendInterleaved(uint8_t channel, const uint8_t* data, size_t length);
    // Before Connect; null for none (frames are then dropped).
    void SetInterleavedUser(IInterleavedUser* user) { interleavedUser = user; }
    // Owning thread only.
    void Disconnect();
    // Safe from any thread: a Connect or Execute under way returns false promptly, and so does
    // every later one; the owner still disconnects.
    void Abort();

    bool IsConnected() const { return connected; }
    bool IsInterleaved() const { return params.transport == RTSPTransport::Tcp; }
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
    enum class Unit { Incomplete, Frame, Reply, Malformed };

    bool ExecuteOnce(RTSPMethod method);
    bool SendLocked(const std::string& text, uint32_t milliseconds);
    void DiscardPending();
    // Reads one reply (see the .cpp for when it is complete), handing the interleaved frames
    // before it to the user; false when none, too long, malformed, past the deadline or aborted.
    bool ReadReply(RTSPMethod method, const Deadline& deadline, std::string& reply);
    // What starts the unread bytes and, unless Incomplete or Malformed, its `size`.
    Unit NextUnit(RTSPMethod method, size_t& size) const;
    // Hands over the interleaved frames that start the unread bytes; the unit after them.
    Unit TakeFrames(RTSPMethod method, size_t& size);
    // One receive into the inbox, waiting up to `milliseconds`: as TcpSocket::ReceiveWithin.
    int Fill(uint32_t milliseconds);
    std::string_view Unread() const;
    // Creates the socket, unless aborted (under socketLock, so Abort wakes the new socket).
    bool CreateSocket();
    void CloseSocket();

    RTSPConnectionParams params;
    CRTSPResponseParser parser;
    platform::TcpSocket socket;
    // Bytes received and not yet taken: inbox[inboxBegin, inboxEnd).
    std::vector<char> inbox;
    size_t inboxBegin = 0;
    size_t inboxEnd = 0;
    IInterleavedUser* interleavedUser = nullptr;
    CLock sendLock;  // keeps requests and interleaved frames whole on the connection
    platform::SocketLibraryUse socketLibrary;
    bool connected = false;
    bool digestOffered = false;  // a challenge on this connection offered Digest
    std::atomic<bool> aborted{false};
    // The channels the SETUP reply gave RTP and RTCP on the wire (set on the owning thread, read
    // by senders of RTCP).
    std::atomic<uint8_t> wireRtp{RTP_CHANNEL};
    std::atomic<uint8_t> wireRtcp{RTCP_CHANNEL};
    CLock socketLock;  // orders socket creation and closing against Abort's wake-up
};

}  // namespace norvane
