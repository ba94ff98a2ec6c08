#include "platform/http_transport.h"

#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/http_transfer_state.h"
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

DWORD QueryNumber(HINTERNET request, DWORD what) {
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (!WinHttpQueryHeaders(request, what | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                             &value, &size, WINHTTP_NO_HEADER_INDEX))
        return 0;
    return value;
}

// One request handle's asynchronous completions. Shared by the caller and the status callback;
// the callback's share ends when the handle is closed, so a late completion never touches freed
// memory, and a read lands in `buffer`, never in the caller's.
struct Call {
    HANDLE done = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    bool ok = false;
    DWORD bytes = 0;
    std::vector<uint8_t> buffer;

    ~Call() {
        if (done)
            CloseHandle(done);
    }
    void Complete(bool success, DWORD count) {
        ok = success;
        bytes = count;
        SetEvent(done);
    }
};

void CALLBACK OnStatus(HINTERNET, DWORD_PTR context, DWORD status, void* info, DWORD length) {
    auto* holder = reinterpret_cast<std::shared_ptr<Call>*>(context);
    if (!holder)
        return;
    Call& call = **holder;
    switch (status) {
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
        call.Complete(true, 0);
        break;
    case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE:
        call.Complete(true, *static_cast<DWORD*>(info));
        break;
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
        call.Complete(true, length);
        break;
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
        call.Complete(false, 0);
        break;
    case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING:
        delete holder;
        break;
    default:
        break;
    }
}

constexpr DWORD NOTIFICATIONS = WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES;

// Content-Length as sent; 0 when absent, not a number or beyond 32 bits (the numeric query of
// WinHTTP would clamp it).
uint32_t QueryContentLength(HINTERNET request) {
    wchar_t text[32] = {};
    DWORD size = sizeof(text);
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX,
                             text, &size, WINHTTP_NO_HEADER_INDEX))
        return 0;
    uint64_t value = 0;
    for (const wchar_t* c = text; *c; ++c) {
        if (*c < L'0' || *c > L'9' || (value = value * 10 + static_cast<uint64_t>(*c - L'0')) > UINT32_MAX)
            return 0;
    }
    return static_cast<uint32_t>(value);
}

}  // namespace

uint32_t SupportedHttpAuthSchemes() {
    return HTTP_AUTH_BASIC | HTTP_AUTH_NTLM | HTTP_AUTH_DIGEST | HTTP_AUTH_NEGOTIATE;
}

struct HttpTransport::Impl : HttpTransferState {
    Impl(const std::string& agent, const HttpServer& server);
    ~Impl();

    void ReleaseRequest();
    bool Open(const HttpRequestSpec& spec);
    bool Await(bool started);
    bool Exchange(const HttpRequestSpec& request);
    void ReadHead(HttpReplyHead& head);
    size_t WaitForBody(uint64_t transfer);

    std::mutex handleMutex;  // guards `request` against a Close from another thread
    HINTERNET session = nullptr;
    HINTERNET connection = nullptr;
    HINTERNET request = nullptr;  // the open request handle; null once closed
    HINTERNET active = nullptr;   // the caller's copy: closed under it, calls on it fail
    HANDLE wake = CreateEventW(nullptr, TRUE, FALSE, nullptr);  // set by Close
    std::shared_ptr<Call> call;
    DWORD_PTR context = 0;  // the callback's share of `call`, given with every send
    HttpServer server;
};

HttpTransport::Impl::Impl(const std::string& agent, const HttpServer& server) : server(server) {
    session = WinHttpOpen(Wide(agent).c_str(), WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                          WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC);
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
    if (wake)
        CloseHandle(wake);
}

void HttpTransport::Impl::ReleaseRequest() {
    std::lock_guard<std::mutex> guard(handleMutex);
    if (request)
        WinHttpCloseHandle(request);  // pending operations end; the callback frees its share
    request = nullptr;
}

// Opens the request handle with its completion record and makes it current unless a Close came
// first.
bool HttpTransport::Impl::Open(const HttpRequestSpec& spec) {
    HINTERNET handle = WinHttpOpenRequest(connection, Wide(spec.verb).c_str(), Wide(spec.path).c_str(),
                                          nullptr, WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                          spec.secure ? WINHTTP_FLAG_SECURE : 0);
    if (!handle)
        return false;
    call = std::make_shared<Call>();
    auto* holder = new std::shared_ptr<Call>(call);
    context = reinterpret_cast<DWORD_PTR>(holder);
    if (!call->done ||
        WinHttpSetStatusCallback(handle, &OnStatus, NOTIFICATIONS, 0) == WINHTTP_INVALID_STATUS_CALLBACK ||
        !WinHttpSetOption(handle, WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof(context))) {
        WinHttpCloseHandle(handle);
        delete holder;  // no context was set, so no callback holds it
        return false;
    }
    std::lock_guard<std::mutex> guard(handleMutex);
    if (Cancelled()) {
        WinHttpCloseHandle(handle);
        return false;
    }
    request = active = handle;
    return true;
}

