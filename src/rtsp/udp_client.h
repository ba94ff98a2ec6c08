// One bound UDP socket with its own reader thread, handing each datagram to the user that opened
// it.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "foundation/base_thread.h"
#include "foundation/lock.h"
#include "platform/socket.h"

namespace norvane {

using SocketAddress = platform::InetAddress;  // 16-byte IPv4 socket address

class IRTPClientUser;

// One received datagram as handed to a user; `data` is valid only during the call.
struct Datagram {
    SocketAddress source;
    const uint8_t* data = nullptr;
    uint32_t length = 0;
};

class IRTPClient {
public:
    virtual ~IRTPClient() = default;
    // Binds to the local port and starts the reader thread.
    virtual bool Open(IRTPClientUser* user, uint16_t port) = 0;
    // Stops reading, closes the socket, stops the thread.
    virtual bool Close() = 0;
    // Datagram buffer size of the reader thread, read when the thread starts.
    virtual void SetBufferSize(uint32_t bytes) = 0;
    // Time-out of each wait for data; the second value (modulo 1000) is microseconds.
    virtual void SetWaitTime(uint32_t seconds, uint32_t subSecond) = 0;
    // Bound local port, 0 when closed.
    virtual uint16_t GetPort() = 0;
};

class IRTPClientUser {
public:
    virtual ~IRTPClientUser() = default;
    // On the reader thread; `data` is valid only during the call.
    virtual void OnDatagram(IRTPClient* client, const SocketAddress& source, const uint8_t* data,
                            uint32_t length) = 0;
    // On the reader thread: the datagrams one receive call brought, in arrival order. A user
    // that can take them together (one lock, one wake-up) overrides this.
    virtual void OnDatagrams(IRTPClient* client, const Datagram* datagrams, size_t count) {
        for (size_t i = 0; i < count; ++i)
            OnDatagram(client, datagrams[i].source, datagrams[i].data, datagrams[i].length);
    }
    virtual void OnWaitTimeout(IRTPClient* client) = 0;
    virtual void OnSocketError(IRTPClient* client) = 0;
};

class CUDPClient : public CBaseThread, public IRTPClient {
public:
    static constexpr uint32_t MAX_BUFFER_SIZE = 65535;
    static constexpr uint32_t BUFFER_GROWTH = 1024;
    // Datagrams taken by one receive call at most, and the bytes of all their buffers at most
    // (fewer slots when the datagram buffer has grown).
    static constexpr size_t MAX_BATCH = 32;
    static constexpr size_t MAX_BATCH_BYTES = 64 << 10;
    // Kernel receive buffer asked for: a key-frame or backlog burst of a 16 Mbit/s stream
    // (a second of it, with the kernel's per-datagram overhead) waits there for the reader.
    static constexpr int SOCKET_RECEIVE_BUFFER = 4 << 20;

    explicit CUDPClient(IDriver* driver);
    ~CUDPClient() override;

    bool Open(IRTPClientUser* user, uint16_t port) override;
    bool Close() override;
    void SetBufferSize(uint32_t bytes) override { bufferSize = bytes; }
    void SetWaitTime(uint32_t seconds, uint32_t subSecond) override;
    uint16_t GetPort() override { return port; }

    // One datagram to `destination`; true when it was sent whole.
    bool SendTo(const uint8_t* data, uint32_t length, const SocketAddress& destination);
    uint32_t GetBufferSize() const { return bufferSize; }
    // Kernel receive buffer the socket was granted at Open (0 before).
    int GetReceiveBufferSize() const { return receiveBufferSize; }

    // Both also wake the reader, which ends on its stop event without waiting for data.
    bool StopThread(unsigned milliseconds) override;
    bool JoinThread(unsigned milliseconds) override;

protected:
    void Run() override;

private:
    unsigned WaitMilliseconds() const;
    // Ends the reader's current and later waits at once.
    void WakeReader();
    // Asks for SOCKET_RECEIVE_BUFFER and logs what the kernel granted.
    bool RequestReceiveBuffer();
    // The receive buffers of one batch, `bufferSize` bytes each.
    class Batch {
    public:
        explicit Batch(uint32_t slotSize) { Resize(slotSize); }
        void Resize(uint32_t slotSize);
        uint32_t SlotSize() const { return slotSize_; }
        platform::ReceivedDatagram* Slots() { return slots_.data(); }
        size_t Count() const { return slots_.size(); }

    private:
        uint32_t slotSize_ = 0;
        std::vector<uint8_t> bytes_;
        std::vector<platform::ReceivedDatagram> slots_;
    };

    // Receives what waits, up to one batch, and hands it to the user; true when the batch was
    // full. A datagram that did not fit is lost and grows the buffers by BUFFER_GROWTH.
    bool ReceiveBatch(Batch& batch, std::vector<Datagram>& datagrams);

    CLock lock;  // serialises open, close and sends
    // Stored by Open under the lock while a reader of an earlier Open may still call it.
    std::atomic<IRTPClientUser*> user{nullptr};
    platform::UdpSocket socket;
    platform::SocketLibraryUse socketLibrary;
    std::atomic<uint16_t> port{0};
    std::atomic<int> receiveBufferSize{0};
    std::atomic<uint32_t> bufferSize{8192};
    std::atomic<uint32_t> waitSeconds{2};
    std::atomic<uint32_t> waitMicroseconds{0};
};

}  // namespace norvane
