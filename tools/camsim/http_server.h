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

#include "camsim/http_message.h"
#include "platform/socket.h"

namespace camsim {

class TlsContext;

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
