#include "platform/http_transport.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <mutex>
#include <string_view>
#include <vector>

#include "platform/http_transfer_state.h"
#include "platform/system.h"

namespace norvane::platform {

namespace {

constexpr size_t MAX_HEAD_BYTES = 64 * 1024;  // all header lines of one transfer
constexpr uint32_t MAX_POLL_MS = 0x7FFFFFFF;

struct SchemeBits {
    uint32_t ours;
    unsigned long curl;
    std::string_view name;  // lower case, as in a challenge
};

constexpr SchemeBits SCHEMES[] = {{HTTP_AUTH_BASIC, CURLAUTH_BASIC, "basic"},
                                  {HTTP_AUTH_DIGEST, CURLAUTH_DIGEST, "digest"},
                                  {HTTP_AUTH_NTLM, CURLAUTH_NTLM, "ntlm"},
                                  {HTTP_AUTH_NEGOTIATE, CURLAUTH_NEGOTIATE, "negotiate"}};

void InitialiseLibrary() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

unsigned long CurlScheme(uint32_t scheme) {
    for (const SchemeBits& bits : SCHEMES)
        if (bits.ours == scheme)
            return bits.curl;
    return CURLAUTH_NONE;  // Passport: not available in libcurl
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i])
            return false;
    return true;
}

// Scheme bits named in one challenge header value ("Digest realm=..., Basic realm=...").
// A scheme is the first word of a comma-separated piece that is not a parameter.
uint32_t ChallengeSchemes(std::string_view value) {
    uint32_t schemes = 0;
    size_t pos = 0;
    while (pos < value.size()) {
        size_t end = value.find(',', pos);
        if (end == std::string_view::npos)
            end = value.size();
        std::string_view piece = value.substr(pos, end - pos);
        piece.remove_prefix(std::min(piece.find_first_not_of(" \t"), piece.size()));
        const std::string_view word = piece.substr(0, piece.find_first_of(" \t\r\n"));
        if (word.find('=') == std::string_view::npos)
            for (const SchemeBits& bits : SCHEMES)
                if (word.size() == bits.name.size() && StartsWithNoCase(word, bits.name))
                    schemes |= bits.ours;
        pos = end + 1;
    }
    return schemes;
}

// Status of an "HTTP/x.y nnn ..." line, 0 when it has none.
int StatusOfLine(std::string_view line) {
    const size_t space = line.find(' ');
    if (space == std::string_view::npos || line.size() < space + 4)
        return 0;
    int status = 0;
    for (size_t i = space + 1; i < space + 4; ++i) {
        if (line[i] < '0' || line[i] > '9')
            return 0;
        status = status * 10 + (line[i] - '0');
    }
    return status;
}

}  // namespace

uint32_t SupportedHttpAuthSchemes() {
    InitialiseLibrary();
    const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
    uint32_t schemes = HTTP_AUTH_BASIC | HTTP_AUTH_DIGEST;
    if (info->features & CURL_VERSION_NTLM)
        schemes |= HTTP_AUTH_NTLM;
    if (info->features & CURL_VERSION_SPNEGO)
        schemes |= HTTP_AUTH_NEGOTIATE;
    return schemes;
}

struct HttpTransport::Impl : HttpTransferState {
    Impl(const std::string& agent, const HttpServer& server);
    ~Impl();

    void Configure(const std::string& agent);
    void SetRequestOptions(const HttpRequestSpec& request);
    void Detach();
    void Abandon();
    void CollectFinished();
    template <class Ready>
    bool DriveUntil(Ready ready, uint32_t limitMs);
    bool WaitForBody(uint64_t transfer);
    size_t Buffered() const { return buffer.size() - readPos; }
    void ResumeIfDrained();
    void ReadHead(HttpReplyHead& head);

    static size_t OnBody(char* data, size_t size, size_t count, void* self);
    static size_t OnHeader(char* data, size_t size, size_t count, void* self);
    static int OnConnected(void* self, char*, char*, int, int);

