// IPv4 TCP and UDP sockets. The only code that touches the OS socket API; handles are plain ints.
// Every blocking wait is bounded and also ends at once when another thread calls Wake.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace norvane::platform {

// IPv4 socket address laid out as the 16-byte sockaddr_in: family, port and address in network
// order, eight zero bytes.
struct InetAddress {
    uint16_t family = 0;
    uint16_t port = 0;      // network order
    uint32_t address = 0;   // network order
    uint8_t zero[8] = {};
};
static_assert(sizeof(InetAddress) == 16, "InetAddress must be a 16-byte socket address");

// Network-order IPv4 address from its four dotted parts.
uint32_t MakeIPv4(uint8_t a, uint8_t b, uint8_t c, uint8_t d);
// 127.0.0.1 in network order.
uint32_t LoopbackIPv4();
// Socket address for a network-order IPv4 address and a host-order port.
InetAddress MakeInetAddress(uint32_t address, uint16_t port);
// Host-order port of a socket address.
uint16_t InetPort(const InetAddress& address);
// Dotted text of a network-order IPv4 address.
std::string FormatIPv4(uint32_t address);
// Milliseconds between two checks of a look-up's `abandon` predicate.
constexpr unsigned RESOLVE_CHECK_MS = 20;
// First IPv4 address the resolver gives for a host name or dotted text; 0 when none. Dotted text
// needs no look-up. A look-up still under way when `abandon` returns true is left to end on its
// own and 0 is returned at once, so a stop never waits for a slow resolver.
uint32_t ResolveIPv4(const std::string& host, const std::function<bool()>& abandon = {});

// Socket library start-up and clean-up per user object: counted, and on Linux a no-op.
bool SocketLibraryStartup();
void SocketLibraryCleanup();
// Number of start-ups not yet cleaned up (for checks of the start/stop rules).
int SocketLibraryUsers();

// One object's use of the socket library: at most one start-up held, released once.
class SocketLibraryUse {
public:
    SocketLibraryUse() = default;
    ~SocketLibraryUse() { Release(); }
    SocketLibraryUse(const SocketLibraryUse&) = delete;
    SocketLibraryUse& operator=(const SocketLibraryUse&) = delete;

    // Starts the library unless this object already holds it.
    bool Acquire() { return held_ || (held_ = SocketLibraryStartup()); }
    // Cleans up if held.
    void Release() {
        if (held_)
            SocketLibraryCleanup();
        held_ = false;
    }

private:
    bool held_ = false;
};

// Outcome of a bounded wait.
enum class WaitResult { Ready, Timeout, Woken, Error };

// A socket handle with its own wake signal; base of the three kinds below. Move-only.
class Socket {
public:
    static constexpr int INVALID_HANDLE = -1;

    Socket() = default;
    ~Socket();
    Socket(Socket&& other) noexcept;
    Socket& operator=(Socket&& other) noexcept;
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    // True while a handle is held.
    bool IsOpen() const { return handle_ != INVALID_HANDLE; }
    // The OS handle (INVALID_HANDLE when closed).
    int Handle() const { return handle_; }
    // Bound local port in host order; 0 when closed or unbound.
    uint16_t LocalPort() const;
    // Sets the kernel receive buffer size in bytes.
    bool SetReceiveBufferSize(int bytes);
    // Asks for a kernel receive buffer of `bytes`, past the system cap where the process is
    // allowed to, else up to the cap; the size the kernel granted, -1 on failure.
    int RequestReceiveBuffer(int bytes);
    // The kernel receive buffer size in bytes (as the kernel accounts it), -1 on failure.
    int ReceiveBufferSize() const;
    // Waits until readable, woken or the limit passes (WaitReadable with WAIT_FOREVER never times out).
    WaitResult WaitReadable(unsigned milliseconds);
    // Wakes every current and later wait on this socket at once; safe from any thread.
    void Wake();
    // Shuts both directions down (a peer sees the end; a blocked receive returns).
    void Shutdown();
    // Releases the handle; call only when no other thread uses the socket any more.
    void Close();

