// Requests and replies of the simulator's HTTP side, and its authentication settings.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "camsim/auth_mode.h"

namespace camsim {

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
    unsigned headDelayMs = 0;   // slow reply: wait before the head (ends when the peer leaves)
    size_t pieceSize = 0;       // slow body: pieces of this size ...
    unsigned piecePauseMs = 0;  // ... with this pause before each
    bool trickleHead = false;   // the head goes in such pieces too
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
    bool denyAll = false;       // refuse every request, with the challenge
    int challengeStatus = 401;  // 407 sends Proxy-Authenticate
};

}  // namespace camsim