    // `mutex` serialises every libcurl call except the wake-up.
    CURLM* multi = nullptr;
    CURL* easy = nullptr;
    HttpServer server;
    bool attached = false;  // the handle is in the multi handle

    // State of the current transfer beside the shared one.
    std::vector<uint8_t> buffer;
    size_t readPos = 0;
    size_t headBytes = 0;
    int lineStatus = 0;  // status of the response whose head is being received
    uint32_t challenged = 0;       // schemes the current response's challenges name
    bool paused = false;
    bool authHead = false;  // a 401/407 head is in; final unless another response follows
    bool headDone = false;
    bool finished = false;
    uint32_t lastActivity = 0;
};

HttpTransport::Impl::Impl(const std::string& agent, const HttpServer& server) : server(server) {
    InitialiseLibrary();
    multi = curl_multi_init();
    easy = curl_easy_init();
    if (!multi || !easy) {
        curl_easy_cleanup(easy);
        curl_multi_cleanup(multi);
        easy = nullptr;
        multi = nullptr;
        return;
    }
    curl_multi_setopt(multi, CURLMOPT_MAX_HOST_CONNECTIONS, 16L);
    Configure(agent);
}

HttpTransport::Impl::~Impl() {
    Detach();
    curl_easy_cleanup(easy);
    curl_multi_cleanup(multi);
}

void HttpTransport::Impl::Configure(const std::string& agent) {
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, agent.c_str());
    curl_easy_setopt(easy, CURLOPT_PROXY, "");  // no proxy, whatever the environment says
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_IPRESOLVE, static_cast<long>(CURL_IPRESOLVE_V4));
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(server.timeoutMs));
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Impl::OnBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Impl::OnHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, &Impl::OnConnected);
    curl_easy_setopt(easy, CURLOPT_PREREQDATA, this);
}

void HttpTransport::Impl::SetRequestOptions(const HttpRequestSpec& request) {
    const std::string url = std::string(request.secure ? "https://" : "http://") + server.host +
                            ":" + std::to_string(server.port) + request.path;
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, request.verb == "GET" ? nullptr : request.verb.c_str());
    const long verify = request.secure && request.ignoreCertificateErrors ? 0L : 1L;
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, verify);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, verify ? 2L : 0L);

    // Credentials go to the target of the last challenge; the other side gets none. Without a
    // scheme (0) libcurl sends none but still takes in the challenge of the reply.
    const bool credentials = !server.user.empty();
    const bool proxy = request.authTarget == HTTP_AUTH_TARGET_PROXY;
    const char* user = credentials ? server.user.c_str() : nullptr;
    const char* password = credentials ? server.password.c_str() : nullptr;
    const long scheme = static_cast<long>(CurlScheme(request.authScheme));
    curl_easy_setopt(easy, CURLOPT_HTTPAUTH, proxy ? static_cast<long>(CURLAUTH_BASIC) : scheme);
    curl_easy_setopt(easy, CURLOPT_USERNAME, proxy ? nullptr : user);
    curl_easy_setopt(easy, CURLOPT_PASSWORD, proxy ? nullptr : password);
    curl_easy_setopt(easy, CURLOPT_PROXYAUTH, proxy ? scheme : static_cast<long>(CURLAUTH_BASIC));
    curl_easy_setopt(easy, CURLOPT_PROXYUSERNAME, proxy ? user : nullptr);
    curl_easy_setopt(easy, CURLOPT_PROXYPASSWORD, proxy ? password : nullptr);
}

void HttpTransport::Impl::Detach() {
    if (attached)
        curl_multi_remove_handle(multi, easy);  // an unfinished transfer closes its connection
    attached = false;
}

void HttpTransport::Impl::Abandon() {
    Detach();
    failed = true;
}

