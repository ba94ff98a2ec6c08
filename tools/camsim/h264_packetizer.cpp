#include "camsim/h264_packetizer.h"

#include <algorithm>

namespace camsim {

namespace {

constexpr uint8_t kStapA = 24;
constexpr uint8_t kFuA = 28;

bool IsAggregable(const NalUnit& nal) {
    const int type = nal[0] & 0x1F;
    return type < 1 || type > 5;
}

}  // namespace

H264Packetizer::H264Packetizer(uint32_t ssrc, uint16_t firstSequence, size_t maxPayload,
                               uint8_t payloadType)
    : stream_(payloadType, ssrc, firstSequence), maxPayload_(std::max<size_t>(maxPayload, 3)) {}

std::vector<Packet> H264Packetizer::Packetize(const AccessUnit& unit, uint32_t timestamp) {
    std::vector<Packet> out;
    size_t last = unit.size();
    while (last > 0 && unit[last - 1].empty())
        --last;
    for (size_t i = 0; i < last;) {
        if (unit[i].empty()) {
            ++i;
            continue;
        }
        const size_t end = AggregateEnd(unit, i);
        const size_t next = std::max(end, i + 1);
        const bool marker = next >= last;
        if (end - i > 1)
            AddAggregate(out, unit, i, end, marker, timestamp);
        else if (unit[i].size() <= maxPayload_)
            AddSingle(out, unit[i], marker, timestamp);
        else
            AddFragments(out, unit[i], marker, timestamp);
        i = next;
    }
    return out;
}

size_t H264Packetizer::AggregateEnd(const AccessUnit& unit, size_t first) const {
    size_t size = 1;  // STAP-A header
    size_t end = first;
    while (end < unit.size() && !unit[end].empty() && IsAggregable(unit[end]) &&
           size + 2 + unit[end].size() <= maxPayload_ && unit[end].size() <= 0xFFFF) {
        size += 2 + unit[end].size();
        ++end;
    }
    return end;
}

void H264Packetizer::AddSingle(std::vector<Packet>& out, const NalUnit& nal, bool marker,
                               uint32_t ts) {
    stream_.Add(out, marker, ts, nullptr, 0, nal.data(), nal.size());
}

void H264Packetizer::AddAggregate(std::vector<Packet>& out, const AccessUnit& unit, size_t first,
                                  size_t last, bool marker, uint32_t ts) {
    std::vector<uint8_t> payload;
    uint8_t nri = 0;
    for (size_t i = first; i < last; ++i)
        nri = std::max<uint8_t>(nri, unit[i][0] & 0x60);
    payload.push_back(static_cast<uint8_t>(nri | kStapA));
    for (size_t i = first; i < last; ++i) {
        payload.push_back(static_cast<uint8_t>(unit[i].size() >> 8));
        payload.push_back(static_cast<uint8_t>(unit[i].size()));
        payload.insert(payload.end(), unit[i].begin(), unit[i].end());
    }
    stream_.Add(out, marker, ts, payload.data(), payload.size(), nullptr, 0);
}

void H264Packetizer::AddFragments(std::vector<Packet>& out, const NalUnit& nal, bool marker,
                                  uint32_t ts) {
    const size_t chunk = maxPayload_ - 2;
    for (size_t pos = 1; pos < nal.size(); pos += chunk) {
        const size_t n = std::min(chunk, nal.size() - pos);
        const bool end = pos + n == nal.size();
        const uint8_t head[2] = {
            static_cast<uint8_t>((nal[0] & 0xE0) | kFuA),
            static_cast<uint8_t>((pos == 1 ? 0x80 : 0) | (end ? 0x40 : 0) | (nal[0] & 0x1F))};
        stream_.Add(out, marker && end, ts, head, 2, nal.data() + pos, n);
    }
}

}  // namespace camsim
