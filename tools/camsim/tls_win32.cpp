// The Windows build of the simulator has no TLS library: a TLS listener cannot be made, so
// HttpServer::Start(port, true) fails and no TlsStream is ever created.
#include "tls.h"

namespace camsim {

struct TlsContext::Impl {};
struct TlsStream::Impl {};

TlsContext::TlsContext(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
TlsContext::~TlsContext() = default;

std::shared_ptr<TlsContext> TlsContext::CreateSelfSigned() { return nullptr; }

TlsStream::TlsStream(const TlsContext&, norvane::platform::TcpSocket& socket, unsigned waitMs)
    : socket_(socket), waitMs_(waitMs) {}
TlsStream::~TlsStream() = default;

bool TlsStream::Accept(std::string_view) { return false; }
int TlsStream::Receive(void*, size_t) { return -1; }
bool TlsStream::Send(const void*, size_t) { return false; }

}  // namespace camsim
