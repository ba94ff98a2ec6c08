// Receives RTP on one UDP port: parses each datagram on the socket thread, queues the packets
// and hands them, in arrival order, to its user on a queue thread of its own.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>

#include "foundation/base_thread.h"
#include "foundation/event.h"
#include "foundation/lock.h"
#include "foundation/smart_ptr.h"
#include "rtsp/rtp_packet.h"
#include "rtsp/udp_client.h"

namespace norvane {

class IRTPReceiverUser {
public:
    virtual ~IRTPReceiverUser() = default;
    virtual void OnPacket(CRTPPacket* packet) = 0;
    // Called on the queue thread; the packet is valid only during the call.
    virtual void OnPacketFrom(const SocketAddress& source, CRTPPacket* packet) = 0;
    virtual void OnReceiveTimeout() = 0;
    virtual void OnReceiveError() = 0;
};

class CRTPReceiver : public IRTPClientUser, public CBaseThread {
public:
    // The queue is bounded so that a sender faster than the consumer cannot grow memory: when
    // either limit would be passed, the oldest packets are dropped (the newest matter most for
    // live video, and a depacketiser recovers at the next frame).
    static constexpr size_t MAX_QUEUED_PACKETS = 4096;
    static constexpr size_t MAX_QUEUED_BYTES = 8u << 20;  // datagram bytes
    static constexpr uint32_t DATAGRAM_BUFFER_SIZE = 1536;

    explicit CRTPReceiver(IDriver* driver);
    ~CRTPReceiver() override;

    bool Open(uint16_t port);
    void Close();
    uint16_t GetPort();
    void SetUser(IRTPReceiverUser* newUser) { user = newUser; }
    IRTPClient* GetClient() const { return client.Get(); }

    size_t GetQueuedCount();
    // Packets dropped because the queue was full, since construction.
    uint64_t GetDroppedCount() const { return dropped; }

    void OnDatagram(IRTPClient* from, const SocketAddress& source, const uint8_t* data,
                    uint32_t length) override;
    void OnWaitTimeout(IRTPClient* from) override;
    void OnSocketError(IRTPClient* from) override;

protected:
    void Run() override;

private:
    struct Item {
        SocketAddress source;
        CRTPPacket packet;
        size_t size;  // datagram bytes, for the queue bound
    };

    void Append(Item* item);
    // Takes the first item; `empty` tells whether the queue is empty afterwards.
    Item* TakeFirst(bool& empty);
    void EmptyQueue();

    TSmartPtr<IRTPClient> client;
    std::atomic<IRTPReceiverUser*> user{nullptr};
    CLock queueLock;
    std::deque<Item*> queue;
    size_t queuedBytes = 0;
    std::atomic<uint64_t> dropped{0};
    CEvent queueEvent{false};
};

}  // namespace norvane