void HttpTransport::Impl::CollectFinished() {
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
        if (message->msg != CURLMSG_DONE || message->easy_handle != easy)
            continue;
        finished = true;
        complete = message->data.result == CURLE_OK;  // a short or cut body ends in an error
        if (authHead)
            headDone = true;  // a 401/407 that ended the transfer is the reply
    }
}

// Drives the transfer until `ready` holds. False when the transfer ended first, on close, past
// the deadline, or when nothing happened for the time-out or `limitMs` passed.
template <class Ready>
bool HttpTransport::Impl::DriveUntil(Ready ready, uint32_t limitMs) {
    const uint32_t start = SteadyMs();
    lastActivity = start;
    for (;;) {
        if (failed)
            return false;
        if (Cancelled()) {
            Abandon();
            return false;
        }
        int running = 0;
        if (curl_multi_perform(multi, &running) != CURLM_OK) {
            Abandon();
            return false;
        }
        CollectFinished();
        if (ready())
            return true;
        if (finished)
            return false;
        const uint32_t now = SteadyMs();
        const uint32_t idle = now - lastActivity;
        const uint32_t elapsed = now - start;
        const uint32_t left = deadline ? RemainingMs(*deadline, now) : MAX_POLL_MS;
        if (left == 0)
            expired = true;
        if (idle >= server.timeoutMs || elapsed >= limitMs || left == 0) {
            Abandon();
            return false;
        }
        const uint32_t wait = std::min({server.timeoutMs - idle, limitMs - elapsed, left, MAX_POLL_MS});
        curl_multi_poll(multi, nullptr, 0, static_cast<int>(wait), nullptr);
    }
}

bool HttpTransport::Impl::WaitForBody(uint64_t transfer) {
    if (transfer == 0 || transfer != current || failed)
        return false;
    return DriveUntil([this] { return Buffered() > 0 || finished; }, server.timeoutMs);
}

void HttpTransport::Impl::ResumeIfDrained() {
    if (readPos == buffer.size()) {
        buffer.clear();
        readPos = 0;
    }
    if (paused && attached && Buffered() < BUFFER_LIMIT / 2) {
        paused = false;
        curl_easy_pause(easy, CURLPAUSE_CONT);  // may deliver the held data at once
    }
}

void HttpTransport::Impl::ReadHead(HttpReplyHead& head) {
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    curl_off_t length = -1;
    curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    head.status = static_cast<uint32_t>(status);
    head.contentLength = length > 0 && length <= UINT32_MAX ? static_cast<uint32_t>(length) : 0;
    // Read from the challenges themselves: libcurl's own record of offered schemes keeps a
    // scheme once seen on a reused handle and then leaves it out of later replies.
    head.authTarget = status == 407 ? HTTP_AUTH_TARGET_PROXY : HTTP_AUTH_TARGET_SERVER;
    head.authSchemes = status == 401 || status == 407 ? challenged & SupportedHttpAuthSchemes() : 0;
}

size_t HttpTransport::Impl::OnBody(char* data, size_t size, size_t count, void* self) {
    auto* impl = static_cast<Impl*>(self);
    const size_t bytes = size * count;
    if (impl->authHead)
        impl->headDone = true;  // only the final reply's body reaches here
    if (impl->Buffered() > 0 && impl->Buffered() + bytes > BUFFER_LIMIT) {
        impl->paused = true;
        return CURL_WRITEFUNC_PAUSE;
    }
    if (impl->readPos > 0 && impl->readPos >= impl->buffer.size() / 2) {
        impl->buffer.erase(impl->buffer.begin(), impl->buffer.begin() + static_cast<long>(impl->readPos));
        impl->readPos = 0;
    }
    impl->buffer.insert(impl->buffer.end(), data, data + bytes);
    impl->lastActivity = SteadyMs();
    return bytes;
}

