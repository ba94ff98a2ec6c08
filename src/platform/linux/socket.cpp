#include "platform/socket.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

namespace norvane::platform {

static_assert(sizeof(sockaddr_in) == sizeof(InetAddress), "socket address sizes differ");

namespace {

std::atomic<int> socketLibraryUsers{0};

const sockaddr* AsSockaddr(const InetAddress& address) {
    return reinterpret_cast<const sockaddr*>(&address);
}

sockaddr* AsSockaddr(InetAddress& address) { return reinterpret_cast<sockaddr*>(&address); }

timeval ToTimeval(unsigned milliseconds) {
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(milliseconds / 1000);
    tv.tv_usec = static_cast<suseconds_t>((milliseconds % 1000) * 1000);
    return tv;
}

bool SetFlag(int handle, int flag, bool on) {
    const int flags = fcntl(handle, F_GETFL, 0);
    if (flags < 0)
        return false;
    return fcntl(handle, F_SETFL, on ? (flags | flag) : (flags & ~flag)) == 0;
}

void CloseHandle(int& handle) {
    if (handle != Socket::INVALID_HANDLE) {
        ::close(handle);
        handle = Socket::INVALID_HANDLE;
    }
}

}  // namespace

bool SocketLibraryStartup() {
    ++socketLibraryUsers;
    return true;
}

void SocketLibraryCleanup() {
    int users = socketLibraryUsers.load();
    while (users > 0 && !socketLibraryUsers.compare_exchange_weak(users, users - 1)) {
    }
}

int SocketLibraryUsers() { return socketLibraryUsers.load(); }

// ---- Socket ----

bool Socket::Adopt(int handle) {
    Close();
    if (handle < 0)
        return false;
    handle_ = handle;
    wake_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wake_ < 0) {
        wake_ = INVALID_HANDLE;
        Close();
        return false;
    }
    return true;
}

uint16_t Socket::LocalPort() const {
    if (!IsOpen())
        return 0;
    InetAddress local;
    socklen_t length = sizeof(local);
    if (getsockname(handle_, AsSockaddr(local), &length) != 0)
        return 0;
    return InetPort(local);
}

bool Socket::SetReceiveBufferSize(int bytes) {
    return IsOpen() && setsockopt(handle_, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof(bytes)) == 0;
}

int Socket::RequestReceiveBuffer(int bytes) {
    if (!IsOpen())
        return -1;
    // The forced option needs the network-administration capability; without it the plain
    // option grants what the system cap allows.
    if (setsockopt(handle_, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof(bytes)) != 0 &&
        !SetReceiveBufferSize(bytes))
        return -1;
    return ReceiveBufferSize();
}

int Socket::ReceiveBufferSize() const {
    int bytes = 0;
    socklen_t length = sizeof(bytes);
    if (!IsOpen() || getsockopt(handle_, SOL_SOCKET, SO_RCVBUF, &bytes, &length) != 0)
        return -1;
    return bytes;
}

WaitResult Socket::WaitFor(short events, unsigned milliseconds) {
    if (!IsOpen())
        return WaitResult::Error;
    pollfd fds[2] = {{handle_, events, 0}, {wake_, POLLIN, 0}};
    const int timeout = milliseconds == WAIT_FOREVER ? -1 : static_cast<int>(milliseconds);
    int count;
    do {
        count = poll(fds, 2, timeout);
    } while (count < 0 && errno == EINTR);
    if (count < 0)
        return WaitResult::Error;
    if (fds[1].revents != 0)
        return WaitResult::Woken;
    if (count == 0)
        return WaitResult::Timeout;
    // Errors and hang-ups count as ready: the next call reports them.
    return WaitResult::Ready;
}

void Socket::Wake() {
    if (wake_ == INVALID_HANDLE)
        return;
    const uint64_t one = 1;
    // The counter stays non-zero, so every later wait also ends at once.
    [[maybe_unused]] const ssize_t written = ::write(wake_, &one, sizeof(one));
}

void Socket::Shutdown() {
    if (IsOpen())
        ::shutdown(handle_, SHUT_RDWR);
}

void Socket::Close() {
    CloseHandle(handle_);
    CloseHandle(wake_);
}

// ---- TcpSocket ----

bool TcpSocket::Create() { return Adopt(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)); }

TcpSocket::ConnectState TcpSocket::StartConnect(uint32_t address, uint16_t port) {
    if (!IsOpen() || !SetBlocking(false))
        return ConnectState::Failed;
    const InetAddress target = MakeInetAddress(address, port);
    if (::connect(Handle(), AsSockaddr(target), sizeof(target)) == 0)
        return ConnectState::Connected;
    return errno == EINPROGRESS || errno == EINTR ? ConnectState::Pending : ConnectState::Failed;
}

