// Receiver side of RTCP for one RTP channel: learns the camera's RTCP address and sender
// reports, keeps the RTP reception statistics (RFC 3550 A.1, A.3, A.8), and once a sender
// report was seen sends compound receiver reports (RR and SDES CNAME) on the RFC 3550 interval
// and soon after camera RTCP, and RR, SDES and BYE when stopped.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "foundation/base_thread.h"
#include "foundation/event.h"
#include "foundation/lock.h"
#include "rtsp/rtcp_report_schedule.h"
#include "rtsp/udp_client.h"

namespace norvane {

// Told of each BYE the camera sends, on the RTCP reader thread.
class IRTCPByeUser {
public:
    virtual ~IRTCPByeUser() = default;
    // `sources`: the SSRCs the BYE names, in network order.
    virtual void OnBye(const std::vector<uint32_t>& sources) = 0;
};

// Carries the handler's reports where they do not go over its own UDP port (RTCP interleaved on
// the RTSP connection); called on the handler's thread and by Stop.
class IRTCPSender {
public:
    virtual ~IRTCPSender() = default;
    // True when the packet went out whole.
    virtual bool SendRtcp(const uint8_t* data, size_t length) = 0;
};

class CRTCPHandler : public CBaseThread, public IRTPClientUser {
public:
    static constexpr uint32_t DATAGRAM_BUFFER_SIZE = 1536;
    static constexpr size_t RECEIVER_REPORT_SIZE = 32;
    static constexpr size_t BYE_SIZE = 8;
    static constexpr uint32_t DEFAULT_CLOCK_RATE = 90000;  // every RTP video format (RFC 3551)
    static constexpr uint32_t IDLE_WAIT_MS = 10000;

    // Reception statistics (RFC 3550 A.1, A.3, A.8). The base sequence is the first number
    // minus one, so the expected count is the extended highest number minus it.
    struct SequenceState {
        uint16_t maxSeq = 0;
        uint32_t cycles = 0;
        uint32_t baseSeq = 0;
        uint32_t badSeq = 0;
        uint32_t probation = 0;
        uint32_t received = 0;
        uint32_t expectedPrior = 0;  // at the last report
        uint32_t receivedPrior = 0;
        bool transitKnown = false;
        uint32_t transit = 0;  // of the last packet: arrival - RTP timestamp, in clock units
        uint64_t jitter = 0;   // times 16
    };

    explicit CRTCPHandler(IDriver* driver);
    ~CRTCPHandler() override;

    // Opens the RTCP port and starts the thread; RTCP from addresses other than `cameraAddress`
    // (IPv4, network order) is ignored.
    bool Start(uint16_t port, uint32_t cameraAddress);
    // Starts the thread without a port: RTCP comes through OnInterleaved, reports go to `sender`.
    bool StartInterleaved(IRTCPSender* sender);
    void Stop();
    // Set before Start; null for none.
    void SetByeUser(IRTCPByeUser* user) { byeUser = user; }
    uint16_t GetPort() { return udpClient.GetPort(); }

    // Called for every accepted RTP packet with its arrival time (platform::SteadyUs).
    void OnRtpPacket(uint16_t sequence, uint32_t timestamp, uint64_t arrivalUs);
    // RTP clock rate of the stream (from the SDP); 0 means the default.
    void SetClockRate(uint32_t hz);

    // The compound report: RR and SDES CNAME. Each build starts a new loss interval.
    std::vector<uint8_t> BuildReceiverReport();
    // As BuildReceiverReport, with `nowMs` (steady milliseconds) as the current time.
    std::vector<uint8_t> BuildReceiverReportAt(uint32_t nowMs);
    uint32_t GetLastPacketTime();
    // The compound goodbye: RR, SDES CNAME and BYE.
    std::vector<uint8_t> BuildBye();
    SequenceState GetSequenceState();
    uint32_t GetExtendedHighestSequence();
    uint32_t GetOwnSsrc() const { return ownSsrc; }
    const std::string& GetCname() const { return cname; }
    bool IsReporting() const { return reporting; }
    SocketAddress GetDestination();

    void OnDatagram(IRTPClient* client, const SocketAddress& source, const uint8_t* data,
                    uint32_t length) override;
    // One RTCP packet of the camera that arrived on the RTSP connection.
    void OnInterleaved(const uint8_t* data, uint32_t length);
    void OnWaitTimeout(IRTPClient*) override {}
    void OnSocketError(IRTPClient*) override {}

protected:
    void Run() override;

private:
    using CBaseThread::Start;  // the thread is started only through Start(port, camera)

    static constexpr uint32_t NO_SEQUENCE = 65537;
    static uint32_t ChooseSsrc();
    static std::string ChooseCname();
    // Starts the reporting thread on a new connection.
    bool StartThread();
    void SendToDestination(const std::vector<uint8_t>& packet);
    // A packet of the camera: a BYE is reported, a sender report starts the reports (to
    // `source` over UDP).
    void Take(const SocketAddress& source, const uint8_t* data, uint32_t length);
    void ReportBye(const uint8_t* data, uint32_t length);
    // Compound packet of RR, SDES and, with `bye`, BYE (takes the lock).
    std::vector<uint8_t> BuildCompound(uint32_t nowMs, bool bye);
    // Appends a packet of `size` bytes (under the lock) with its common header: header byte
    // with count 1, type, length, own SSRC; returns its first byte.
    uint8_t* AppendPacket(std::vector<uint8_t>& out, size_t size, uint8_t type) const;
    void AppendReceiverReport(std::vector<uint8_t>& out, uint32_t nowMs);
    void AppendSdes(std::vector<uint8_t>& out) const;
    // RFC 3550 A.1 init_seq, with A.3's priors and A.8's jitter started again.
    void RestartSequence(uint16_t s);
    // RFC 3550 A.8, with the arrival time in the stream's clock units.
    void UpdateJitter(uint32_t timestamp, uint64_t arrivalUs);

    CUDPClient udpClient;
    std::atomic<uint32_t> cameraAddress{0};
    IRTCPByeUser* byeUser = nullptr;
    std::atomic<IRTCPSender*> sender{nullptr};  // set while started interleaved
    std::atomic<bool> reporting{false};
    bool sequenceStarted = false;
    CEvent reportEvent{false};
    CLock lock;
    SocketAddress destination;
    uint32_t lastPacketTime = 0;  // steady ms
    uint8_t headerByte = 0;
    SequenceState sequence;
    uint32_t clockRate = DEFAULT_CLOCK_RATE;
    const uint32_t ownSsrc;
    const std::string cname;
    CRTCPReportSchedule schedule;  // the handler thread's; Start restarts it before the thread
    uint8_t senderSsrc[4] = {};
    uint8_t lastSrTimestamp[4] = {};
};

}  // namespace norvane
