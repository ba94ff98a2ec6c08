// Loopback UDP peer that sends exact RTP and RTCP datagrams and receives what comes back, plus
// builders of those datagrams.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/socket.h"

namespace camsim {

using Bytes = std::vector<uint8_t>;

struct RtpHeaderFields {
    uint8_t payloadType = 96;
    bool marker = false;
    uint16_t sequence = 0;
    uint32_t timestamp = 0;
    uint32_t ssrc = 0x11223344;  // written big-endian
};

// A version-2 RTP packet with no CSRC, extension or padding.
Bytes BuildRtpPacket(const RtpHeaderFields& header, const Bytes& payload);
// A 28-byte RTCP sender report without report blocks.
Bytes BuildSenderReport(uint32_t ssrc, uint32_t ntpSeconds, uint32_t ntpFraction,
                        uint32_t rtpTimestamp, uint32_t packets, uint32_t octets);
// An 8-byte RTCP BYE naming one source.
Bytes BuildBye(uint32_t ssrc);
// Big-endian 32-bit value at `offset` (for checking received packets).
uint32_t ReadBigEndian32(const Bytes& data, size_t offset);

class UdpSender {
public:
    // Binds to a loopback address (127.0.0.1 unless given) and port (0 = any free one).
    bool Open(uint16_t localPort = 0, uint32_t address = norvane::platform::LoopbackIPv4());
    uint16_t Port() const { return socket_.LocalPort(); }
    // Sends one datagram to 127.0.0.1:port.
    bool Send(const Bytes& datagram, uint16_t port);
    // Receives one datagram within the limit; false on time-out.
    bool Receive(Bytes& datagram, unsigned milliseconds,
                 norvane::platform::InetAddress* source = nullptr);

private:
    norvane::platform::UdpSocket socket_;
};

}  // namespace camsim
