#include "rtsp/rtcp_handler.h"

#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/system.h"
#include "rtsp/rtcp_bye.h"

namespace norvane {

namespace {

constexpr uint8_t RTCP_SR = 200;
constexpr uint8_t RTCP_RR = 201;
constexpr uint8_t RTCP_BYE = 203;
constexpr uint32_t MIN_ACCEPTED_LENGTH = 15;
constexpr uint16_t MAX_DROPOUT = 3000;
constexpr uint16_t MAX_MISORDER = 100;

void PutU16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

void PutU32(uint8_t* p, uint32_t v) {
    PutU16(p, static_cast<uint16_t>(v >> 16));
    PutU16(p + 2, static_cast<uint16_t>(v));
}

}  // namespace

CRTCPHandler::CRTCPHandler(IDriver* driver)
    : CBaseThread(driver), udpClient(driver), ownSsrc(ChooseSsrc()) {
    udpClient.SetWaitTime(1, 0);
    udpClient.SetBufferSize(DATAGRAM_BUFFER_SIZE);
}

CRTCPHandler::~CRTCPHandler() { Stop(); }

uint32_t CRTCPHandler::ChooseSsrc() {
    uint32_t ssrc = 0;
    platform::RandomBytes(reinterpret_cast<uint8_t*>(&ssrc), sizeof(ssrc));
    if (ssrc == 0) {
        std::srand(static_cast<unsigned>(std::time(nullptr)));
        ssrc = static_cast<uint32_t>(std::rand());
    }
    return ssrc;
}

bool CRTCPHandler::Start(uint16_t port, uint32_t camera) {
    if (udpClient.GetPort() != 0 || camera == 0)
        return false;
    cameraAddress = camera;
    if (!udpClient.Open(this, port))
        return false;
    udpClient.SetWaitTime(1, 0);
    if (CBaseThread::Start("RTCP Handler Thread"))
        return true;
    udpClient.Close();
    return false;
}

void CRTCPHandler::Stop() {
    StopEvent().Set();
    if (reporting)
        SendToDestination(BuildBye());
    reporting = false;
    udpClient.Close();
    StopThread(5000);
}

void CRTCPHandler::SendToDestination(const std::vector<uint8_t>& packet) {
    SocketAddress to;
    {
        CLockGuard guard(lock);
        to = destination;
    }
    if (!udpClient.SendTo(packet.data(), static_cast<uint32_t>(packet.size()), to))
        reporting = false;
}

void CRTCPHandler::OnDatagram(IRTPClient*, const SocketAddress& source, const uint8_t* data,
                              uint32_t length) {
    if (source.address != cameraAddress || !data)
        return;
    ReportBye(data, length);
    if (length < MIN_ACCEPTED_LENGTH)
        return;
    {
        CLockGuard guard(lock);
        if (!reporting) {
            destination = source;
            if (data[1] == RTCP_SR)
                reporting = true;
        }
        headerByte = data[0] & 0xC0;
        std::memcpy(senderSsrc, data + 4, 4);
        std::memcpy(lastSrTimestamp, data + 10, 4);
        lastPacketTime = platform::SteadyMs();
    }
    reportEvent.Set();
}

void CRTCPHandler::Run() {
    const EventPair events{&StopEvent(), &reportEvent};
    // The wait takes the report event's signal (automatic reset); no later reset, so a datagram
    // accepted while this report is built and sent signals again and gets its own report.
    while (!IsStopSignalled()) {
        if (WaitForStopOrItem(&events, 10000) != 1)
            continue;
        const std::vector<uint8_t> report = BuildReceiverReport();
        if (reporting)
            SendToDestination(report);
    }
}

std::vector<uint8_t> CRTCPHandler::BuildReceiverReport() {
    return BuildReceiverReportAt(platform::SteadyMs());
}

uint32_t CRTCPHandler::GetLastPacketTime() {
    CLockGuard guard(lock);
    return lastPacketTime;
}

std::vector<uint8_t> CRTCPHandler::StartPacket(size_t size, uint8_t type) const {
    std::vector<uint8_t> packet(size, 0);
    packet[0] = headerByte | 1;  // version as received, one report block or source
    packet[1] = type;
    PutU16(&packet[2], static_cast<uint16_t>(size / 4 - 1));
    PutU32(&packet[4], ownSsrc);
    return packet;
}

std::vector<uint8_t> CRTCPHandler::BuildReceiverReportAt(uint32_t nowMs) {
    CLockGuard guard(lock);
    std::vector<uint8_t> rr = StartPacket(RECEIVER_REPORT_SIZE, RTCP_RR);
    std::memcpy(&rr[8], senderSsrc, 4);
    PutU32(&rr[16], sequence.cycles + sequence.maxSeq);
    std::memcpy(&rr[24], lastSrTimestamp, 4);
    uint32_t delay = 0;
    if (lastPacketTime != 0) {
        const uint64_t elapsedMs = static_cast<uint32_t>(nowMs - lastPacketTime);
        delay = static_cast<uint32_t>(elapsedMs * 65536u / 1000u);
    }
    PutU32(&rr[28], delay);
    return rr;
}

std::vector<uint8_t> CRTCPHandler::BuildBye() {
    CLockGuard guard(lock);
    return StartPacket(BYE_SIZE, RTCP_BYE);
}

void CRTCPHandler::RestartSequence(uint16_t s, uint32_t received) {
    sequence.baseSeq = static_cast<uint32_t>(s) - 1;
    sequence.maxSeq = s;
    sequence.badSeq = NO_SEQUENCE;
    sequence.cycles = 0;
    sequence.received = received;
}

void CRTCPHandler::OnRtpSequence(uint16_t s) {
    CLockGuard guard(lock);
    if (!sequenceStarted) {
        sequenceStarted = true;
        RestartSequence(s, 0);
    }
    const uint16_t udelta = static_cast<uint16_t>(s - sequence.maxSeq);
    if (udelta < MAX_DROPOUT) {
        if (s < sequence.maxSeq)
            sequence.cycles += 65536;
        sequence.maxSeq = s;
        ++sequence.received;
    } else if (udelta <= 65536 - MAX_MISORDER) {
        if (s == sequence.badSeq) {
            RestartSequence(s, 1);
        } else {
            sequence.badSeq = (static_cast<uint32_t>(s) + 1) & 0xFFFF;
        }
    } else {
        ++sequence.received;
    }
}

CRTCPHandler::SequenceState CRTCPHandler::GetSequenceState() {
    CLockGuard guard(lock);
    return sequence;
}

uint32_t CRTCPHandler::GetExtendedHighestSequence() {
    CLockGuard guard(lock);
    return sequence.cycles + sequence.maxSeq;
}

SocketAddress CRTCPHandler::GetDestination() {
    CLockGuard guard(lock);
    return destination;
}

void CRTCPHandler::ReportBye(const uint8_t* data, uint32_t length) {
    const std::vector<uint32_t> sources = RtcpByeSources(data, length);
    if (byeUser && !sources.empty())
        byeUser->OnBye(sources);
}

}  // namespace norvane