TcpSocket::ConnectState TcpSocket::PollConnect(unsigned milliseconds) {
    switch (WaitFor(POLLOUT, milliseconds)) {
    case WaitResult::Timeout:
        return ConnectState::Pending;
    case WaitResult::Ready: {
        int error = 0;
        socklen_t length = sizeof(error);
        if (getsockopt(Handle(), SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0)
            return ConnectState::Failed;
        return ConnectState::Connected;
    }
    default:
        return ConnectState::Failed;
    }
}

bool TcpSocket::SetBlocking(bool blocking) {
    return IsOpen() && SetFlag(Handle(), O_NONBLOCK, !blocking);
}

bool TcpSocket::SetReceiveTimeout(unsigned milliseconds) {
    const timeval tv = ToTimeval(milliseconds);
    return IsOpen() && setsockopt(Handle(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv)) == 0;
}

bool TcpSocket::SetSendTimeout(unsigned milliseconds) {
    const timeval tv = ToTimeval(milliseconds);
    return IsOpen() && setsockopt(Handle(), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof(tv)) == 0;
}

bool TcpSocket::SetNoDelay() {
    const int on = 1;
    return IsOpen() && setsockopt(Handle(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on)) == 0;
}

bool TcpSocket::SendAll(const void* data, size_t size) {
    if (!IsOpen())
        return false;
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const ssize_t sent = ::send(Handle(), bytes, size, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        bytes += sent;
        size -= static_cast<size_t>(sent);
    }
    return true;
}

int TcpSocket::Receive(void* buffer, size_t size) {
    if (!IsOpen())
        return -1;
    ssize_t received;
    do {
        received = ::recv(Handle(), buffer, size, 0);
    } while (received < 0 && errno == EINTR);
    return received < 0 ? -1 : static_cast<int>(received);
}

bool TcpSocket::SendAllWithin(const void* data, size_t size, unsigned milliseconds) {
    if (!IsOpen())
        return false;
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const ssize_t sent = ::send(Handle(), bytes, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (WaitFor(POLLOUT, milliseconds) != WaitResult::Ready)
                return false;
            continue;
        }
        if (sent <= 0)
            return false;
        bytes += sent;
        size -= static_cast<size_t>(sent);
    }
    return true;
}

// ---- TcpListener ----

bool TcpListener::Listen(uint32_t address, uint16_t port, int backlog) {
    if (!Adopt(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)))
        return false;
    const int on = 1;
    const InetAddress local = MakeInetAddress(address, port);
    if (setsockopt(Handle(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on)) != 0 ||
        ::bind(Handle(), AsSockaddr(local), sizeof(local)) != 0 || ::listen(Handle(), backlog) != 0) {
        Close();
        return false;
    }
    return true;
}

WaitResult TcpListener::Accept(TcpSocket& client, unsigned milliseconds) {
    const WaitResult waited = WaitReadable(milliseconds);
    if (waited != WaitResult::Ready)
        return waited;
    const int handle = ::accept4(Handle(), nullptr, nullptr, SOCK_CLOEXEC);
    return client.Adopt(handle) ? WaitResult::Ready : WaitResult::Error;
}

// ---- UdpSocket ----

bool UdpSocket::Open(uint16_t port, uint32_t address) {
    if (!Adopt(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)))
        return false;
    const InetAddress local = MakeInetAddress(address, port);
    if (::bind(Handle(), AsSockaddr(local), sizeof(local)) != 0) {
        Close();
        return false;
    }
    return true;
}

int UdpSocket::ReceiveFrom(void* buffer, size_t size, InetAddress& source, bool& truncated) {
    truncated = false;
    if (!IsOpen())
        return -1;
    source = InetAddress{};
    socklen_t length = sizeof(source);
    ssize_t received;
    do {
        received = ::recvfrom(Handle(), buffer, size, MSG_DONTWAIT | MSG_TRUNC, AsSockaddr(source),
                              &length);
    } while (received < 0 && errno == EINTR);
    if (received < 0)
        return -1;
    truncated = static_cast<size_t>(received) > size;
    return static_cast<int>(received);
}

int UdpSocket::ReceiveBatch(ReceivedDatagram* slots, size_t count) {
    if (!IsOpen() || !slots)
        return -1;
    count = std::min(count, MAX_BATCH);
    iovec vectors[MAX_BATCH];
    mmsghdr messages[MAX_BATCH];
    for (size_t i = 0; i < count; ++i) {
        slots[i].source = InetAddress{};
        vectors[i] = {slots[i].data, slots[i].capacity};
        messages[i] = {};
        messages[i].msg_hdr.msg_name = &slots[i].source;
        messages[i].msg_hdr.msg_namelen = sizeof(InetAddress);
        messages[i].msg_hdr.msg_iov = &vectors[i];
        messages[i].msg_hdr.msg_iovlen = 1;
    }
    int received;
    do {
        received = ::recvmmsg(Handle(), messages, static_cast<unsigned>(count), MSG_DONTWAIT, nullptr);
    } while (received < 0 && errno == EINTR);
    if (received < 0)
        return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
    for (int i = 0; i < received; ++i) {
        slots[i].truncated = (messages[i].msg_hdr.msg_flags & MSG_TRUNC) != 0;
        slots[i].length = std::min<size_t>(messages[i].msg_len, slots[i].capacity);
    }
    return received;
}

bool UdpSocket::SendTo(const void* data, size_t size, const InetAddress& destination) {
    if (!IsOpen())
        return false;
    const ssize_t sent =
        ::sendto(Handle(), data, size, MSG_NOSIGNAL, AsSockaddr(destination), sizeof(destination));
    return sent >= 0 && static_cast<size_t>(sent) == size;
}

}  // namespace norvane::platform
