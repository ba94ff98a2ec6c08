#include "platform/socket.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

#include "platform/socket_native.h"

namespace norvane::platform {

static_assert(sizeof(sockaddr_in) == sizeof(InetAddress), "socket address sizes differ");

namespace {

std::atomic<int> socketLibraryUsers{0};

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

int NewSocketHandle(int type) { return ::socket(AF_INET, type | SOCK_CLOEXEC, 0); }

bool PrepareListener(int handle) { return SetIntOption(handle, SOL_SOCKET, SO_REUSEADDR, 1); }

bool PrepareDatagram(int) { return true; }

int SendSome(int handle, const uint8_t* bytes, size_t size) {
    ssize_t sent;
    do {
        sent = ::send(handle, bytes, std::min<size_t>(size, 1u << 30), MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return sent < 0 ? -1 : static_cast<int>(sent);
}

int ReceiveDatagram(int handle, void* buffer, size_t size, InetAddress& source, bool& truncated) {
    socklen_t length = sizeof(source);
    ssize_t received;
    do {
        received = ::recvfrom(handle, buffer, size, MSG_DONTWAIT | MSG_TRUNC,
                              AsSockaddr(source), &length);
    } while (received < 0 && errno == EINTR);
    if (received < 0)
        return -1;
    truncated = static_cast<size_t>(received) > size;
    return static_cast<int>(received);
}

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

bool TcpSocket::Create() { return Adopt(NewSocketHandle(SOCK_STREAM)); }

TcpSocket::ConnectState TcpSocket::StartConnect(uint32_t address, uint16_t port) {
    if (!IsOpen() || !SetBlocking(false))
        return ConnectState::Failed;
    const InetAddress target = MakeInetAddress(address, port);
    if (::connect(Handle(), AsSockaddr(target), sizeof(target)) == 0)
        return ConnectState::Connected;
    return errno == EINPROGRESS || errno == EINTR ? ConnectState::Pending : ConnectState::Failed;
}

bool TcpSocket::SetBlocking(bool blocking) {
    return IsOpen() && SetFlag(Handle(), O_NONBLOCK, !blocking);
}

bool TcpSocket::SetReceiveTimeout(unsigned milliseconds) {
    const timeval tv = ToTimeval(milliseconds);
    return IsOpen() && setsockopt(Handle(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof(tv)) == 0;
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

WaitResult TcpListener::Accept(TcpSocket& client, unsigned milliseconds) {
    const WaitResult waited = WaitReadable(milliseconds);
    if (waited != WaitResult::Ready)
        return waited;
    const int handle = ::accept4(Handle(), nullptr, nullptr, SOCK_CLOEXEC);
    return client.Adopt(handle) ? WaitResult::Ready : WaitResult::Error;
}

// ---- UdpSocket ----

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
