#include "http_server.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "camsim/change_wait.h"
#include "camsim/credentials.h"
#include "camsim/text.h"
#include "platform/system.h"
#include "tls.h"

namespace camsim {

using norvane::platform::Socket;
using norvane::platform::TcpSocket;
using norvane::platform::WaitResult;

namespace {

constexpr char TLS_HANDSHAKE_RECORD = 0x16;
constexpr size_t MAX_NONCES = 1024;

const char* ReasonPhrase(int status) {
    switch (status) {
    case 200: return "OK";
    case 204: return "No Content";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 407: return "Proxy Authentication Required";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

// Request line and headers of one head (without its final blank line); false when malformed.
bool ParseHead(const std::string& head, HttpRequest& request) {
    const size_t lineEnd = head.find("\r\n");
    const std::string line = head.substr(0, lineEnd);
    const size_t first = line.find(' ');
    const size_t second = line.find(' ', first == std::string::npos ? first : first + 1);
    if (first == std::string::npos || second == std::string::npos ||
        line.compare(second + 1, 5, "HTTP/") != 0)
        return false;
    request.method = line.substr(0, first);
    request.target = line.substr(first + 1, second - first - 1);
    const size_t question = request.target.find('?');
    request.path = request.target.substr(0, question);
    request.query = question == std::string::npos ? "" : request.target.substr(question + 1);
    size_t pos = lineEnd == std::string::npos ? head.size() : lineEnd + 2;
    while (pos < head.size()) {
        size_t end = head.find("\r\n", pos);
        if (end == std::string::npos)
            end = head.size();
        const std::string header = head.substr(pos, end - pos);
        const size_t colon = header.find(':');
        if (colon == std::string::npos)
            return false;
        request.headers[Lower(header.substr(0, colon))] =
            Trim(header.substr(colon + 1));
        pos = end + 2;
    }
    return !request.method.empty() && !request.target.empty();
}

}  // namespace

std::string HttpRequest::Header(const std::string& lowerName) const {
    const auto it = headers.find(lowerName);
    return it == headers.end() ? std::string() : it->second;
}

HttpReply HttpReply::Text(int status, std::string body) {
    HttpReply reply;
    reply.status = status;
    reply.headers.emplace_back("Content-Type", "text/plain");
    reply.body = std::move(body);
    return reply;
}

// One accepted connection with its thread; plain or TLS after the first bytes.
class HttpServer::Connection : public HttpBodyWriter {
public:
    Connection(HttpServer& server, TcpSocket socket, unsigned number)
        : server_(server), socket_(std::move(socket)), number_(number) {}
    ~Connection() override {
        if (thread_.joinable())
            thread_.join();
    }

    void Start() {
        thread_ = std::thread([this] {
            server_.Serve(*this);
            socket_.Shutdown();
            std::lock_guard<std::mutex> lock(server_.mutex_);
            --server_.open_;
            finished_ = true;
            server_.NotifyLocked();
        });
    }
    void Wake() { socket_.Wake(); }
    void Join() {
        if (thread_.joinable())
            thread_.join();
    }
    bool Finished() const { return finished_; }  // read under the server's lock
    unsigned Number() const { return number_; }
    bool Secure() const { return tls_ != nullptr; }

    // Reads the first bytes and starts TLS when they open a handshake and TLS is on.
    bool Begin(const std::shared_ptr<TlsContext>& context) {
        char chunk[4096];
        const int received = socket_.ReceiveWithin(chunk, sizeof chunk, PEER_WAIT_MS);
        if (received <= 0)
            return false;
        if (context && chunk[0] == TLS_HANDSHAKE_RECORD) {
            tls_ = std::make_unique<TlsStream>(*context, socket_, PEER_WAIT_MS);
            return tls_->Accept(std::string_view(chunk, static_cast<size_t>(received)));
        }
        input.append(chunk, static_cast<size_t>(received));
        return true;
    }

    // Appends received bytes to `input`; false when the peer closed, failed or went silent.
    bool ReceiveMore() {
        char chunk[4096];
        const int received = tls_ ? tls_->Receive(chunk, sizeof chunk)
                                  : socket_.ReceiveWithin(chunk, sizeof chunk, PEER_WAIT_MS);
        if (received <= 0)
            return false;
        input.append(chunk, static_cast<size_t>(received));
        return true;
    }

    bool Send(std::string_view bytes) override {
        if (server_.Stopping())
            return false;
        return tls_ ? tls_->Send(bytes.data(), bytes.size())
                    : socket_.SendAllWithin(bytes.data(), bytes.size(), PEER_WAIT_MS);
    }
    // Also ends when the peer closes (or sends) and on stop, which wakes the socket.
    bool Pause(unsigned milliseconds) override {
        return !server_.Stopping() && socket_.WaitReadable(milliseconds) == WaitResult::Timeout;
    }

    std::string input;  // received and not yet parsed

private:
    HttpServer& server_;
    TcpSocket socket_;
    std::unique_ptr<TlsStream> tls_;
    const unsigned number_;
    std::thread thread_;
    bool finished_ = false;
};

namespace {

// Sends `bytes` in the reply's pieces, pausing before each; false when the peer is gone.
bool SendInPieces(HttpBodyWriter& out, std::string_view bytes, const HttpReply& reply) {
    const size_t piece = reply.pieceSize ? reply.pieceSize : std::max<size_t>(bytes.size(), 1);
    for (size_t pos = 0; pos < bytes.size(); pos += piece) {
        if (reply.piecePauseMs && !out.Pause(reply.piecePauseMs))
            return false;
        if (!out.Send(bytes.substr(pos, piece)))
            return false;
    }
    return true;
}

// Sends one reply; true when the connection may serve another request.
bool SendReply(HttpBodyWriter& out, const HttpReply& reply) {
    switch (reply.action) {
    case HttpReply::Action::Drop:
    case HttpReply::Action::Silent:
        return false;
    case HttpReply::Action::Raw:
        out.Send(reply.body);
        return false;
    case HttpReply::Action::Reply:
        break;
    }
    const bool endless = static_cast<bool>(reply.stream);
    const bool truncated = reply.truncateAt < reply.body.size();
    std::string head = "HTTP/1.1 " + std::to_string(reply.status) + " " +
                       (reply.reason.empty() ? ReasonPhrase(reply.status) : reply.reason) + "\r\n";
    for (const auto& [name, value] : reply.headers)
        head += name + ": " + value + "\r\n";
    if (reply.sendLength && !endless)
        head += "Content-Length: " + std::to_string(reply.contentLength.value_or(reply.body.size())) + "\r\n";
    const bool close = reply.close || endless || truncated || !reply.sendLength;
    if (close)
        head += "Connection: close\r\n";
    head += "\r\n";
    if (reply.headDelayMs && !out.Pause(reply.headDelayMs))
        return false;
    if (!(reply.trickleHead ? SendInPieces(out, head, reply) : out.Send(head)))
        return false;
    if (endless) {
        while (reply.stream(out)) {
        }
        return false;
    }
    const std::string_view body = std::string_view(reply.body).substr(0, reply.truncateAt);
    return SendInPieces(out, body, reply) && !close;
}

}  // namespace

HttpServer::HttpServer() = default;

HttpServer::~HttpServer() { Stop(); }

bool HttpServer::Start(uint16_t port, bool tls) {
    if (acceptThread_.joinable())
        return false;
    if (tls && !(tls_ = TlsContext::CreateSelfSigned()))
        return false;
    if (!listener_.Listen(norvane::platform::LoopbackIPv4(), port))
        return false;
    port_ = listener_.LocalPort();
    stopping_ = false;
    acceptThread_ = std::thread([this] { AcceptLoop(); });
    return true;
}

void HttpServer::Stop() {
    if (!acceptThread_.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        NotifyLocked();
    }
    listener_.Wake();
    acceptThread_.join();
    std::list<std::unique_ptr<Connection>> connections;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& connection : connections_)
            connection->Wake();
        connections.swap(connections_);
    }
    connections.clear();  // joins each thread
    listener_.Close();
}

void HttpServer::AcceptLoop() {
    while (!Stopping()) {
        TcpSocket client;
        const WaitResult result = listener_.Accept(client, Socket::WAIT_FOREVER);
        if (result == WaitResult::Woken || Stopping())
            break;
        if (result != WaitResult::Ready) {
            PauseUnlessStopping(10);
            continue;
        }
        ReapFinished();
        std::lock_guard<std::mutex> lock(mutex_);
        if (open_ >= MAX_CONNECTIONS)
            continue;  // refused: the socket closes here
        ++open_;
        client.SetNoDelay();
        connections_.push_back(std::make_unique<Connection>(*this, std::move(client), ++accepted_));
        connections_.back()->Start();
        NotifyLocked();
    }
}

void HttpServer::ReapFinished() {
    std::list<std::unique_ptr<Connection>> finished;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto it = connections_.begin(); it != connections_.end();) {
            auto next = std::next(it);
            if ((*it)->Finished())
                finished.splice(finished.end(), connections_, it);
            it = next;
        }
    }
    // Each destructor joins a thread that has already left the lock.
}

