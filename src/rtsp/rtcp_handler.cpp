#include "rtsp/rtcp_handler.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "http/base64.h"
#include "platform/system.h"
#include "rtsp/rtcp_bye.h"

namespace norvane {

namespace {

constexpr uint8_t RTCP_SR = 200;
constexpr uint8_t RTCP_RR = 201;
constexpr uint8_t RTCP_SDES = 202;
constexpr uint8_t RTCP_BYE = 203;
constexpr uint8_t SDES_CNAME = 1;
constexpr size_t CNAME_RANDOM_BYTES = 12;          // RFC 7022: 96 random bits, Base64 encoded
constexpr int32_t MAX_CUMULATIVE_LOST = 0x7FFFFF;  // the signed 24-bit field's range
constexpr int32_t MIN_CUMULATIVE_LOST = -0x800000;
constexpr uint32_t MIN_ACCEPTED_LENGTH = 15;
constexpr uint16_t MAX_DROPOUT = 3000;
constexpr uint16_t MAX_MISORDER = 100;

// RFC 3550 6.4.1, the start of a sender report:
//  0                   1                   2                   3
//  0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1
// +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
// |V=2|P|    RC   |   PT=SR=200   |             length            |
// +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
// |                         SSRC of sender                        |
// +=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+=+
// |              NTP timestamp, most significant word             |
// +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
// |             NTP timestamp, least significant word             |
// The report's LSR field is the middle 32 bits of the NTP timestamp.
constexpr uint8_t VERSION_BITS = 0xC0;
constexpr size_t PACKET_TYPE_AT = 1;
constexpr size_t SENDER_SSRC_AT = 4;
constexpr size_t NTP_MIDDLE_AT = 10;

void PutU16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

void PutU32(uint8_t* p, uint32_t v) {
    PutU16(p, static_cast<uint16_t>(v >> 16));
    PutU16(p + 2, static_cast<uint16_t>(v));
}

// `us` microseconds in units of a `hz` clock, modulo 2^32 (no overflow for any input).
uint32_t ToClockUnits(uint64_t us, uint32_t hz) {
    return static_cast<uint32_t>(us / 1000000 * hz + us % 1000000 * hz / 1000000);
}

}  // namespace

CRTCPHandler::CRTCPHandler(IDriver* driver)
    : CBaseThread(driver),
      udpClient(driver),
      ownSsrc(ChooseSsrc()),
      cname(ChooseCname()),
      schedule(ownSsrc) {
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

std::string CRTCPHandler::ChooseCname() {
    uint8_t random[CNAME_RANDOM_BYTES] = {};
    platform::RandomBytes(random, sizeof(random));
    return Utils::Base64Encode(random, sizeof(random));
}

bool CRTCPHandler::Start(uint16_t port, uint32_t camera) {
    if (udpClient.GetPort() != 0 || camera == 0)
        return false;
    cameraAddress = camera;
    if (!udpClient.Open(this, port))
        return false;
    udpClient.SetWaitTime(1, 0);
    if (StartThread())
        return true;
    udpClient.Close();
    return false;
}

bool CRTCPHandler::StartInterleaved(IRTCPSender* newSender) {
    if (udpClient.GetPort() != 0 || !newSender)
        return false;
    sender = newSender;
    if (StartThread())
        return true;
    sender = nullptr;
    return false;
}

bool CRTCPHandler::StartThread() {
    schedule.Restart();
    {
        // A new connection: its first packet's transit is not compared with the last one's.
        CLockGuard guard(lock);
        sequence.transitKnown = false;
    }
    return CBaseThread::Start("RTCP Handler Thread");
}

void CRTCPHandler::Stop() {
    StopEvent().Set();
    if (reporting)
        SendToDestination(BuildBye());
    reporting = false;
    udpClient.Close();
    StopThread(5000);
    sender = nullptr;
}

void CRTCPHandler::SendToDestination(const std::vector<uint8_t>& packet) {
    if (IRTCPSender* current = sender) {
        if (!current->SendRtcp(packet.data(), packet.size()))
            reporting = false;
        return;
    }
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
    if (source.address == cameraAddress)
        Take(source, data, length);
}

void CRTCPHandler::OnInterleaved(const uint8_t* data, uint32_t length) {
    if (sender)
        Take({}, data, length);
}

void CRTCPHandler::Take(const SocketAddress& source, const uint8_t* data, uint32_t length) {
    if (!data)
        return;
    ReportBye(data, length);
    if (length < MIN_ACCEPTED_LENGTH)
        return;
    {
        CLockGuard guard(lock);
        if (!reporting) {
            destination = source;
            if (data[PACKET_TYPE_AT] == RTCP_SR)
                reporting = true;
        }
        headerByte = data[0] & VERSION_BITS;
        std::memcpy(senderSsrc, data + SENDER_SSRC_AT, sizeof senderSsrc);
        std::memcpy(lastSrTimestamp, data + NTP_MIDDLE_AT, sizeof lastSrTimestamp);
        lastPacketTime = platform::SteadyMs();
    }
    reportEvent.Set();
}

void CRTCPHandler::Run() {
    const EventPair events{&StopEvent(), &reportEvent};
    // The wait takes the report event's signal (automatic reset): each accepted datagram asks
    // for a report, which the schedule grants no sooner than its shortest interval allows.
    while (!IsStopSignalled()) {
        const uint32_t waitMs =
            reporting ? schedule.DueInMs(platform::SteadyMs(), IDLE_WAIT_MS) : IDLE_WAIT_MS;
        if (WaitForStopOrItem(&events, waitMs) == 1)
            schedule.Request();
        const uint32_t now = platform::SteadyMs();
        if (reporting && schedule.DueInMs(now, IDLE_WAIT_MS) == 0) {
            SendToDestination(BuildReceiverReportAt(now));
            schedule.Sent(now);
        }
    }
}

std::vector<uint8_t> CRTCPHandler::BuildReceiverReport() {
    return BuildReceiverReportAt(platform::SteadyMs());
}

uint32_t CRTCPHandler::GetLastPacketTime() {
    CLockGuard guard(lock);
    return lastPacketTime;
}

std::vector<uint8_t> CRTCPHandler::BuildReceiverReportAt(uint32_t nowMs) {
    return BuildCompound(nowMs, false);
}

std::vector<uint8_t> CRTCPHandler::BuildBye() {
    return BuildCompound(platform::SteadyMs(), true);
}

std::vector<uint8_t> CRTCPHandler::BuildCompound(uint32_t nowMs, bool bye) {
    std::vector<uint8_t> packet;
    CLockGuard guard(lock);
    AppendReceiverReport(packet, nowMs);
    AppendSdes(packet);
    if (bye)
        AppendPacket(packet, BYE_SIZE, RTCP_BYE);
    return packet;
}

uint8_t* CRTCPHandler::AppendPacket(std::vector<uint8_t>& out, size_t size, uint8_t type) const {
    const size_t at = out.size();
    out.resize(at + size, 0);
    uint8_t* packet = out.data() + at;
    packet[0] = headerByte | 1;  // version as received, one report block, chunk or source
    packet[1] = type;
    PutU16(packet + 2, static_cast<uint16_t>(size / 4 - 1));
    PutU32(packet + 4, ownSsrc);
    return packet;
}

// RFC 3550 A.3: cumulative loss (clamped to the signed 24-bit field) and the fraction lost
// since the previous report.
void CRTCPHandler::AppendReceiverReport(std::vector<uint8_t>& out, uint32_t nowMs) {
    const uint32_t extendedMax = sequence.cycles + sequence.maxSeq;
    const uint32_t expected = extendedMax - sequence.baseSeq;
    const int64_t lost = int64_t{expected} - sequence.received;
    const auto cumulative =
        static_cast<int32_t>(std::clamp<int64_t>(lost, MIN_CUMULATIVE_LOST, MAX_CUMULATIVE_LOST));
    const uint32_t expectedInterval = expected - sequence.expectedPrior;
    const uint32_t receivedInterval = sequence.received - sequence.receivedPrior;
    sequence.expectedPrior = expected;
    sequence.receivedPrior = sequence.received;
    const int64_t lostInterval = int64_t{expectedInterval} - receivedInterval;
    const int64_t fraction =
        expectedInterval == 0 || lostInterval <= 0 ? 0 : (lostInterval << 8) / expectedInterval;

    uint8_t* rr = AppendPacket(out, RECEIVER_REPORT_SIZE, RTCP_RR);
    std::memcpy(rr + 8, senderSsrc, 4);
    PutU32(rr + 12, static_cast<uint32_t>(std::min<int64_t>(fraction, 255)) << 24 |
                        (static_cast<uint32_t>(cumulative) & 0xFFFFFF));
    PutU32(rr + 16, extendedMax);
    PutU32(rr + 20, static_cast<uint32_t>(std::min<uint64_t>(sequence.jitter >> 4, UINT32_MAX)));
    std::memcpy(rr + 24, lastSrTimestamp, 4);
    uint32_t delay = 0;
    if (lastPacketTime != 0) {
        const uint64_t elapsedMs = static_cast<uint32_t>(nowMs - lastPacketTime);
        delay = static_cast<uint32_t>(elapsedMs * 65536u / 1000u);
    }
    PutU32(rr + 28, delay);
}

// One chunk for the own SSRC (which sits where the common header puts it) with the CNAME item,
// ended by a null item and padded to a 32-bit boundary.
void CRTCPHandler::AppendSdes(std::vector<uint8_t>& out) const {
    const size_t itemsSize = 2 + cname.size() + 1;
    uint8_t* sdes = AppendPacket(out, 8 + (itemsSize + 3) / 4 * 4, RTCP_SDES);
    sdes[8] = SDES_CNAME;
    sdes[9] = static_cast<uint8_t>(cname.size());
    std::memcpy(sdes + 10, cname.data(), cname.size());
}

void CRTCPHandler::RestartSequence(uint16_t s) {
    sequence.baseSeq = static_cast<uint32_t>(s) - 1;
    sequence.maxSeq = s;
    sequence.badSeq = NO_SEQUENCE;
    sequence.cycles = 0;
    sequence.received = 0;
    sequence.expectedPrior = 0;
    sequence.receivedPrior = 0;
    sequence.transitKnown = false;
    sequence.jitter = 0;
}

void CRTCPHandler::OnRtpPacket(uint16_t s, uint32_t timestamp, uint64_t arrivalUs) {
    CLockGuard guard(lock);
    if (!sequenceStarted) {
        sequenceStarted = true;
        RestartSequence(s);
    }
    const uint16_t udelta = static_cast<uint16_t>(s - sequence.maxSeq);
    if (udelta < MAX_DROPOUT) {
        if (s < sequence.maxSeq)
            sequence.cycles += 65536;
        sequence.maxSeq = s;
    } else if (udelta <= 65536 - MAX_MISORDER) {
        if (s != sequence.badSeq) {
            sequence.badSeq = (static_cast<uint32_t>(s) + 1) & 0xFFFF;
            return;
        }
        RestartSequence(s);
    }
    // In order, late, duplicate, or the second of two consecutive numbers after a jump.
    ++sequence.received;
    UpdateJitter(timestamp, arrivalUs);
}

void CRTCPHandler::UpdateJitter(uint32_t timestamp, uint64_t arrivalUs) {
    const uint32_t transit = ToClockUnits(arrivalUs, clockRate) - timestamp;
    if (sequence.transitKnown) {
        const auto d = static_cast<int32_t>(transit - sequence.transit);
        const uint64_t magnitude = d < 0 ? 0 - static_cast<int64_t>(d) : d;
        sequence.jitter += magnitude - ((sequence.jitter + 8) >> 4);
    }
    sequence.transit = transit;
    sequence.transitKnown = true;
}

void CRTCPHandler::SetClockRate(uint32_t hz) {
    CLockGuard guard(lock);
    clockRate = hz == 0 ? DEFAULT_CLOCK_RATE : hz;
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
