#include "platform/http_transport.h"

#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <atomic>
#include <mutex>

#include "platform/system.h"

namespace norvane::platform {

static_assert(HTTP_AUTH_BASIC == WINHTTP_AUTH_SCHEME_BASIC && HTTP_AUTH_NTLM == WINHTTP_AUTH_SCHEME_NTLM &&
                  HTTP_AUTH_PASSPORT == WINHTTP_AUTH_SCHEME_PASSPORT &&
                  HTTP_AUTH_DIGEST == WINHTTP_AUTH_SCHEME_DIGEST &&
                  HTTP_AUTH_NEGOTIATE == WINHTTP_AUTH_SCHEME_NEGOTIATE,
              "scheme bits are the WinHTTP ones");
static_assert(HTTP_AUTH_TARGET_SERVER == WINHTTP_AUTH_TARGET_SERVER &&
                  HTTP_AUTH_TARGET_PROXY == WINHTTP_AUTH_TARGET_PROXY,
              "target values are the WinHTTP ones");

namespace {

// Sends of one request: the first, one answering a challenge, one more for a handshake leg.
constexpr int MAX_SENDS = 3;

std::wstring Wide(const std::string& text) {
    const std::u16string wide = Utf8ToUtf16(text);
    return std::wstring(wide.begin(), wide.end());
}

// Milliseconds from `now` to `deadline`, 0 when it has passed (32-bit clock arithmetic).
uint32_t Remaining(uint32_t deadline, uint32_t now) {
    const auto left = static_cast<int32_t>(deadline - now);
    return left > 0 ? static_cast<uint32_t>(left) : 0;
}

DWORD QueryNumber(HINTERNET request, DWORD what) {
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (!WinHttpQueryHeaders(request, what | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                             &value, &size, WINHTTP_NO_HEADER_INDEX))
        return 0;
    return value;
}

}  // namespace

uint32_t SupportedHttpAuthSchemes() {
    return HTTP_AUTH_BASIC | HTTP_AUTH_NTLM | HTTP_AUTH_DIGEST | HTTP_AUTH_NEGOTIATE;
}

struct HttpTransport::Impl {
    Impl(const std::string& agent, const HttpServer& server);
    ~Impl();

    bool Cancelled() const { return closes.load() != transferCloses; }
    void ReleaseRequest();
    bool Publish(HINTERNET handle);
    bool WithinDeadline();
    bool Exchange(const HttpRequestSpec& request);
    void ReadHead(HttpReplyHead& head);
    size_t WaitForBody(uint64_t transfer);

    std::mutex mutex;         // serialises Send, Available and Read
    std::mutex handleMutex;   // guards `request` against a Close from another thread
    HINTERNET session = nullptr;
    HINTERNET connection = nullptr;
    HINTERNET request = nullptr;  // the open request handle; null once closed
    HINTERNET active = nullptr;   // the caller's copy: closed under it, calls on it fail
    HttpServer server;
    std::atomic<uint64_t> closes{0};
    uint64_t current = 0;
    uint64_t lastId = 0;