void HttpServer::Serve(Connection& connection) {
    if (!connection.Begin(tls_))
        return;
    for (;;) {
        size_t headEnd;
        while ((headEnd = connection.input.find("\r\n\r\n")) == std::string::npos) {
            if (connection.input.size() > MAX_HEAD_BYTES) {
                SendReply(connection, HttpReply::Text(431, "head too large"));
                return;
            }
            if (!connection.ReceiveMore())
                return;
        }
        HttpRequest request;
        request.connection = connection.Number();
        request.secure = connection.Secure();
        const bool parsed = ParseHead(connection.input.substr(0, headEnd), request);
        connection.input.erase(0, headEnd + 4);
        HttpReply reply;
        if (!parsed)
            reply = HttpReply::Text(400, "bad request");
        else if (Authorise(request, reply))
            reply = Dispatch(request);
        if (reply.action == HttpReply::Action::Reply)
            request.status = reply.status;
        Record(request);
        const bool keep = SendReply(connection, reply) && parsed &&
                          Lower(request.Header("connection")) != "close";
        if (reply.action == HttpReply::Action::Silent) {
            while (connection.ReceiveMore())
                connection.input.clear();
        }
        if (!keep)
            return;
    }
}

std::string HttpServer::NewNonce() {
    uint8_t bytes[16];
    norvane::platform::RandomBytes(bytes, sizeof bytes);
    char text[sizeof bytes * 2 + 1];
    for (size_t i = 0; i < sizeof bytes; ++i)
        std::snprintf(text + i * 2, 3, "%02x", bytes[i]);
    std::lock_guard<std::mutex> lock(mutex_);
    if (nonces_.size() >= MAX_NONCES)
        nonces_.clear();
    nonces_.insert(text);
    return text;
}

