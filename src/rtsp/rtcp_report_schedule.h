// When a receiver reports (RFC 3550 6.2, 6.3.1). The driver is the one receiver of a unicast
// session and sends no RTP, so its interval is the fixed minimum of 5 s, drawn uniformly from
// 0.5 to 1.5 times that and divided by e - 3/2 (the compensation for timer reconsideration):
// 2.05 s to 6.16 s. A packet from the camera asks for a report at once, so a sender report is
// answered promptly, but no report follows the previous one sooner than the shortest interval:
// however fast a peer sends, reports keep the interval's rate.
#pragma once

#include <cstdint>
#include <random>

namespace norvane {

class CRTCPReportSchedule {
public:
    static constexpr uint32_t MIN_INTERVAL_MS = 5000;
    static constexpr uint32_t SHORTEST_MS = 2052;  // 5000 * 0.5 / 1.21828
    static constexpr uint32_t LONGEST_MS = 6156;   // 5000 * 1.5 / 1.21828

    explicit CRTCPReportSchedule(uint32_t seed) : random(seed) {}

    // A new session: the first report goes out as soon as it is asked for.
    void Restart();
    // A packet from the camera asks for a report.
    void Request() { requested = true; }
    // Milliseconds from `nowMs` until the next report (0: due now); `idleMs` while none is
    // due, before the first report when none was asked for.
    uint32_t DueInMs(uint32_t nowMs, uint32_t idleMs) const;
    // A report went out at `nowMs`; draws the interval to the next one.
    void Sent(uint32_t nowMs);
    uint32_t GetIntervalMs() const { return intervalMs; }

private:
    std::minstd_rand random;
    bool sentAny = false;
    bool requested = false;
    uint32_t lastSentMs = 0;
    uint32_t intervalMs = MIN_INTERVAL_MS;
};

}  // namespace norvane
