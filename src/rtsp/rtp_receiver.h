// Receives RTP on one UDP port, or from whoever reads the packets elsewhere (RTP interleaved on an
// RTSP connection): parses each packet on the reading thread, queues the packets and hands them,
// in arrival order, to its user on a queue thread of its own.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <vector>

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
    // Handed-over packets are kept for reuse, so the steady stream allocates nothing; at most
    // this many, and none that held a datagram larger than the usual buffer. They are freed when
    // the receiver closes, so a channel holds no more than its current session's largest burst.
    static constexpr size_t MAX_SPARE_ITEMS = 128;

    explicit CRTPReceiver(IDriver* driver);
    ~CRTPReceiver() override;

    bool Open(uint16_t port);
    // Starts the queue without a socket: packets come through Deliver.
    bool OpenWithoutSocket();
    void Close();
    // Parses the packets, queues them under one lock and wakes the queue thread once.
    void Deliver(const Datagram* datagrams, size_t count);
    uint16_t GetPort();
    void SetUser(IRTPReceiverUser* newUser) { user = newUser; }
    IRTPClient* GetClient() const { return client.Get(); }

    size_t GetQueuedCount();
    size_t GetSpareCount();
    // Packets dropped because the queue was full, since construction.
    uint64_t GetDroppedCount() const { return dropped; }

    void OnDatagram(IRTPClient* from, const SocketAddress& source, const uint8_t* data,
                    uint32_t length) override;
    // Delivers the datagrams of the receiver's own socket.
    void OnDatagrams(IRTPClient* from, const Datagram* datagrams, size_t count) override;
    void OnWaitTimeout(IRTPClient* from) override;
    void OnSocketError(IRTPClient* from) override;

protected:
    void Run() override;

private:
    struct Item {
        SocketAddress source;
        CRTPPacket packet;
        size_t size = 0;  // datagram bytes, for the queue bound
    };
    static constexpr size_t CHUNK = CUDPClient::MAX_BATCH;  // items prepared at a time

    // Starts the queue thread, named after `source`.
    bool StartQueue(const std::string& source);
    // Fills `items` with up to `count` items, spare ones first; fewer if allocation fails.
    size_t TakeSpare(Item** items, size_t count);
    // Queues items[0, ready) in order, dropping the oldest beyond the bounds, and keeps
    // items[ready, count) as spare; true when the queue was empty before (the consumer takes
    // everything at each wake-up, so only then does it need waking).
    bool Append(Item** items, size_t ready, size_t count);
    // Moves every queued item, in order, into `taken`.
    void TakeAll(std::deque<Item*>& taken);
    // Keeps handed-over items as spare (within the bounds) and deletes the rest; empties `items`.
    void Recycle(std::deque<Item*>& items);
    void RecycleLocked(Item* item);
    void EmptyQueue();
    void DeleteSpare();

    TSmartPtr<IRTPClient> client;
    std::atomic<IRTPReceiverUser*> user{nullptr};
    CLock queueLock;
    std::deque<Item*> queue;
    std::vector<Item*> spare;  // under queueLock
    size_t queuedBytes = 0;
    std::atomic<uint64_t> dropped{0};
    // Mirrors "queue thread running and not told to stop" without a wait on the stop event,
    // whose zero-time wait may sleep for the timer slack: this is read once per packet.
    std::atomic<bool> accepting{false};
    CEvent queueEvent{false};
};

}  // namespace norvane