bool HttpServer::CheckDigest(const HttpRequest& request, const std::string& credentials) {
    const AuthParameters p = ParseAuthParameters(credentials);
    HttpAuthConfig auth;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!nonces_.count(AuthParameter(p, "nonce")))
            return false;
        auth = auth_;
    }
    return AuthParameter(p, "uri") == request.target &&
           DigestMatches(p, auth.user, auth.realm, auth.password, request.method);
}

// True when the request may be served; otherwise `challenge` is the refusal to send.
bool HttpServer::Authorise(HttpRequest& request, HttpReply& challenge) {
    HttpAuthConfig auth;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auth = auth_;
    }
    if (auth.mode == HttpAuthConfig::Mode::None && !auth.denyAll)
        return true;
    const bool proxy = auth.challengeStatus == 407;
    const std::string credentials = request.Header(proxy ? "proxy-authorization" : "authorization");
    bool valid = false;
    if (auth.mode == HttpAuthConfig::Mode::Basic && credentials.starts_with("Basic ")) {
        valid = BasicMatches(credentials.substr(6), auth.user, auth.password);
    } else if (auth.mode == HttpAuthConfig::Mode::Digest && credentials.starts_with("Digest ")) {
        valid = CheckDigest(request, credentials.substr(7));
    }
    if (valid && !auth.denyAll) {
        request.user = auth.user;
        return true;
    }
    std::vector<std::string> offered = auth.offered;
    if (offered.empty())
        offered.push_back(auth.mode == HttpAuthConfig::Mode::Digest ? "Digest" : "Basic");
    challenge = HttpReply::Text(auth.challengeStatus, "authorisation required");
    const char* header = proxy ? "Proxy-Authenticate" : "WWW-Authenticate";
    for (const std::string& scheme : offered) {
        std::string value = scheme;
        if (scheme == "Basic")
            value += " realm=\"" + auth.realm + "\"";
        else if (scheme == "Digest")
            value += " realm=\"" + auth.realm + "\", qop=\"auth\", nonce=\"" + NewNonce() +
                     "\", opaque=\"camsim\", algorithm=MD5";
        challenge.headers.emplace_back(header, value);
    }
    return false;
}

HttpReply HttpServer::Dispatch(const HttpRequest& request) {
    HttpHandler handler;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = routes_.find(request.path);
        handler = it != routes_.end() ? it->second : defaultHandler_;
    }
    return handler ? handler(request) : HttpReply::Text(404, "not found");
}

void HttpServer::Record(const HttpRequest& request) {
    std::lock_guard<std::mutex> lock(mutex_);
    log_.push_back(request);
    NotifyLocked();
}

void HttpServer::NotifyLocked() {
    ++changes_;
    changed_.notify_all();
}

bool HttpServer::PauseUnlessStopping(unsigned milliseconds) {
    std::unique_lock<std::mutex> lock(mutex_);
    return !changed_.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return Stopping(); });
}

void HttpServer::Route(const std::string& path, HttpHandler handler) {
    std::lock_guard<std::mutex> lock(mutex_);
    routes_[path] = std::move(handler);
}

void HttpServer::SetDefaultHandler(HttpHandler handler) {
    std::lock_guard<std::mutex> lock(mutex_);
    defaultHandler_ = std::move(handler);
}

void HttpServer::SetAuth(const HttpAuthConfig& auth) {
    std::lock_guard<std::mutex> lock(mutex_);
    auth_ = auth;
    nonces_.clear();  // as a camera that restarts: the nonces it gave no longer hold
}

unsigned HttpServer::ConnectionCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return accepted_;
}

unsigned HttpServer::OpenConnections() {
    std::lock_guard<std::mutex> lock(mutex_);
    return open_;
}

std::vector<HttpRequest> HttpServer::Requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return log_;
}

size_t HttpServer::RequestCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return log_.size();
}

bool HttpServer::WaitUntil(const std::function<bool()>& condition, unsigned milliseconds) {
    return WaitForChange(mutex_, changed_, changes_, condition, milliseconds);
}

}  // namespace camsim