size_t HttpTransport::Impl::OnHeader(char* data, size_t size, size_t count, void* self) {
    auto* impl = static_cast<Impl*>(self);
    const size_t bytes = size * count;
    impl->headBytes += bytes;
    if (impl->headBytes > MAX_HEAD_BYTES)
        return 0;  // ends the transfer
    impl->lastActivity = SteadyMs();
    const std::string_view line(data, bytes);
    if (line.starts_with("HTTP/")) {
        impl->authHead = false;  // a new response: an earlier 401/407 was answered
        impl->lineStatus = StatusOfLine(line);
        impl->challenged = 0;
    } else if (const std::string_view name = impl->lineStatus == 407 ? "proxy-authenticate:"
                                                                      : "www-authenticate:";
               StartsWithNoCase(line, name)) {
        impl->challenged |= ChallengeSchemes(line.substr(name.size()));
    } else if (line == "\r\n" || line == "\n") {
        if (impl->lineStatus == 401 || impl->lineStatus == 407)
            impl->authHead = true;
        else if (impl->lineStatus >= 200)
            impl->headDone = true;
    }
    return bytes;
}

int HttpTransport::Impl::OnConnected(void* self, char*, char*, int, int) {
    static_cast<Impl*>(self)->lastActivity = SteadyMs();
    return CURL_PREREQFUNC_OK;
}

HttpTransport::HttpTransport(const std::string& agent, const HttpServer& server)
    : impl_(std::make_unique<Impl>(agent, server)) {}

HttpTransport::~HttpTransport() = default;

bool HttpTransport::IsOpen() const { return impl_->easy != nullptr; }

uint64_t HttpTransport::CloseCount() const { return impl_->closes.load(); }

uint64_t HttpTransport::Send(const HttpRequestSpec& request, HttpReplyHead& head, uint64_t closeCount) {
    Impl& t = *impl_;
    std::lock_guard<std::mutex> guard(t.mutex);
    head = HttpReplyHead{};
    if (!t.easy)
        return 0;
    t.Detach();
    t.buffer.clear();
    t.readPos = 0;
    t.headBytes = 0;
    t.lineStatus = 0;
    t.challenged = 0;
    t.paused = t.authHead = t.headDone = t.finished = false;
    const uint64_t id = t.Begin(closeCount, request.deadline);
    t.SetRequestOptions(request);
    if (curl_multi_add_handle(t.multi, t.easy) != CURLM_OK)
        return 0;
    t.attached = true;
    // Connecting has its own limit; the head may then take one more time-out.
    const uint32_t limit = static_cast<uint32_t>(std::min<uint64_t>(2ull * t.server.timeoutMs, UINT32_MAX));
    if (!t.DriveUntil([&t] { return t.headDone; }, limit)) {
        t.Abandon();
        return 0;
    }
    t.ReadHead(head);
    return id;
}

size_t HttpTransport::Available(uint64_t transfer) {
    std::lock_guard<std::mutex> guard(impl_->mutex);
    return impl_->WaitForBody(transfer) ? impl_->Buffered() : 0;
}

size_t HttpTransport::Read(uint64_t transfer, void* buffer, size_t size) {
    Impl& t = *impl_;
    std::lock_guard<std::mutex> guard(t.mutex);
    if (!buffer || size == 0 || !t.WaitForBody(transfer))
        return 0;
    const size_t bytes = std::min(size, t.Buffered());
    std::memcpy(buffer, t.buffer.data() + t.readPos, bytes);
    t.readPos += bytes;
    t.ResumeIfDrained();
    return bytes;
}

bool HttpTransport::Expired(uint64_t transfer) { return impl_->Expired(transfer); }

bool HttpTransport::Complete(uint64_t transfer) {
    return impl_->Complete(transfer);
}

void HttpTransport::Close() {
    Impl& t = *impl_;
    if (!t.multi)
        return;
    ++t.closes;
    // A Send or read holding the lock wakes from its poll, sees the count and lets go.
    curl_multi_wakeup(t.multi);
    std::lock_guard<std::mutex> guard(t.mutex);
    if (t.attached)
        t.Abandon();
}

}  // namespace norvane::platform
