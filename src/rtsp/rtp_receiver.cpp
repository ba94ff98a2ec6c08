#include "rtsp/rtp_receiver.h"

#include <cstdio>
#include <new>

namespace norvane {

CRTPReceiver::CRTPReceiver(IDriver* driver) : CBaseThread(driver) {}

CRTPReceiver::~CRTPReceiver() { Close(); }

bool CRTPReceiver::Open(uint16_t port) {
    auto* udp = new (std::nothrow) CUDPClient(GetDriver());
    client.Assign(udp);
    if (udp) {
        // Set before the reader thread starts, which reads the buffer size once.
        udp->SetBufferSize(DATAGRAM_BUFFER_SIZE);
        udp->SetWaitTime(2, 0);
        if (udp->Open(this, port)) {
            EmptyQueue();
            char name[64];
            std::snprintf(name, sizeof(name), "RTP Packet Queue (%hu)", udp->GetPort());
            if (Start(name))
                return true;
        }
    }
    Close();
    return false;
}

void CRTPReceiver::Close() {
    StopEvent().Set();
    if (client) {
        client->Close();
        client.Assign(nullptr);
    }
    EmptyQueue();
    StopThread(2000);
}

uint16_t CRTPReceiver::GetPort() { return client ? client->GetPort() : 0; }

size_t CRTPReceiver::GetQueuedCount() {
    CLockGuard guard(queueLock);
    return queue.size();
}

void CRTPReceiver::OnDatagram(IRTPClient* from, const SocketAddress& source, const uint8_t* data,
                              uint32_t length) {
    if (from != client.Get())
        return;
    auto* item = new (std::nothrow) Item{source, CRTPPacket(), length};
    if (!item)
        return;
    if (!item->packet.Parse(data, length) || IsStopSignalled()) {
        delete item;
        return;
    }
    Append(item);
    queueEvent.Set();
}

void CRTPReceiver::Append(Item* item) {
    CLockGuard guard(queueLock);
    while (!queue.empty() &&
           (queue.size() >= MAX_QUEUED_PACKETS || queuedBytes + item->size > MAX_QUEUED_BYTES)) {
        queuedBytes -= queue.front()->size;
        delete queue.front();
        queue.pop_front();
        ++dropped;
    }
    queue.push_back(item);
    queuedBytes += item->size;
}

CRTPReceiver::Item* CRTPReceiver::TakeFirst(bool& empty) {
    CLockGuard guard(queueLock);
    Item* item = nullptr;
    if (!queue.empty()) {
        item = queue.front();
        queue.pop_front();
        queuedBytes -= item->size;
    }
    empty = queue.empty();
    return item;
}

void CRTPReceiver::EmptyQueue() {
    CLockGuard guard(queueLock);
    for (Item* item : queue)
        delete item;
    queue.clear();
    queuedBytes = 0;
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
    unsigned wait = 0;
    while (WaitForStopOrItem(&events, wait) != 0 && !IsStopSignalled()) {
        bool empty = true;
        if (Item* item = TakeFirst(empty)) {
            if (IRTPReceiverUser* current = user)
                current->OnPacketFrom(item->source, &item->packet);
            delete item;
        }
        wait = empty ? 1000 : 0;
    }
    EmptyQueue();
}

}  // namespace norvane
