#include "http/http_client.h"

#include <algorithm>

#include "http/auth_memory.h"
#include "platform/http_transport.h"
#include "platform/system.h"

namespace norvane::Web {

namespace {

constexpr uint32_t DEFAULT_TIMEOUT_MS = 5000;  // stands in for an unbounded time-out of 0

// Scheme preference when a server offers several.
constexpr uint32_t SCHEME_ORDER[] = {platform::HTTP_AUTH_NEGOTIATE, platform::HTTP_AUTH_NTLM,
                                     platform::HTTP_AUTH_PASSPORT, platform::HTTP_AUTH_DIGEST,
                                     platform::HTTP_AUTH_BASIC};

uint32_t PreferredScheme(uint32_t offered) {
    for (const uint32_t scheme : SCHEME_ORDER)
        if (offered & scheme)
            return scheme;
    return 0;
}

}  // namespace

CHttpClient::CHttpClient(const DEVICE_INFO& device, const std::string& agent)
    : timeout_(device.timeout ? device.timeout : DEFAULT_TIMEOUT_MS),
      authScheme_(0),
      authTarget_(platform::HTTP_AUTH_TARGET_SERVER),
      agent_(agent),
      user_(device.userName),
      password_(device.password),
      host_(device.address),
      port_(device.port),
      address_(host_ + ":" + std::to_string(port_)) {
    platform::HttpServer server{host_, port_, user_, password_, timeout_};
    session_ = std::make_unique<platform::HttpTransport>(agent_, server);
    if (!session_->IsOpen())
        session_.reset();
}

CHttpClient::~CHttpClient() { CloseRequest(); }

uint64_t CHttpClient::CurrentRequest() {
    CLockGuard guard(lock_);
    return request_;
}

bool CHttpClient::HasRequest() { return CurrentRequest() != 0; }

bool CHttpClient::Attempt(const std::string& verb, const std::string& path, const Exchange& exchange) {
    statusCode_ = 0;
    contentLength_ = 0;
    offeredSchemes_ = 0;
    if (!session_ || verb.empty() || path.empty())
        return false;
    platform::HttpRequestSpec request;
    request.verb = verb;
    request.path = path;
    request.secure = protocolState_ == PROTOCOL_HTTPS;
    request.ignoreCertificateErrors = true;
    request.authScheme = authScheme_;
    request.authTarget = authTarget_;
    request.deadline = exchange.deadline;
    platform::HttpReplyHead head;
    const uint64_t transfer = session_->Send(request, head, exchange.closes);
    if (transfer == 0)
        return false;
    CLockGuard guard(lock_);
    request_ = transfer;
    statusCode_ = head.status;
    contentLength_ = head.contentLength;
    offeredSchemes_ = head.authSchemes;
    offeredTarget_ = head.authTarget;
    return true;
}

// No credentials go out before the camera asked for them: the first request to a camera goes
// without, and its challenge picks the scheme, which every client of the process then sends
// from its next request on.
bool CHttpClient::Negotiate(const std::string& verb, const std::string& path, const Exchange& exchange) {
    if (user_.empty())
        return Attempt(verb, path, exchange);  // without a user there is nothing to answer with
    CAuthMemory& memory = CAuthMemory::Shared();
    if (const uint32_t known = memory.Scheme(address_); known != 0)
        authScheme_ = known;  // what the camera asked any client for last
    uint32_t lastStatus = 0;
    for (int changes = 0;;) {
        if (!Attempt(verb, path, exchange))
            return false;
        if (statusCode_ != 401 && statusCode_ != 407)
            return true;
        if (statusCode_ == lastStatus)
            return true;  // the owner sees the repeated 401 or 407
        const uint32_t chosen = PreferredScheme(offeredSchemes_);
        // A Digest challenge to a Digest answer carries a new nonce (a camera that restarted
        // forgot the old one): it is answered once, like a change of scheme.
        const bool newNonce = chosen == platform::HTTP_AUTH_DIGEST && chosen == authScheme_;
        if (chosen == 0 || (chosen == authScheme_ && !newNonce))
            return true;
        // Basic to a camera that asked for Digest would give the password away in the clear.
        if (!memory.Learn(address_, chosen))
            return true;
        authScheme_ = chosen;
        authTarget_ = offeredTarget_;
        lastStatus = statusCode_;
        if (++changes >= MAX_AUTH_CHANGES)
            return true;
    }
}

bool CHttpClient::SendRequest(const std::string& verb, const std::string& path, uint32_t exchangeLimitMs) {
    Exchange exchange;
    // The count is read before the stop event: a stop path that sets the event and then closes
    // is either seen here or fails the transfer through the count.
    if (session_)
        exchange.closes = session_->CloseCount();
    if (exchangeLimitMs != 0)
        exchange.deadline = platform::SteadyMs() + exchangeLimitMs;
    if (stop_ && stop_->Wait(0)) {
        statusCode_ = 0;
        contentLength_ = 0;
        return false;
    }
    if (protocolState_ != PROTOCOL_UNKNOWN)
        return Negotiate(verb, path, exchange);
    protocolState_ = PROTOCOL_HTTP;
    if (Negotiate(verb, path, exchange))
        return true;
    if (HasRequest()) {
        protocolState_ = PROTOCOL_HTTPS;
        if (Negotiate(verb, path, exchange))
            return true;
    }
    protocolState_ = PROTOCOL_UNKNOWN;
    return false;
}

uint32_t CHttpClient::QueryDataAvailable() {
    const uint64_t transfer = CurrentRequest();
    if (!session_ || transfer == 0)
        return 0;
    return static_cast<uint32_t>(std::min<size_t>(session_->Available(transfer), UINT32_MAX));
}

uint32_t CHttpClient::ReadData(void* buffer, uint32_t size) {
    const uint64_t transfer = CurrentRequest();
    if (!session_ || transfer == 0 || !buffer || size == 0)
        return 0;
    return static_cast<uint32_t>(session_->Read(transfer, buffer, size));
}

// Reads into room for the whole announced body and the zero byte the request helper appends, so
// that no growth copies the body.
CHttpClient::BodyEnd CHttpClient::ReadBody(ByteBuffer& buffer) {
    if (contentLength_ > MAX_RESPONSE)
        return BodyEnd::TooLong;
    buffer.reserve(contentLength_ != 0 ? contentLength_ + 1 : READ_CHUNK);
    uint32_t total = 0;
    for (uint32_t available = QueryDataAvailable(); available > 0;
         available = QueryDataAvailable()) {
        if (total == MAX_RESPONSE)
            return BodyEnd::TooLong;
        const uint32_t chunk = std::min({available, READ_CHUNK, MAX_RESPONSE - total});
        buffer.resize(total + chunk);
        total += ReadData(buffer.data() + total, chunk);
        buffer.resize(total);
    }
    const uint64_t transfer = CurrentRequest();
    const bool whole = session_ && transfer != 0 && session_->Complete(transfer) &&
                       (contentLength_ == 0 || total == contentLength_);
    return whole ? BodyEnd::Complete : BodyEnd::Incomplete;
}

uint32_t CHttpClient::ReadResponse(ByteBuffer& buffer) {
    buffer.clear();
    bodyEnd_ = ReadBody(buffer);
    if (bodyEnd_ == BodyEnd::Complete)
        return static_cast<uint32_t>(buffer.size());
    buffer.clear();
    CloseRequest();  // the rest is not wanted: the connection goes rather than being drained
    return 0;
}

void CHttpClient::CloseRequest() {
    CLockGuard guard(lock_);
    if (session_)
        session_->Close();
    request_ = 0;
}

bool CHttpClient::ExchangeExpired() {
    const uint64_t transfer = CurrentRequest();
    return session_ && transfer != 0 && session_->Expired(transfer);
}

}  // namespace norvane::Web