    // State of the current transfer.
    uint64_t transferCloses = 0;
    std::optional<uint32_t> deadline;
    bool expired = false;
    bool failed = false;
};

HttpTransport::Impl::Impl(const std::string& agent, const HttpServer& server) : server(server) {
    session = WinHttpOpen(Wide(agent).c_str(), WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                          WINHTTP_NO_PROXY_BYPASS, 0);
    if (session)
        connection = WinHttpConnect(session, Wide(server.host).c_str(), server.port, 0);
    if (!connection && session) {
        WinHttpCloseHandle(session);
        session = nullptr;
    }
}

HttpTransport::Impl::~Impl() {
    ReleaseRequest();
    if (connection)
        WinHttpCloseHandle(connection);
    if (session)
        WinHttpCloseHandle(session);
}

void HttpTransport::Impl::ReleaseRequest() {
    std::lock_guard<std::mutex> guard(handleMutex);
    if (request)
        WinHttpCloseHandle(request);  // a call blocked on it in another thread returns
    request = nullptr;
}

// Makes `handle` the current request unless a Close came first.
bool HttpTransport::Impl::Publish(HINTERNET handle) {
    std::lock_guard<std::mutex> guard(handleMutex);
    if (Cancelled()) {
        WinHttpCloseHandle(handle);
        return false;
    }
    request = active = handle;
    return true;
}

// Bounds the next wait by the time-out and what is left of the deadline; false past it.
bool HttpTransport::Impl::WithinDeadline() {
    uint32_t limit = server.timeoutMs;
    if (deadline) {
        limit = std::min(limit, Remaining(*deadline, SteadyMs()));
        if (limit == 0) {
            expired = true;
            return false;
        }
    }
    const int ms = static_cast<int>(std::min<uint32_t>(limit, INT32_MAX));
    return WinHttpSetTimeouts(active, ms, ms, ms, ms);
}

// Sends the request and receives the final head, answering one challenge for the requested
// scheme with the credentials. Basic goes with the first request.
bool HttpTransport::Impl::Exchange(const HttpRequestSpec& spec) {
    const bool credentials = !server.user.empty();
    const std::wstring user = Wide(server.user);
    const std::wstring password = Wide(server.password);
    const auto answer = [&](DWORD target) {
        return WinHttpSetCredentials(active, target, spec.authScheme, user.c_str(),
                                     password.c_str(), nullptr);
    };
    if (credentials && spec.authScheme == HTTP_AUTH_BASIC && !answer(spec.authTarget))
        return false;
    bool answered = spec.authScheme == HTTP_AUTH_BASIC;
    for (int send = 0; send < MAX_SENDS; ++send) {
        if (Cancelled() || !WithinDeadline() ||
            !WinHttpSendRequest(active, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA,
                                0, 0, 0) ||
            !WinHttpReceiveResponse(active, nullptr))
            return false;
        const DWORD status = QueryNumber(active, WINHTTP_QUERY_STATUS_CODE);
        if ((status != 401 && status != 407) || !credentials || answered)
            return true;
        DWORD offered = 0, first = 0, target = 0;
        if (!WinHttpQueryAuthSchemes(active, &offered, &first, &target) ||
            !(offered & spec.authScheme) || !answer(target))
            return true;  // the challenge is the reply
        answered = true;
    }
    return true;
}

void HttpTransport::Impl::ReadHead(HttpReplyHead& head) {
    head.status = QueryNumber(active, WINHTTP_QUERY_STATUS_CODE);
    head.contentLength = QueryNumber(active, WINHTTP_QUERY_CONTENT_LENGTH);
    head.authTarget = head.status == 407 ? HTTP_AUTH_TARGET_PROXY : HTTP_AUTH_TARGET_SERVER;
    DWORD offered = 0, first = 0, target = 0;
    if ((head.status == 401 || head.status == 407) &&
        WinHttpQueryAuthSchemes(active, &offered, &first, &target))
        head.authSchemes = offered & SupportedHttpAuthSchemes();
}

// Bytes readable at once, waiting up to the time-out; 0 at the end, on failure or close.
size_t HttpTransport::Impl::WaitForBody(uint64_t transfer) {
    if (transfer == 0 || transfer != current || failed)
        return 0;
    DWORD available = 0;
    if (Cancelled() || !WithinDeadline() || !WinHttpQueryDataAvailable(active, &available)) {
        failed = true;
        return 0;
    }
    return available;
}

HttpTransport::HttpTransport(const std::string& agent, const HttpServer& server)
    : impl_(std::make_unique<Impl>(agent, server)) {}

HttpTransport::~HttpTransport() = default;

bool HttpTransport::IsOpen() const { return impl_->connection != nullptr; }

uint64_t HttpTransport::CloseCount() const { return impl_->closes.load(); }

uint64_t HttpTransport::Send(const HttpRequestSpec& spec, HttpReplyHead& head, uint64_t closeCount) {
    Impl& t = *impl_;
    std::lock_guard<std::mutex> guard(t.mutex);
    head = HttpReplyHead{};
    if (!t.connection)
        return 0;
    t.ReleaseRequest();
    t.failed = t.expired = false;
    const uint64_t id = ++t.lastId;
    t.current = id;
    t.transferCloses = closeCount;
    t.deadline = spec.deadline;
    HINTERNET request = WinHttpOpenRequest(t.connection, Wide(spec.verb).c_str(),
                                           Wide(spec.path).c_str(), nullptr, WINHTTP_NO_REFERER,
                                           WINHTTP_DEFAULT_ACCEPT_TYPES,
                                           spec.secure ? WINHTTP_FLAG_SECURE : 0);
    if (!request || !t.Publish(request)) {
        t.failed = true;
        return 0;
    }
    DWORD redirects = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    WinHttpSetOption(request, WINHTTP_OPTION_REDIRECT_POLICY, &redirects, sizeof(redirects));
    if (spec.secure && spec.ignoreCertificateErrors) {
        DWORD flags = SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID |
                      SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE;
        WinHttpSetOption(request, WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof(flags));
    }
    if (!t.Exchange(spec)) {
        t.failed = true;
        t.ReleaseRequest();
        return 0;
    }
    t.ReadHead(head);
    return id;
}

size_t HttpTransport::Available(uint64_t transfer) {
    std::lock_guard<std::mutex> guard(impl_->mutex);
    return impl_->WaitForBody(transfer);
}

size_t HttpTransport::Read(uint64_t transfer, void* buffer, size_t size) {
    Impl& t = *impl_;
    std::lock_guard<std::mutex> guard(t.mutex);
    if (!buffer || size == 0)
        return 0;
    const size_t available = t.WaitForBody(transfer);
    DWORD read = 0;
    if (available == 0 || !WinHttpReadData(t.active, buffer,
                                           static_cast<DWORD>(std::min(size, available)), &read)) {
        return 0;
    }
    return read;
}

bool HttpTransport::Expired(uint64_t transfer) {
    std::lock_guard<std::mutex> guard(impl_->mutex);
    return transfer != 0 && transfer == impl_->current && impl_->expired;
}

void HttpTransport::Close() {
    Impl& t = *impl_;
    ++t.closes;
    // Closing the handle from here ends a send or read blocked on it in another thread.
    t.ReleaseRequest();
}

}  // namespace norvane::platform
