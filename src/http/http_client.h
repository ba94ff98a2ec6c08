// The system's HTTP client: one server, one kept-alive connection, one request at a time, with
// its own authentication negotiation and a plain-then-secure protocol choice.
//
// Stopping from another thread. The owner gives the client its thread's stop event
// (SetStopEvent); the stop path sets that event, then calls CloseRequest. Whatever the owner's
// thread was doing then -- about to send, connecting, sending, awaiting the reply head, reading
// the body -- fails within milliseconds, and no request starts while the event is set: SendRequest
// reads the close count before it tests the event, so a close that comes after the test fails
// the request through the count. CloseRequest without a stop event ends only what SendRequest
// has already begun (or the current reply); a close that lands between the owner's own stop
// check and SendRequest is not remembered, and that request runs to its time-outs. A request
// begun after CloseRequest returned runs normally (the picture stream closes after each stream).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foundation/device_info.h"
#include "foundation/event.h"
#include "foundation/lock.h"
#include "norvane/host.h"

namespace norvane::platform {
class HttpTransport;
}

namespace norvane::Web {

using ByteBuffer = std::vector<uint8_t>;

// User-agent text of every client of the system.
constexpr const char* HTTP_CLIENT_AGENT = "Norvane::HttpClient";

class CHttpClient {
public:
    enum ProtocolState : int { PROTOCOL_UNKNOWN = 0, PROTOCOL_HTTP = 1, PROTOCOL_HTTPS = 2 };

    // How a read of a whole body ended.
    enum class BodyEnd { Complete, Incomplete, TooLong };

    static constexpr uint32_t READ_CHUNK = 10240;
    // Most bytes of a whole body: CGI pages are a few KiB, and a camera must not make the host
    // hold more (the picture stream is read with ReadData, piece by piece).
    static constexpr uint32_t MAX_RESPONSE = 256u * 1024;
    static constexpr int MAX_AUTH_CHANGES = 5;

    CHttpClient(const DEVICE_INFO& device, const std::string& agent);
    ~CHttpClient();
    CHttpClient(const CHttpClient&) = delete;
    CHttpClient& operator=(const CHttpClient&) = delete;

    // Sends one request without body and receives the reply head; true for any status. With an
    // exchange limit, the whole exchange -- every attempt and the reading of the body -- ends
    // within that many milliseconds; past it the request fails or its body ends early, and
    // ExchangeExpired tells so.
    bool SendRequest(const std::string& verb, const std::string& path, uint32_t exchangeLimitMs = 0);
    // The whole remaining body, in chunks of at most READ_CHUNK; its length. 0 with the buffer
    // empty and the request closed when the body is longer than MAX_RESPONSE or ends before its
    // end (short of its Content-Length, cut, or stalled past the time-out or exchange limit);
    // LastBodyEnd tells which.
    uint32_t ReadResponse(ByteBuffer& buffer);
    BodyEnd LastBodyEnd() const { return bodyEnd_; }
    // One read of the current body; waits for data up to the time-out.
    uint32_t ReadData(void* buffer, uint32_t size);
    // Body bytes readable without waiting; waits for the first of them up to the time-out.
    uint32_t QueryDataAvailable();
    // Ends the request in progress or the current one; may come from another thread, ending a
    // blocked connect, send or read at once.
    void CloseRequest();
    // The current request was cut short by the exchange limit of its SendRequest.
    bool ExchangeExpired();
    // Manual-reset stop event of the owner's thread, or null; while it is set every request
    // fails at once. It must outlive the client or be cleared first.
    void SetStopEvent(CManualEvent* stop) { stop_ = stop; }

    uint32_t StatusCode() const { return statusCode_; }
    uint32_t ContentLength() const { return contentLength_; }
    const std::string& Host() const { return host_; }
    uint16_t Port() const { return port_; }
    uint32_t Timeout() const { return timeout_; }
    int Protocol() const { return protocolState_; }
    // Scheme in force: 0 until the camera asks for one; the scheme the camera asked any client
    // of this process for last.
    uint32_t AuthScheme() const { return authScheme_; }

private:
    // What every attempt of one SendRequest shares.
    struct Exchange {
        uint64_t closes = 0;  // the transport's close count when the request began
        std::optional<uint32_t> deadline;
    };

    bool Attempt(const std::string& verb, const std::string& path, const Exchange& exchange);
    bool Negotiate(const std::string& verb, const std::string& path, const Exchange& exchange);
    bool HasRequest();
    BodyEnd ReadBody(ByteBuffer& buffer);
    uint64_t CurrentRequest();

    uint32_t timeout_;
    CLock lock_;                 // guards request_
    uint64_t request_ = 0;       // the transfer whose reply is being read; 0 for none
    std::unique_ptr<platform::HttpTransport> session_;
    int protocolState_ = PROTOCOL_UNKNOWN;
    uint32_t authScheme_;
    uint32_t authTarget_;
    CManualEvent* stop_ = nullptr;
    std::string agent_;
    std::string user_;
    std::string password_;
    std::string host_;
    uint16_t port_;
    uint32_t statusCode_ = 0;
    uint32_t contentLength_ = 0;
    uint32_t offeredSchemes_ = 0;  // schemes of the last 401/407
    uint32_t offeredTarget_ = 0;
    std::string address_;  // "host:port", the key of the camera's remembered scheme
    BodyEnd bodyEnd_ = BodyEnd::Complete;
};

}  // namespace norvane::Web
