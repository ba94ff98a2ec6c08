// Receiver side of RTCP for one RTP channel: learns the camera's RTCP address and sender
// reports, keeps the RTP sequence statistics, answers each camera RTCP datagram with a receiver
// report once a sender report was seen, and sends BYE when stopped.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "foundation/base_thread.h"
#include "foundation/event.h"
#include "foundation/lock.h"
#include "rtsp/udp_client.h"

namespace norvane {

// Told of each BYE the camera sends, on the RTCP reader thread.
class IRTCPByeUser {
public:
    virtual ~IRTCPByeUser() = default;
    // `sources`: the SSRCs the BYE names, in network order.
    virtual void OnBye(const std::vector<uint32_t>& sources) = 0;
};

class CRTCPHandler : public CBaseThread, public IRTPClientUser {
public:
    static constexpr uint32_t DATAGRAM_BUFFER_SIZE = 1536;
    static constexpr size_t RECEIVER_REPORT_SIZE = 32;
    static constexpr size_t BYE_SIZE = 8;

    // Sequence statistics (RFC 3550 A.1).
    struct SequenceState {
        uint16_t maxSeq = 0;
        uint32_t cycles = 0;
        uint32_t baseSeq = 0;
        uint32_t badSeq = 0;
        uint32_t probation = 0;
        uint32_t received = 0;
    };

    explicit CRTCPHandler(IDriver* driver);
    ~CRTCPHandler() override;

    // Opens the RTCP port and starts the thread; RTCP from addresses other than `cameraAddress`
    // (IPv4, network order) is ignored.
    bool Start(uint16_t port, uint32_t cameraAddress);
    void Stop();
    // Set before Start; null for none.
    void SetByeUser(IRTCPByeUser* user) { byeUser = user; }
    uint16_t GetPort() { return udpClient.GetPort(); }

    // Called for every accepted RTP packet.
    void OnRtpSequence(uint16_t sequence);

    std::vector<uint8_t> BuildReceiverReport();
    // As BuildReceiverReport, with `nowMs` (steady milliseconds) as the current time.
    std::vector<uint8_t> BuildReceiverReportAt(uint32_t nowMs);
    uint32_t GetLastPacketTime();
    std::vector<uint8_t> BuildBye();
    SequenceState GetSequenceState();
    uint32_t GetExtendedHighestSequence();
    uint32_t GetOwnSsrc() const { return ownSsrc; }
    bool IsReporting() const { return reporting; }
    SocketAddress GetDestination();

    void OnDatagram(IRTPClient* client, const SocketAddress& source, const uint8_t* data,
                    uint32_t length) override;
    void OnWaitTimeout(IRTPClient*) override {}
    void OnSocketError(IRTPClient*) override {}

protected:
    void Run() override;

private:
    using CBaseThread::Start;  // the thread is started only through Start(port, camera)

    static constexpr uint32_t NO_SEQUENCE = 65537;
    static uint32_t ChooseSsrc();
    void SendToDestination(const std::vector<uint8_t>& packet);
    void ReportBye(const uint8_t* data, uint32_t length);
    // Common header of the packets sent (under the lock): header byte, type, length, own SSRC.
    std::vector<uint8_t> StartPacket(size_t size, uint8_t type) const;
    // RFC 3550 A.1 init_seq, with the received count given.
    void RestartSequence(uint16_t s, uint32_t received);

    CUDPClient udpClient;
    std::atomic<uint32_t> cameraAddress{0};
    IRTCPByeUser* byeUser = nullptr;
    std::atomic<bool> reporting{false};
    bool sequenceStarted = false;
    CEvent reportEvent{false};
    CLock lock;
    SocketAddress destination;
    uint32_t lastPacketTime = 0;  // steady ms
    uint8_t headerByte = 0;
    SequenceState sequence;
    const uint32_t ownSsrc;
    uint8_t senderSsrc[4] = {};
    uint8_t lastSrTimestamp[4] = {};
};

}  // namespace norvane
