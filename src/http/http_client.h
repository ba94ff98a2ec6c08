// The system's HTTP client: one server, one kept-alive connection, one request at a time, with
// its own authentication negotiation and a plain-then-secure protocol choice.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

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

    static constexpr uint32_t READ_CHUNK = 10240;
    static constexpr uint32_t MAX_RESPONSE = 256u * 1024 * 1024;
    static constexpr int MAX_AUTH_CHANGES = 5;

    CHttpClient(const DEVICE_INFO& device, const std::string& agent);
    ~CHttpClient();
    CHttpClient(const CHttpClient&) = delete;
    CHttpClient& operator=(const CHttpClient&) = delete;

    // Sends one request without body and receives the reply head; true for any status.
    bool SendRequest(const std::string& verb, const std::string& path);
    // The whole remaining body, in chunks of at most READ_CHUNK, up to MAX_RESPONSE bytes.
    uint32_t ReadResponse(ByteBuffer& buffer);
    // One read of the current body; waits for data up to the time-out.
    uint32_t ReadData(void* buffer, uint32_t size);
    // Body bytes readable without waiting; waits for the first of them up to the time-out.
    uint32_t QueryDataAvailable();
    // Ends the current request; may come from another thread, ending a blocked read at once.
    void CloseRequest();

    uint32_t StatusCode() const { return statusCode_; }
    uint32_t ContentLength() const { return contentLength_; }
    const std::string& Host() const { return host_; }
    uint16_t Port() const { return port_; }
    int Protocol() const { return protocolState_; }
    uint32_t AuthScheme() const { return authScheme_; }
    void SetNegotiateAuthentication(bool negotiate) { negotiateAuth_ = negotiate; }

private:
    bool Attempt(const std::string& verb, const std::string& path);
    bool Negotiate(const std::string& verb, const std::string& path);
    bool HasRequest();
    uint64_t CurrentRequest();

    uint32_t timeout_;
    CLock lock_;                 // guards request_
    uint64_t request_ = 0;       // the transfer whose reply is being read; 0 for none
    std::unique_ptr<platform::HttpTransport> session_;
    int protocolState_ = PROTOCOL_UNKNOWN;
    uint32_t authScheme_;
    uint32_t authTarget_;
    bool negotiateAuth_ = true;
    std::string agent_;
    std::string user_;
    std::string password_;
    std::string host_;
    uint16_t port_;
    uint32_t statusCode_ = 0;
    uint32_t contentLength_ = 0;
    uint32_t offeredSchemes_ = 0;  // schemes of the last 401/407
    uint32_t offeredTarget_ = 0;
};

}  // namespace norvane::Web
