// HTTP/1.1 transfers to one server over libcurl: one transfer handle driven through a multi
// handle, so a reply head can be awaited, a body read incrementally with bounded buffering, and a
// blocked read ended from another thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace norvane::platform {

// Authentication scheme bits, numbered as the HTTP client's scheme word.
constexpr uint32_t HTTP_AUTH_BASIC = 0x1;
constexpr uint32_t HTTP_AUTH_NTLM = 0x2;
constexpr uint32_t HTTP_AUTH_PASSPORT = 0x4;
constexpr uint32_t HTTP_AUTH_DIGEST = 0x8;
constexpr uint32_t HTTP_AUTH_NEGOTIATE = 0x10;

constexpr uint32_t HTTP_AUTH_TARGET_SERVER = 0;
constexpr uint32_t HTTP_AUTH_TARGET_PROXY = 1;

struct HttpServer {
    std::string host;
    uint16_t port = 0;
    std::string user;  // empty: no credentials are sent
    std::string password;
    unsigned timeoutMs = 0;  // connect limit, and limit for each wait on the server
};

struct HttpRequestSpec {
    std::string verb;
    std::string path;
    bool secure = false;
    bool ignoreCertificateErrors = false;
    uint32_t authScheme = 0;  // one scheme bit; 0: no credentials until a challenge
    uint32_t authTarget = HTTP_AUTH_TARGET_SERVER;
    // Steady-clock millisecond by which the transfer, its body included, must end; past it the
    // transfer fails as if closed and reports Expired. None: only the per-wait time-out holds.
    std::optional<uint32_t> deadline;
};

struct HttpReplyHead {
    uint32_t status = 0;
    uint32_t contentLength = 0;  // 0 when absent or beyond 32 bits
    uint32_t authSchemes = 0;    // schemes offered by a 401/407 that this library can answer
    uint32_t authTarget = HTTP_AUTH_TARGET_SERVER;
};

// Which scheme bits this build of the library can answer.
uint32_t SupportedHttpAuthSchemes();

class HttpTransport {
public:
    HttpTransport(const std::string& agent, const HttpServer& server);
    ~HttpTransport();
    HttpTransport(const HttpTransport&) = delete;
    HttpTransport& operator=(const HttpTransport&) = delete;

    bool IsOpen() const;

    // Number of Close calls so far.
    uint64_t CloseCount() const;
    // Sends one request without body and waits for the final reply head, replacing the previous
    // transfer. `closeCount` is CloseCount as the caller read it before deciding to send: a Close
    // since then fails the transfer at once, so a Close racing with the start is never lost.
    // Returns the new transfer's id, 0 on failure.
    uint64_t Send(const HttpRequestSpec& request, HttpReplyHead& head, uint64_t closeCount);
    // Bytes readable at once; waits up to the time-out for data. 0 at the end of the body, on
    // failure, time-out or close, or when `transfer` is not the current one.
    size_t Available(uint64_t transfer);
    // Up to `size` body bytes; waits like Available.
    size_t Read(uint64_t transfer, void* buffer, size_t size);
    // True when `transfer` is the current one and passed its deadline.
    bool Expired(uint64_t transfer);
    // True when `transfer` is the current one and its body arrived to the end the server framed
    // it with (its Content-Length, its last chunk, or the close that ends a body without either);
    // false for a body that failed, stalled or was closed before.
    bool Complete(uint64_t transfer);
    // Ends the current transfer at whatever stage (connecting, sending, awaiting the head,
    // reading the body) and closes its connection; any thread. A Send or read blocked in another
    // thread returns at once; Close returns when the transfer has been let go.
    void Close();

    // Most body bytes held before the server is no longer read from.
    static constexpr size_t BUFFER_LIMIT = 256 * 1024;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace norvane::platform
