// The parts of the socket classes both back ends share: addresses, moves, options, binding,
// composed waits; over the calls that differ (socket_native.h).
#include "platform/socket.h"

#if !defined(_WIN32)
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#endif

#include <cstring>

#include "platform/socket_native.h"

namespace norvane::platform {

namespace {

bool Bind(int handle, uint32_t address, uint16_t port) {
    const InetAddress local = MakeInetAddress(address, port);
    return ::bind(Native(handle), AsSockaddr(local), sizeof(local)) == 0;
}

}  // namespace

uint32_t MakeIPv4(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
    const uint8_t bytes[4] = {a, b, c, d};
    uint32_t address = 0;
    std::memcpy(&address, bytes, sizeof(address));
    return address;
}

uint32_t LoopbackIPv4() { return MakeIPv4(127, 0, 0, 1); }

InetAddress MakeInetAddress(uint32_t address, uint16_t port) {
    InetAddress result;
    result.family = AF_INET;
    result.port = htons(port);
    result.address = address;
    return result;
}

uint16_t InetPort(const InetAddress& address) { return ntohs(address.port); }

std::string FormatIPv4(uint32_t address) {
    in_addr in{};
    in.s_addr = address;
    char text[INET_ADDRSTRLEN] = {};
    return inet_ntop(AF_INET, &in, text, sizeof(text)) ? std::string(text) : std::string();
}

uint32_t FirstIPv4(const addrinfo* list) {
    for (const addrinfo* item = list; item; item = item->ai_next) {
        if (item->ai_family == AF_INET && item->ai_addr)
            return reinterpret_cast<const sockaddr_in*>(item->ai_addr)->sin_addr.s_addr;
    }
    return 0;
}

uint32_t DottedIPv4(const std::string& host) {
    in_addr address{};
    return inet_pton(AF_INET, host.c_str(), &address) == 1 ? address.s_addr : 0;
}

// ---- Socket and TcpSocket, over each back end's primitives ----

Socket::~Socket() { Close(); }

Socket::Socket(Socket&& other) noexcept : handle_(other.handle_), wake_(other.wake_) {
    other.handle_ = INVALID_HANDLE;
    other.wake_ = INVALID_HANDLE;
}

Socket& Socket::operator=(Socket&& other) noexcept {
    if (this != &other) {
        Close();
        handle_ = other.handle_;
        wake_ = other.wake_;
        other.handle_ = INVALID_HANDLE;
        other.wake_ = INVALID_HANDLE;
    }
    return *this;
}

uint16_t Socket::LocalPort() const {
    if (!IsOpen())
        return 0;
    InetAddress local;
    socklen_t length = sizeof(local);
    if (getsockname(Native(handle_), AsSockaddr(local), &length) != 0)
        return 0;
    return InetPort(local);
}

bool Socket::SetReceiveBufferSize(int bytes) {
    return IsOpen() && SetIntOption(handle_, SOL_SOCKET, SO_RCVBUF, bytes);
}

int Socket::ReceiveBufferSize() const {
    int bytes = 0;
    socklen_t length = sizeof(bytes);
    if (!IsOpen() || getsockopt(Native(handle_), SOL_SOCKET, SO_RCVBUF,
                                reinterpret_cast<char*>(&bytes), &length) != 0)
        return -1;
    return bytes;
}

WaitResult Socket::WaitReadable(unsigned milliseconds) { return WaitFor(POLLIN, milliseconds); }

TcpSocket::ConnectState TcpSocket::PollConnect(unsigned milliseconds) {
    switch (WaitFor(POLLOUT, milliseconds)) {
    case WaitResult::Timeout:
        return ConnectState::Pending;
    case WaitResult::Ready: {
        int error = 0;
        socklen_t length = sizeof(error);
        if (getsockopt(Native(Handle()), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error),
                       &length) != 0 ||
            error != 0)
            return ConnectState::Failed;
        return ConnectState::Connected;
    }
    default:
        return ConnectState::Failed;
    }
}

bool TcpSocket::SetNoDelay() {
    return IsOpen() && SetIntOption(Handle(), IPPROTO_TCP, TCP_NODELAY, 1);
}

bool TcpSocket::Connect(uint32_t address, uint16_t port, unsigned milliseconds) {
    if (!Create())
        return false;
    ConnectState state = StartConnect(address, port);
    if (state == ConnectState::Pending)
        state = PollConnect(milliseconds);
    if (state != ConnectState::Connected || !SetBlocking(true)) {
        Close();
        return false;
    }
    return true;
}

bool TcpSocket::SendAll(const void* data, size_t size) {
    if (!IsOpen())
        return false;
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const int sent = SendSome(Handle(), bytes, size);
        if (sent <= 0)
            return false;
        bytes += sent;
        size -= static_cast<size_t>(sent);
    }
    return true;
}

int TcpSocket::ReceiveWithin(void* buffer, size_t size, unsigned milliseconds) {
    if (WaitReadable(milliseconds) != WaitResult::Ready)
        return -1;
    return Receive(buffer, size);
}

bool TcpListener::Listen(uint32_t address, uint16_t port, int backlog) {
    if (!Adopt(NewSocketHandle(SOCK_STREAM)))
        return false;
    if (!PrepareListener(Handle()) || !Bind(Handle(), address, port) ||
        ::listen(Native(Handle()), backlog) != 0) {
        Close();
        return false;
    }
    return true;
}

bool UdpSocket::Open(uint16_t port, uint32_t address) {
    if (!Adopt(NewSocketHandle(SOCK_DGRAM)))
        return false;
    if (!PrepareDatagram(Handle()) || !Bind(Handle(), address, port)) {
        Close();
        return false;
    }
    return true;
}

int UdpSocket::ReceiveFrom(void* buffer, size_t size, InetAddress& source, bool& truncated) {
    truncated = false;
    source = InetAddress{};
    return IsOpen() ? ReceiveDatagram(Handle(), buffer, size, source, truncated) : -1;
}

}  // namespace norvane::platform
