#include "rtsp/rtp_receiver.h"

#include <algorithm>
#include <new>
#include <string>

#include "platform/system.h"

namespace norvane {

CRTPReceiver::CRTPReceiver(IDriver* driver) : CBaseThread(driver) {}

CRTPReceiver::~CRTPReceiver() {
    Close();
    DeleteSpare();
}

bool CRTPReceiver::Open(uint16_t port) {
    auto* udp = new (std::nothrow) CUDPClient(GetDriver());
    client.Assign(udp);
    if (udp) {
        // Set before the reader thread starts, which reads the buffer size once.
        udp->SetBufferSize(DATAGRAM_BUFFER_SIZE);
        udp->SetWaitTime(2, 0);
        if (udp->Open(this, port) && StartQueue(std::to_string(udp->GetPort())))
            return true;
    }
    Close();
    return false;
}

bool CRTPReceiver::OpenWithoutSocket() {
    if (StartQueue("interleaved"))
        return true;
    Close();
    return false;
}

bool CRTPReceiver::StartQueue(const std::string& source) {
    EmptyQueue();
    accepting = true;
    return Start("RTP Packet Queue (" + source + ")");
}

void CRTPReceiver::Close() {
    accepting = false;
    StopEvent().Set();
    if (client) {
        client->Close();
        client.Assign(nullptr);
    }
    EmptyQueue();
    StopThread(2000);
    DeleteSpare();
}

uint16_t CRTPReceiver::GetPort() { return client ? client->GetPort() : 0; }

size_t CRTPReceiver::GetQueuedCount() {
    CLockGuard guard(queueLock);
    return queue.size();
}

size_t CRTPReceiver::GetSpareCount() {
    CLockGuard guard(queueLock);
    return spare.size();
}

void CRTPReceiver::OnDatagram(IRTPClient* from, const SocketAddress& source, const uint8_t* data,
                              uint32_t length) {
    const Datagram one{source, data, length};
    OnDatagrams(from, &one, 1);
}

void CRTPReceiver::OnDatagrams(IRTPClient* from, const Datagram* datagrams, size_t count) {
    if (from == client.Get())
        Deliver(datagrams, count);
}

void CRTPReceiver::Deliver(const Datagram* datagrams, size_t count) {
    // One reading for the batch: its datagrams were read together (RTCP jitter statistics).
    const uint64_t arrivalUs = platform::SteadyUs();
    for (size_t done = 0; done < count && accepting;) {
        Item* items[CHUNK];
        const size_t got = TakeSpare(items, std::min(count - done, CHUNK));
        if (got == 0)
            return;
        // Parsed items move to the front, in arrival order; malformed ones go back as spare.
        size_t ready = 0;
        for (size_t i = 0; i < got; ++i) {
            const Datagram& datagram = datagrams[done + i];
            Item* item = items[i];
            if (!item->packet.Parse(datagram.data, datagram.length))
                continue;
            item->packet.SetArrivalUs(arrivalUs);
            item->source = datagram.source;
            item->size = datagram.length;
            std::swap(items[ready++], items[i]);
        }
        done += got;
        if (Append(items, ready, got) && ready > 0)
            queueEvent.Set();
    }
}

size_t CRTPReceiver::TakeSpare(Item** items, size_t count) {
    size_t got = 0;
    {
        CLockGuard guard(queueLock);
        for (; got < count && !spare.empty(); ++got) {
            items[got] = spare.back();
            spare.pop_back();
        }
    }
    for (; got < count; ++got)
        if (!(items[got] = new (std::nothrow) Item))
            break;
    return got;
}

bool CRTPReceiver::Append(Item** items, size_t ready, size_t count) {
    CLockGuard guard(queueLock);
    const bool wasEmpty = queue.empty();
    for (size_t i = ready; i < count; ++i)
        RecycleLocked(items[i]);
    for (size_t i = 0; i < ready; ++i) {
        Item* item = items[i];
        while (!queue.empty() && (queue.size() >= MAX_QUEUED_PACKETS ||
                                  queuedBytes + item->size > MAX_QUEUED_BYTES)) {
            queuedBytes -= queue.front()->size;
            RecycleLocked(queue.front());
            queue.pop_front();
            ++dropped;
        }
        queue.push_back(item);
        queuedBytes += item->size;
    }
    return wasEmpty;
}

void CRTPReceiver::TakeAll(std::deque<Item*>& taken) {
    CLockGuard guard(queueLock);
    taken.swap(queue);
    queuedBytes = 0;
}

void CRTPReceiver::Recycle(std::deque<Item*>& items) {
    CLockGuard guard(queueLock);
    for (Item* item : items)
        RecycleLocked(item);
    items.clear();
}

void CRTPReceiver::RecycleLocked(Item* item) {
    if (spare.size() < MAX_SPARE_ITEMS && item->size <= DATAGRAM_BUFFER_SIZE)
        spare.push_back(item);
    else
        delete item;
}

void CRTPReceiver::EmptyQueue() {
    CLockGuard guard(queueLock);
    for (Item* item : queue)
        RecycleLocked(item);
    queue.clear();
    queuedBytes = 0;
}

void CRTPReceiver::DeleteSpare() {
    CLockGuard guard(queueLock);
    for (Item* item : spare)
        delete item;
    spare.clear();
}

void CRTPReceiver::OnWaitTimeout(IRTPClient* from) {
    IRTPReceiverUser* current = user;
    if (from == client.Get() && current)
        current->OnReceiveTimeout();
}

void CRTPReceiver::OnSocketError(IRTPClient* from) {
    IRTPReceiverUser* current = user;
    if (from == client.Get() && current)
        current->OnReceiveError();
}

void CRTPReceiver::Run() {
    const EventPair events{&StopEvent(), &queueEvent};
    std::deque<Item*> taken;
    while (WaitForStopOrItem(&events, 1000) != 0 && accepting) {
        // Everything queued is taken under one lock: one lock round per wake-up rather than per
        // packet keeps the socket thread from waiting on the consumer.
        TakeAll(taken);
        for (Item* item : taken) {
            IRTPReceiverUser* current = user;
            if (current && accepting)
                current->OnPacketFrom(item->source, &item->packet);
        }
        Recycle(taken);
    }
    EmptyQueue();
}

}  // namespace norvane
