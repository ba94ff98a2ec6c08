#include "rtsp/udp_client.h"

#include <algorithm>
#include <string>

#include "foundation/idriver.h"

namespace norvane {

CUDPClient::CUDPClient(IDriver* driver) : CBaseThread(driver) {}

CUDPClient::~CUDPClient() {
    Close();
    StopThread(2000);
}

void CUDPClient::SetWaitTime(uint32_t seconds, uint32_t subSecond) {
    waitSeconds = seconds;
    waitMicroseconds = subSecond % 1000;
}

unsigned CUDPClient::WaitMilliseconds() const {
    return waitSeconds * 1000u + (waitMicroseconds + 999u) / 1000u;
}

bool CUDPClient::Open(IRTPClientUser* newUser, uint16_t localPort) {
    {
        CLockGuard guard(lock);
        user = newUser;
        if (!socket.IsOpen() && socketLibrary.Acquire() && socket.Open(localPort) &&
            RequestReceiveBuffer()) {
            port = socket.LocalPort();
            if (Start("UDP client thread, port " + std::to_string(port.load())))
                return true;
        }
    }
    Close();
    return false;
}

bool CUDPClient::RequestReceiveBuffer() {
    const int granted = socket.RequestReceiveBuffer(SOCKET_RECEIVE_BUFFER);
    receiveBufferSize = granted;
    GetDriver()->Log(LOG_DEBUG, "%s: Receive buffer of port %u: %d bytes asked, %d granted",
                     "norvane::CUDPClient::Open", unsigned{socket.LocalPort()},
                     SOCKET_RECEIVE_BUFFER, granted);
    return granted > 0;
}

bool CUDPClient::Close() {
    // The reader is woken and ended before the socket goes, so it never uses a closed handle.
    const unsigned limit = std::max(waitSeconds.load() + 1u, 5u) * 1000u;
    const bool stopped = StopThread(limit);
    CLockGuard guard(lock);
    if (socket.IsOpen()) {
        socket.Shutdown();
        port = 0;
        socket.Close();
        socketLibrary.Release();
        if (IRTPClientUser* current = user)
            current->OnSocketError(this);
    }
    return stopped;
}

void CUDPClient::WakeReader() {
    StopEvent().Set();
    CLockGuard guard(lock);
    socket.Wake();
}

bool CUDPClient::StopThread(unsigned milliseconds) {
    WakeReader();
    return CBaseThread::StopThread(milliseconds);
}

bool CUDPClient::JoinThread(unsigned milliseconds) {
    WakeReader();
    return CBaseThread::JoinThread(milliseconds);
}

bool CUDPClient::SendTo(const uint8_t* data, uint32_t length, const SocketAddress& destination) {
    CLockGuard guard(lock);
    return data && socket.SendTo(data, length, destination);
}

void CUDPClient::Batch::Resize(uint32_t slotSize) {
    slotSize_ = slotSize;
    const size_t count = std::clamp<size_t>(MAX_BATCH_BYTES / std::max<uint32_t>(slotSize, 1), 1, MAX_BATCH);
    bytes_.assign(count * size_t{slotSize}, 0);
    slots_.assign(count, {});
    for (size_t i = 0; i < count; ++i) {
        slots_[i].data = bytes_.data() + i * slotSize;
        slots_[i].capacity = slotSize;
    }
}

void CUDPClient::Run() {
    Batch batch(std::min(bufferSize.load(), MAX_BUFFER_SIZE));
    std::vector<Datagram> datagrams;
    datagrams.reserve(batch.Count());
    // The stop event is tested before each wait and after each receive; Close, StopThread and
    // JoinThread also wake a wait in progress. A full batch suggests more is waiting, so the
    // next receive is tried before waiting again.
    bool full = false;
    while (!IsStopSignalled()) {
        if (!full) {
            const platform::WaitResult waited = socket.WaitReadable(WaitMilliseconds());
            if (waited == platform::WaitResult::Woken || IsStopSignalled())
                break;
            IRTPClientUser* current = user;
            if (waited == platform::WaitResult::Error) {
                if (current)
                    current->OnSocketError(this);
                break;
            }
            if (waited == platform::WaitResult::Timeout) {
                if (current)
                    current->OnWaitTimeout(this);
                continue;
            }
        }
        full = ReceiveBatch(batch, datagrams);
    }
}

bool CUDPClient::ReceiveBatch(Batch& batch, std::vector<Datagram>& datagrams) {
    datagrams.clear();
    const size_t slots = batch.Count();
    const int received = socket.ReceiveBatch(batch.Slots(), slots);
    uint32_t truncated = 0;
    for (int i = 0; i < received; ++i) {
        const platform::ReceivedDatagram& slot = batch.Slots()[i];
        truncated += slot.truncated ? 1 : 0;
        if (!slot.truncated && slot.length > 0)
            datagrams.push_back({slot.source, slot.data, static_cast<uint32_t>(slot.length)});
    }
    // Each lost datagram makes the buffers of the next receives larger; the size is known
    // before the others are handed over, the buffers change after.
    if (truncated)
        bufferSize = static_cast<uint32_t>(
            std::min<size_t>(batch.SlotSize() + size_t{truncated} * BUFFER_GROWTH, MAX_BUFFER_SIZE));
    IRTPClientUser* current = user;
    if (!datagrams.empty() && current)
        current->OnDatagrams(this, datagrams.data(), datagrams.size());
    if (truncated)
        batch.Resize(bufferSize);
    return received > 0 && static_cast<size_t>(received) == slots;
}

}  // namespace norvane
