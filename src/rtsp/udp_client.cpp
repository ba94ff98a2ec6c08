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

void CUDPClient::Run() {
    std::vector<uint8_t> buffer(std::min(bufferSize.load(), MAX_BUFFER_SIZE));
    // The stop event is tested before each wait and after each receive; Close, StopThread and
    // JoinThread also wake a wait in progress.
    while (!IsStopSignalled()) {
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
        ReceiveOne(buffer);
    }
}

void CUDPClient::ReceiveOne(std::vector<uint8_t>& buffer) {
    SocketAddress source;
    bool truncated = false;
    const int length = socket.ReceiveFrom(buffer.data(), buffer.size(), source, truncated);
    if (truncated) {
        // The datagram is lost; the next one gets a larger buffer.
        const uint32_t grown =
            std::min<uint32_t>(static_cast<uint32_t>(buffer.size()) + BUFFER_GROWTH, MAX_BUFFER_SIZE);
        bufferSize = grown;
        buffer.resize(grown);
        return;
    }
    IRTPClientUser* current = user;
    if (length > 0 && current)
        current->OnDatagram(this, source, buffer.data(), static_cast<uint32_t>(length));
}

}  // namespace norvane
