#include "camsim/rtp_faults.h"

#include <algorithm>
#include <utility>

namespace camsim {

RtpFaultCounts& RtpFaultCounts::operator+=(const RtpFaultCounts& other) {
    lost += other.lost;
    reordered += other.reordered;
    duplicated += other.duplicated;
    freezes += other.freezes;
    return *this;
}

void RtpFaultFilter::Set(const RtpFaults& faults) {
    faults_ = faults;
    faults_.lossPercent = std::min(faults.lossPercent, 100u);
    faults_.freezeMs = std::min(faults.freezeMs, MAX_FREEZE_MS);
    spent_ = {};
    random_ = faults.seed ? faults.seed : 1;
    frozen_ = false;
}

bool RtpFaultFilter::Due(unsigned every, uint64_t spent) const {
    return every != 0 && spent < faults_.budget && packetIndex_ % every == 0;
}

bool RtpFaultFilter::Lose(const Packet& packet) {
    if (spent_.lost >= faults_.budget)
        return false;
    const uint16_t sequence = static_cast<uint16_t>((packet[2] << 8) | packet[3]);
    if (faults_.lossSequences.erase(sequence))
        return true;
    if (faults_.lossPercent == 0)
        return false;
    random_ = random_ * 1103515245u + 12345u;  // the classic LCG; its high bits are well spread
    return (random_ >> 16) % 100 < faults_.lossPercent;
}

void RtpFaultFilter::Apply(std::vector<Packet>& packets) {
    std::vector<Packet> out;
    out.reserve(packets.size() + 2);
    for (Packet& packet : packets) {
        ++packetIndex_;
        if (packet.size() >= 12 && Lose(packet)) {
            ++spent_.lost;
            ++counts_.lost;
            continue;
        }
        const bool duplicate = Due(faults_.duplicateEvery, spent_.duplicated);
        if (held_.empty() && Due(faults_.reorderEvery, spent_.reordered)) {
            ++spent_.reordered;
            ++counts_.reordered;
            held_.push_back(std::move(packet));
            continue;
        }
        if (duplicate) {
            ++spent_.duplicated;
            ++counts_.duplicated;
            out.push_back(packet);
        }
        out.push_back(std::move(packet));
        if (!held_.empty()) {
            out.push_back(std::move(held_.front()));
            held_.clear();
        }
    }
    packets = std::move(out);
}

unsigned RtpFaultFilter::FreezeAt(uint64_t frameIndex) {
    if (faults_.freezeMs == 0 || frozen_ || frameIndex < faults_.freezeAtFrame)
        return 0;
    frozen_ = true;
    ++counts_.freezes;
    return faults_.freezeMs;
}

}  // namespace camsim
