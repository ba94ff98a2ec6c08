#include "camsim/udp_sender.h"

namespace camsim {

namespace {

void Append16(Bytes& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v));
}

void Append32(Bytes& out, uint32_t v) {
    Append16(out, static_cast<uint16_t>(v >> 16));
    Append16(out, static_cast<uint16_t>(v));
}

constexpr size_t MAX_DATAGRAM = 65536;

}  // namespace

Bytes BuildRtpPacket(const RtpHeaderFields& header, const Bytes& payload) {
    Bytes out;
    out.reserve(12 + payload.size());
    out.push_back(0x80);
    out.push_back(static_cast<uint8_t>((header.marker ? 0x80 : 0) | (header.payloadType & 0x7F)));
    Append16(out, header.sequence);
    Append32(out, header.timestamp);
    Append32(out, header.ssrc);
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

Bytes BuildSenderReport(uint32_t ssrc, uint32_t ntpSeconds, uint32_t ntpFraction,
                        uint32_t rtpTimestamp, uint32_t packets, uint32_t octets) {
    Bytes out = {0x80, 200};
    Append16(out, 6);
    Append32(out, ssrc);
    Append32(out, ntpSeconds);
    Append32(out, ntpFraction);
    Append32(out, rtpTimestamp);
    Append32(out, packets);
    Append32(out, octets);
    return out;
}

Bytes BuildBye(uint32_t ssrc) {
    Bytes out = {0x81, 203};
    Append16(out, 1);
    Append32(out, ssrc);
    return out;
}

uint32_t ReadBigEndian32(const Bytes& data, size_t offset) {
    if (offset + 4 > data.size())
        return 0;
    return (static_cast<uint32_t>(data[offset]) << 24) |
           (static_cast<uint32_t>(data[offset + 1]) << 16) |
           (static_cast<uint32_t>(data[offset + 2]) << 8) | data[offset + 3];
}

bool UdpSender::Open(uint16_t localPort, uint32_t address) {
    return socket_.Open(localPort, address);
}

bool UdpSender::Send(const Bytes& datagram, uint16_t port) {
    return socket_.SendTo(datagram.data(), datagram.size(),
                          norvane::platform::MakeInetAddress(norvane::platform::LoopbackIPv4(), port));
}

bool UdpSender::Receive(Bytes& datagram, unsigned milliseconds,
                        norvane::platform::InetAddress* source) {
    datagram.assign(MAX_DATAGRAM, 0);
    norvane::platform::InetAddress from;
    bool truncated = false;
    if (socket_.WaitReadable(milliseconds) != norvane::platform::WaitResult::Ready) {
        datagram.clear();
        return false;
    }
    const int length = socket_.ReceiveFrom(datagram.data(), datagram.size(), from, truncated);
    datagram.resize(length > 0 ? static_cast<size_t>(length) : 0);
    if (source)
        *source = from;
    return length >= 0;
}

}  // namespace camsim