    static constexpr unsigned WAIT_FOREVER = 0xFFFFFFFFu;

protected:
    // Takes a fresh OS handle and creates the wake signal; false (handle closed) on failure.
    bool Adopt(int handle);
    // Waits for `events` (POLLIN and/or POLLOUT) on the handle and the wake signal.
    WaitResult WaitFor(short events, unsigned milliseconds);

private:
    int handle_ = INVALID_HANDLE;
    int wake_ = INVALID_HANDLE;
};

// Stream socket: a client connection or one accepted by TcpListener.
class TcpSocket : public Socket {
public:
    enum class ConnectState { Connected, Pending, Failed };

    // Creates an unconnected IPv4 stream socket.
    bool Create();
    // Starts a non-blocking connect; Pending means it is under way (see PollConnect).
    ConnectState StartConnect(uint32_t address, uint16_t port);
    // Waits up to the limit for a pending connect to finish; Failed when it was refused.
    ConnectState PollConnect(unsigned milliseconds);
    // Create, connect within the limit and return to blocking mode.
    bool Connect(uint32_t address, uint16_t port, unsigned milliseconds);
    // Switches blocking mode on or off.
    bool SetBlocking(bool blocking);
    // Bounds every blocking receive (0 = no bound).
    bool SetReceiveTimeout(unsigned milliseconds);
    // Bounds every blocking send (0 = no bound).
    // Disables send coalescing, so each send leaves as its own segment.
    bool SetNoDelay();
    // Sends every byte (retrying partial sends); false when any byte could not be sent.
    bool SendAll(const void* data, size_t size);
    // One receive: bytes read, 0 when the peer closed, -1 on error or receive time-out.
    int Receive(void* buffer, size_t size);
    // As Receive, after waiting up to the limit; -1 also on time-out or Wake.
    int ReceiveWithin(void* buffer, size_t size, unsigned milliseconds);
    // As SendAll, waiting at most the limit each time the peer does not take data; false also on
    // that time-out or Wake.
    bool SendAllWithin(const void* data, size_t size, unsigned milliseconds);

private:
    friend class TcpListener;
#if defined(_WIN32)
    bool blocking_ = true;  // the mode cannot be read back from the system
#endif
};

// Listening stream socket.
class TcpListener : public Socket {
public:
    // Binds to address:port (port 0 picks a free one) and listens.
    bool Listen(uint32_t address, uint16_t port, int backlog = 16);
    // Waits up to the limit for a connection; Ready fills `client` (in blocking mode).
    WaitResult Accept(TcpSocket& client, unsigned milliseconds);
};

// One slot of a batched datagram receive: the caller's buffer and what arrived in it.
struct ReceivedDatagram {
    uint8_t* data = nullptr;  // the caller's buffer of `capacity` bytes
    size_t capacity = 0;
    size_t length = 0;        // bytes stored (at most `capacity`)
    bool truncated = false;   // the datagram did not fit; its rest was lost
    InetAddress source;
};

// Datagram socket.
class UdpSocket : public Socket {
public:
    // Creates an IPv4 datagram socket bound to address:port (address 0 = all, port 0 = any free).
    bool Open(uint16_t port, uint32_t address = 0);
    // Receives one waiting datagram without blocking: its full length (which exceeds `size` and
    // sets `truncated` when the datagram did not fit and its rest was lost; Windows does not tell
    // that length and gives size + 1), -1 when none or error.
    int ReceiveFrom(void* buffer, size_t size, InetAddress& source, bool& truncated);
    // Receives up to `count` (at most MAX_BATCH) waiting datagrams in one call without blocking,
    // in arrival order, each into its slot; the number received, 0 when none waits, -1 on error.
    int ReceiveBatch(ReceivedDatagram* slots, size_t count);
    static constexpr size_t MAX_BATCH = 64;
    // Sends one datagram whole; false unless every byte left in it.
    bool SendTo(const void* data, size_t size, const InetAddress& destination);
};

}  // namespace norvane::platform
