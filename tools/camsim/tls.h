// Server side of TLS over a platform socket, with a self-signed certificate made in memory.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

#include "platform/socket.h"

namespace camsim {

// Certificate, key and settings shared by every TLS connection of one server.
class TlsContext {
public:
    // A fresh key and a one-day self-signed certificate; null when that fails.
    static std::shared_ptr<TlsContext> CreateSelfSigned();
    ~TlsContext();
    TlsContext(const TlsContext&) = delete;
    TlsContext& operator=(const TlsContext&) = delete;

private:
    friend class TlsStream;
    struct Impl;
    explicit TlsContext(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// One accepted connection. Every wait on the socket is bounded by `waitMs` and ends on Wake.
class TlsStream {
public:
    TlsStream(const TlsContext& context, norvane::platform::TcpSocket& socket, unsigned waitMs);
    ~TlsStream();
    TlsStream(const TlsStream&) = delete;
    TlsStream& operator=(const TlsStream&) = delete;

    // Runs the handshake; `received` are bytes already read from the socket.
    bool Accept(std::string_view received);
    // Decrypted bytes, 0 when the peer closed, -1 on error, time-out or Wake.
    int Receive(void* buffer, size_t size);
    bool Send(const void* data, size_t size);

private:
    bool Flush();
    bool Feed();

    struct Impl;
    std::unique_ptr<Impl> impl_;
    norvane::platform::TcpSocket& socket_;
    unsigned waitMs_;
};

}  // namespace camsim
