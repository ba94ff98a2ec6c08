#include "platform/socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <mswsock.h>

#include <algorithm>
#include <atomic>

#include "platform/socket_native.h"

namespace norvane::platform {

static_assert(sizeof(sockaddr_in) == sizeof(InetAddress), "socket address sizes differ");
// Socket handles are kept as int: kernel handle values fit in 32 bits on 64-bit Windows too (they
// are shared with 32-bit processes).
static_assert(sizeof(SOCKET) == sizeof(int) || sizeof(SOCKET) == 8, "socket handles kept as int");

namespace {

std::atomic<int> socketLibraryUsers{0};

int AsHandle(SOCKET socket) {
    return socket == INVALID_SOCKET ? Socket::INVALID_HANDLE : static_cast<int>(socket);
}

// Sockets made by objects that never started the library themselves still work: the process
// holds one start-up of its own for its lifetime.
bool EnsureLibrary() {
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

void CloseHandle(int& handle) {
    if (handle != Socket::INVALID_HANDLE) {
        closesocket(Native(handle));
        handle = Socket::INVALID_HANDLE;
    }
}

bool SetNonBlocking(int handle, bool on) {
    u_long mode = on ? 1 : 0;
    return ioctlsocket(Native(handle), FIONBIO, &mode) == 0;
}

// A datagram socket on loopback connected to itself: the wake signal. One byte sent to it keeps
// it readable, so the wait in progress and every later one end at once. A socket closed under a
// thread in select() is undefined on Windows, so closing is never used to wake.
int NewWakeSocket() {
    const SOCKET wake = Native(NewSocketHandle(SOCK_DGRAM));
    if (wake == INVALID_SOCKET)
        return Socket::INVALID_HANDLE;
    InetAddress local = MakeInetAddress(LoopbackIPv4(), 0);
    int length = sizeof(local);
    if (::bind(wake, AsSockaddr(local), sizeof(local)) != 0 ||
        getsockname(wake, AsSockaddr(local), &length) != 0 ||
        ::connect(wake, AsSockaddr(local), sizeof(local)) != 0) {
        closesocket(wake);
        return Socket::INVALID_HANDLE;
    }
    return AsHandle(wake);
}

timeval ToTimeval(unsigned milliseconds) {
    timeval tv{};
    tv.tv_sec = static_cast<long>(milliseconds / 1000);
    tv.tv_usec = static_cast<long>((milliseconds % 1000) * 1000);
    return tv;
}

bool WouldBlock() {
    const int error = WSAGetLastError();
    return error == WSAEWOULDBLOCK || error == WSAEINPROGRESS;
}

}  // namespace

// Windows sockets are not inherited unless asked for.
int NewSocketHandle(int type) {
    return EnsureLibrary() ? AsHandle(::socket(AF_INET, type, 0)) : Socket::INVALID_HANDLE;
}

// No SO_REUSEADDR: on Windows it lets another socket take over a port in use.
bool PrepareListener(int) { return true; }

// Receives never block; an ICMP port-unreachable for an earlier send must not fail them.
bool PrepareDatagram(int handle) {
    BOOL reportReset = FALSE;
    DWORD ignored = 0;
    WSAIoctl(Native(handle), SIO_UDP_CONNRESET, &reportReset, sizeof(reportReset), nullptr, 0,
             &ignored, nullptr, nullptr);
    return SetNonBlocking(handle, true);
}

int SendSome(int handle, const uint8_t* bytes, size_t size) {
    const int chunk = static_cast<int>(std::min<size_t>(size, 1u << 30));
    const int sent = ::send(Native(handle), reinterpret_cast<const char*>(bytes), chunk, 0);
    return sent < 0 ? -1 : sent;
}

int ReceiveDatagram(int handle, void* buffer, size_t size, InetAddress& source, bool& truncated) {
    int length = sizeof(source);
    const int chunk = static_cast<int>(std::min<size_t>(size, 1u << 30));
    const int received = ::recvfrom(Native(handle), static_cast<char*>(buffer), chunk, 0,
                                    AsSockaddr(source), &length);
    if (received == SOCKET_ERROR && WSAGetLastError() == WSAEMSGSIZE) {
        // Windows does not tell the full length; one byte more than fitted says "too long".
        truncated = true;
        return chunk + 1;
    }
    return received < 0 ? -1 : received;
}

bool SocketLibraryStartup() {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return false;
    ++socketLibraryUsers;
    return true;
}

void SocketLibraryCleanup() {
    int users = socketLibraryUsers.load();
    while (users > 0) {
        if (socketLibraryUsers.compare_exchange_weak(users, users - 1)) {
            WSACleanup();
            return;
        }
    }
}

int SocketLibraryUsers() { return socketLibraryUsers.load(); }

// ---- Socket ----

bool Socket::Adopt(int handle) {
    Close();
    if (handle == INVALID_HANDLE)
        return false;
    handle_ = handle;
    wake_ = NewWakeSocket();
    if (wake_ == INVALID_HANDLE) {
        Close();
        return false;
    }
    return true;
}

int Socket::RequestReceiveBuffer(int bytes) {
    // Windows has no system cap to pass: the plain option grants the size.
    return SetReceiveBufferSize(bytes) ? ReceiveBufferSize() : -1;
}

WaitResult Socket::WaitFor(short events, unsigned milliseconds) {
    if (!IsOpen())
        return WaitResult::Error;
    const SOCKET socket = Native(handle_);
    fd_set readable;
    fd_set writable;
    fd_set failed;  // a failed connect shows here, not as writable
    FD_ZERO(&readable);
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(Native(wake_), &readable);
    if (events & POLLIN)
        FD_SET(socket, &readable);
    if (events & POLLOUT) {
        FD_SET(socket, &writable);
        FD_SET(socket, &failed);
    }
    timeval tv = ToTimeval(milliseconds);
    const int count = select(0, &readable, &writable, &failed,
                             milliseconds == WAIT_FOREVER ? nullptr : &tv);
    if (count == SOCKET_ERROR)
        return WaitResult::Error;
    if (FD_ISSET(Native(wake_), &readable))
        return WaitResult::Woken;
    // Errors and hang-ups count as ready: the next call reports them.
    return count == 0 ? WaitResult::Timeout : WaitResult::Ready;
}

void Socket::Wake() {
    if (wake_ != INVALID_HANDLE)
        ::send(Native(wake_), "w", 1, 0);
}

void Socket::Shutdown() {
    if (IsOpen())
        ::shutdown(Native(handle_), SD_BOTH);
}

void Socket::Close() {
    CloseHandle(handle_);
    CloseHandle(wake_);
}

// ---- TcpSocket ----

bool TcpSocket::Create() {
    blocking_ = true;
    return Adopt(NewSocketHandle(SOCK_STREAM));
}

TcpSocket::ConnectState TcpSocket::StartConnect(uint32_t address, uint16_t port) {
    if (!IsOpen() || !SetBlocking(false))
        return ConnectState::Failed;
    const InetAddress target = MakeInetAddress(address, port);
    if (::connect(Native(Handle()), AsSockaddr(target), sizeof(target)) == 0)
        return ConnectState::Connected;
    return WouldBlock() ? ConnectState::Pending : ConnectState::Failed;
}

bool TcpSocket::SetBlocking(bool blocking) {
    if (!IsOpen() || !SetNonBlocking(Handle(), !blocking))
        return false;
    blocking_ = blocking;
    return true;
}

bool TcpSocket::SetReceiveTimeout(unsigned milliseconds) {
    const DWORD value = milliseconds;
    return IsOpen() && setsockopt(Native(Handle()), SOL_SOCKET, SO_RCVTIMEO,
                                  reinterpret_cast<const char*>(&value), sizeof(value)) == 0;
}

int TcpSocket::Receive(void* buffer, size_t size) {
    if (!IsOpen())
        return -1;
    const int chunk = static_cast<int>(std::min<size_t>(size, 1u << 30));
    const int received = ::recv(Native(Handle()), static_cast<char*>(buffer), chunk, 0);
    return received < 0 ? -1 : received;
}

bool TcpSocket::SendAllWithin(const void* data, size_t size, unsigned milliseconds) {
    if (!IsOpen())
        return false;
    // No per-call non-blocking flag on Windows: the socket is non-blocking for the duration.
    const bool wasBlocking = blocking_;
    if (wasBlocking && !SetBlocking(false))
        return false;
    const auto* bytes = static_cast<const char*>(data);
    bool ok = true;
    while (ok && size > 0) {
        const int chunk = static_cast<int>(std::min<size_t>(size, 1u << 30));
        const int sent = ::send(Native(Handle()), bytes, chunk, 0);
        if (sent == SOCKET_ERROR && WouldBlock()) {
            ok = WaitFor(POLLOUT, milliseconds) == WaitResult::Ready;
            continue;
        }
        ok = sent > 0;
        if (ok) {
            bytes += sent;
            size -= static_cast<size_t>(sent);
        }
    }
    if (wasBlocking && !SetBlocking(true))
        return false;
    return ok;
}

// ---- TcpListener ----

WaitResult TcpListener::Accept(TcpSocket& client, unsigned milliseconds) {
    const WaitResult waited = WaitReadable(milliseconds);
    if (waited != WaitResult::Ready)
        return waited;
    const SOCKET accepted = ::accept(Native(Handle()), nullptr, nullptr);
    client.blocking_ = true;
    return client.Adopt(AsHandle(accepted)) ? WaitResult::Ready : WaitResult::Error;
}

// ---- UdpSocket ----

int UdpSocket::ReceiveBatch(ReceivedDatagram* slots, size_t count) {
    if (!IsOpen() || !slots)
        return -1;
    count = std::min(count, MAX_BATCH);
    // Winsock has no batched receive: one datagram per slot while one waits.
    int received = 0;
    for (; static_cast<size_t>(received) < count; ++received) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(Native(Handle()), &readable);
        timeval now{0, 0};
        const int ready = ::select(0, &readable, nullptr, nullptr, &now);
        if (ready == 0)
            break;
        ReceivedDatagram& slot = slots[received];
        const int length =
            ready < 0 ? -1 : ReceiveFrom(slot.data, slot.capacity, slot.source, slot.truncated);
        if (length < 0)
            return received ? received : -1;
        slot.length = std::min<size_t>(static_cast<size_t>(length), slot.capacity);
    }
    return received;
}

bool UdpSocket::SendTo(const void* data, size_t size, const InetAddress& destination) {
    if (!IsOpen() || size > INT32_MAX)
        return false;
    const int sent = ::sendto(Native(Handle()), static_cast<const char*>(data),
                              static_cast<int>(size), 0, AsSockaddr(destination),
                              sizeof(destination));
    return sent >= 0 && static_cast<size_t>(sent) == size;
}

}  // namespace norvane::platform
