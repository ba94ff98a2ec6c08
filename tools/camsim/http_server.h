// Loopback HTTP/1.1 server of the camera simulator: pages routed by path, Basic and Digest
// authentication with challenge variants, replies shaped for fault injection, optional TLS on
// the same port, connection counting and a request log.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "camsim/auth_mode.h"
#include "platform/socket.h"

namespace camsim {

class TlsContext;

struct HttpRequest {
    std::string method;
    std::string target;  // as sent: path and query
    std::string path;
    std::string query;
    std::map<std::string, std::string> headers;  // names lower-cased
    unsigned connection = 0;                     // 1 for the first accepted connection
    bool secure = false;
    std::string user;  // the authenticated user; empty when none
    int status = 0;    // status of the reply sent (0: none)

    std::string Header(const std::string& lowerName) const;
};

// Gives a streamed body to the peer; used by HttpReply::stream.
class HttpBodyWriter {
public:
    virtual ~HttpBodyWriter() = default;
    // False when the peer is gone or the server stops.
    virtual bool Send(std::string_view bytes) = 0;
    // Waits up to the limit; false when the peer closes or the server stops meanwhile.
    virtual bool Pause(unsigned milliseconds) = 0;
};

struct HttpReply {
    enum class Action {
        Reply,   // status line, headers, body
        Raw,     // `body` verbatim, no head; then close
        Drop,    // close without a byte
        Silent,  // keep the connection and never answer
    };

    Action action = Action::Reply;
    int status = 200;
    std::string reason;  // empty: the usual phrase
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    std::optional<uint64_t> contentLength;  // declared length; unset: the body's size
    bool sendLength = true;                 // false: no Content-Length, the body ends at close
    bool close = false;                     // close after this reply
    size_t truncateAt = SIZE_MAX;           // send only this many body bytes, then close
    unsigned headDelayMs = 0;               // slow reply: wait before the head (ends when the peer leaves)
    size_t pieceSize = 0;                   // slow body: pieces of this size ...
    unsigned piecePauseMs = 0;              // ... with this pause before each
    bool trickleHead = false;               // the head goes in such pieces too
    // Endless body after the head (close-delimited): called until it returns false.
    std::function<bool(HttpBodyWriter&)> stream;

    static HttpReply Text(int status, std::string body);
};

using HttpHandler = std::function<HttpReply(const HttpRequest&)>;

struct HttpAuthConfig {
    using Mode = AuthMode;

    Mode mode = Mode::None;
    std::string user;
    std::string password;
    std::string realm = "camsim";
    // Schemes named in challenges, in order ("Basic", "Digest", or any other word); empty:
    // the mode's own scheme.
    std::vector<std::string> offered;
    bool denyAll = false;  // refuse every request, with the challenge
    int challengeStatus = 401;  // 407 sends Proxy-Authenticate
};

class HttpServer {
public:
    HttpServer();
    ~HttpServer();  // stops
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Listens on 127.0.0.1 (port 0: any free one). With `tls`, a connection whose first byte
    // opens a TLS handshake is served over TLS with a self-signed certificate.
    bool Start(uint16_t port = 0, bool tls = false);
    // Ends every connection and thread; waits for them.
    void Stop();
    uint16_t Port() const { return port_; }

    // Exact path (without query) to handler; other paths get the default handler (404).
    void Route(const std::string& path, HttpHandler handler);
    void SetDefaultHandler(HttpHandler handler);
    void SetAuth(const HttpAuthConfig& auth);

    unsigned ConnectionCount();  // accepted so far
    unsigned OpenConnections();
    std::vector<HttpRequest> Requests();
    size_t RequestCount();
    // True when `condition` holds within the limit; re-checked at every connection and request.
    bool WaitUntil(const std::function<bool()>& condition, unsigned milliseconds);

    // Bounds each wait on a peer that does not send or take data.
    static constexpr unsigned PEER_WAIT_MS = 10000;
    static constexpr size_t MAX_HEAD_BYTES = 64 * 1024;
    static constexpr unsigned MAX_CONNECTIONS = 256;  // 64 channels' motion polls and more

private:
    class Connection;
    friend class Connection;

    void AcceptLoop();
    void Serve(Connection& connection);
    bool Authorise(HttpRequest& request, HttpReply& challenge);
    bool CheckDigest(const HttpRequest& request, const std::string& credentials);
    std::string NewNonce();
    HttpReply Dispatch(const HttpRequest& request);
    void Record(const HttpRequest& request);
    void NotifyLocked();  // with mutex_ held: wakes every waiter
    bool Stopping() const { return stopping_.load(); }
    bool PauseUnlessStopping(unsigned milliseconds);
    void ReapFinished();

    norvane::platform::TcpListener listener_;
    std::shared_ptr<TlsContext> tls_;
    uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread acceptThread_;

    std::mutex mutex_;  // guards everything below
    std::condition_variable changed_;
    std::map<std::string, HttpHandler> routes_;
    HttpHandler defaultHandler_;
    HttpAuthConfig auth_;
    std::set<std::string> nonces_;
    std::list<std::unique_ptr<Connection>> connections_;
    unsigned accepted_ = 0;
    unsigned open_ = 0;
    std::vector<HttpRequest> log_;
    uint64_t changes_ = 0;  // counts events that waiters re-check on
};

}  // namespace camsim
