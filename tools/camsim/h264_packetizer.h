// RTP packetiser for H.264 (RFC 6184, non-interleaved mode).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "camsim/annexb.h"
#include "camsim/rtp_stream.h"

namespace camsim {

class H264Packetizer {
public:
    static constexpr uint8_t kPayloadType = 96;

    // `maxPayload` bounds every packet's payload (at least 3 bytes for FU-A).
    H264Packetizer(uint32_t ssrc, uint16_t firstSequence, size_t maxPayload = 1400,
                   uint8_t payloadType = kPayloadType);

    // One access unit at one 90 kHz timestamp. Runs of non-slice units (SPS, PPS, SEI, ...)
    // that fit one packet go as STAP-A, other units that fit as single NAL units, larger ones
    // as FU-A fragments. The last packet carries the marker bit.
    std::vector<Packet> Packetize(const AccessUnit& unit, uint32_t timestamp);

    RtpStream& Stream() { return stream_; }

private:
    void AddSingle(std::vector<Packet>& out, const NalUnit& nal, bool marker, uint32_t ts);
    void AddFragments(std::vector<Packet>& out, const NalUnit& nal, bool marker, uint32_t ts);
    // Aggregates units [first, last) into one STAP-A packet.
    void AddAggregate(std::vector<Packet>& out, const AccessUnit& unit, size_t first, size_t last,
                      bool marker, uint32_t ts);
    // End of the run of aggregable units from `first` that fits one STAP-A packet.
    size_t AggregateEnd(const AccessUnit& unit, size_t first) const;

    RtpStream stream_;
    size_t maxPayload_;
};

}  // namespace camsim
