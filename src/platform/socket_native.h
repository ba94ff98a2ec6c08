// What each socket back end gives the socket code both share: the OS calls that differ between
// them. Handles are the ints of socket.h; Native turns one into the OS's type.
#pragma once

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <sys/socket.h>
#endif

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/socket.h"

namespace norvane::platform {

#if defined(_WIN32)
using NativeSocket = SOCKET;
#else
using NativeSocket = int;
#endif

inline NativeSocket Native(int handle) { return static_cast<NativeSocket>(handle); }

inline const sockaddr* AsSockaddr(const InetAddress& address) {
    return reinterpret_cast<const sockaddr*>(&address);
}

inline sockaddr* AsSockaddr(InetAddress& address) { return reinterpret_cast<sockaddr*>(&address); }

inline bool SetIntOption(int handle, int level, int name, int value) {
    return ::setsockopt(Native(handle), level, name, reinterpret_cast<const char*>(&value),
                        sizeof(value)) == 0;
}

// First IPv4 address of a resolver's answer; 0 when none.
uint32_t FirstIPv4(const addrinfo* list);
// Address of dotted IPv4 text; 0 when the text is not one.
uint32_t DottedIPv4(const std::string& host);
// A new IPv4 socket of `type` (SOCK_STREAM or SOCK_DGRAM) that child processes do not inherit;
// Socket::INVALID_HANDLE on failure.
int NewSocketHandle(int type);
// Sets what a listening socket needs before it is bound.
bool PrepareListener(int handle);
// Sets what a datagram socket needs before it is bound.
bool PrepareDatagram(int handle);
// One send of up to `size` bytes in the socket's mode: the bytes sent, -1 on failure.
int SendSome(int handle, const uint8_t* bytes, size_t size);
// Receives one waiting datagram without blocking into `source` (zeroed by the caller); as
// UdpSocket::ReceiveFrom.
int ReceiveDatagram(int handle, void* buffer, size_t size, InetAddress& source, bool& truncated);

}  // namespace norvane::platform
