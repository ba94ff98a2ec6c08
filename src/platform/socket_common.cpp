// The parts of the socket classes both back ends share: addresses, moves, composed waits.
#include "platform/socket.h"

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#endif

#include <cstring>

namespace norvane::platform {

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

uint32_t ResolveIPv4(const std::string& host) {
    if (host.empty())
        return 0;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &list) != 0 || !list)
        return 0;
    uint32_t address = 0;
    for (const addrinfo* item = list; item; item = item->ai_next) {
        if (item->ai_family == AF_INET && item->ai_addr) {
            address = reinterpret_cast<const sockaddr_in*>(item->ai_addr)->sin_addr.s_addr;
            break;
        }
    }
    freeaddrinfo(list);
    return address;
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

WaitResult Socket::WaitReadable(unsigned milliseconds) { return WaitFor(POLLIN, milliseconds); }

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

int TcpSocket::ReceiveWithin(void* buffer, size_t size, unsigned milliseconds) {
    if (WaitReadable(milliseconds) != WaitResult::Ready)
        return -1;
    return Receive(buffer, size);
}

}  // namespace norvane::platform