// Waits for the completion of the operation just started, bounded by the time-out and the
// deadline, ended at once by Close. False on failure, time-out, expiry or close.
bool HttpTransport::Impl::Await(bool started) {
    if (!started)
        return false;
    uint32_t limit = server.timeoutMs;
    if (deadline)
        limit = std::min(limit, RemainingMs(*deadline, SteadyMs()));
    const HANDLE handles[2] = {call->done, wake};
    const DWORD result = WaitForMultipleObjects(2, handles, FALSE, limit);
    if (result == WAIT_OBJECT_0 && call->ok && !Cancelled())
        return true;
    if (result == WAIT_TIMEOUT && deadline && RemainingMs(*deadline, SteadyMs()) == 0)
        expired = true;
    return false;
}

// Sends the request and receives the final head, answering one challenge for the requested
// scheme with the credentials. Basic, asked for by the camera before, goes with the first
// request; without a scheme (0) the first challenge is the reply.
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
        if (Cancelled() ||
            !Await(WinHttpSendRequest(active, WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                                      WINHTTP_NO_REQUEST_DATA, 0, 0, context)) ||
            !Await(WinHttpReceiveResponse(active, nullptr)))
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
    head.contentLength = QueryContentLength(active);
    head.authTarget = head.status == 407 ? HTTP_AUTH_TARGET_PROXY : HTTP_AUTH_TARGET_SERVER;
    DWORD offered = 0, first = 0, target = 0;
    if ((head.status == 401 || head.status == 407) &&
        WinHttpQueryAuthSchemes(active, &offered, &first, &target))
        head.authSchemes = offered & SupportedHttpAuthSchemes();
}

// Bytes readable at once, waiting up to the time-out; 0 at the end, on failure or close. Only
// an end that WinHTTP reports as such completes the body.
size_t HttpTransport::Impl::WaitForBody(uint64_t transfer) {
    if (transfer == 0 || transfer != current || failed)
        return 0;
    if (Cancelled() || !Await(WinHttpQueryDataAvailable(active, nullptr))) {
        failed = true;
        return 0;
    }
    complete = call->bytes == 0;
    return call->bytes;
}

HttpTransport::HttpTransport(const std::string& agent, const HttpServer& server)
    : impl_(std::make_unique<Impl>(agent, server)) {}

HttpTransport::~HttpTransport() = default;

bool HttpTransport::IsOpen() const { return impl_->connection != nullptr && impl_->wake != nullptr; }

uint64_t HttpTransport::CloseCount() const { return impl_->closes.load(); }

uint64_t HttpTransport::Send(const HttpRequestSpec& spec, HttpReplyHead& head, uint64_t closeCount) {
    Impl& t = *impl_;
    std::lock_guard<std::mutex> guard(t.mutex);
    head = HttpReplyHead{};
    if (!IsOpen())
        return 0;
    t.ReleaseRequest();
    const uint64_t id = t.Begin(closeCount, spec.deadline);
    ResetEvent(t.wake);  // before the handle is published: a Close after that sets it again
    if (!t.Open(spec)) {
        t.failed = true;
        return 0;
    }
    // The waits are bounded here; WinHTTP's own limits only stop work nobody waits for, the wait
    // for a reply head included (it has no limit of its own in Wine, whose WinHttpCloseHandle
    // leaves an operation in flight running).
    const int ms = static_cast<int>(std::min<uint32_t>(t.server.timeoutMs, INT32_MAX));
    WinHttpSetTimeouts(t.active, ms, ms, ms, ms);
    DWORD headMs = static_cast<DWORD>(ms);
    WinHttpSetOption(t.active, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &headMs, sizeof(headMs));
    DWORD redirects = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    WinHttpSetOption(t.active, WINHTTP_OPTION_REDIRECT_POLICY, &redirects, sizeof(redirects));
    if (spec.secure && spec.ignoreCertificateErrors) {
        DWORD flags = SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID |
                      SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE;
        WinHttpSetOption(t.active, WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof(flags));
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
    if (available == 0)
        return 0;
    Call& call = *t.call;
    call.buffer.resize(std::min(size, available));
    if (!t.Await(WinHttpReadData(t.active, call.buffer.data(), static_cast<DWORD>(call.buffer.size()),
                                 nullptr))) {
        t.failed = true;
        return 0;
    }
    const size_t bytes = std::min<size_t>(call.bytes, call.buffer.size());
    std::memcpy(buffer, call.buffer.data(), bytes);
    return bytes;
}

bool HttpTransport::Expired(uint64_t transfer) { return impl_->Expired(transfer); }

bool HttpTransport::Complete(uint64_t transfer) {
    return impl_->Complete(transfer);
}

void HttpTransport::Close() {
    Impl& t = *impl_;
    ++t.closes;
    // The caller's wait ends at once; closing the handle stops WinHTTP's work on it.
    if (t.wake)
        SetEvent(t.wake);
    t.ReleaseRequest();
}

}  // namespace norvane::platform
