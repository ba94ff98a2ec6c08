#include "rtsp/rtcp_report_schedule.h"

namespace norvane {

void CRTCPReportSchedule::Restart() {
    sentAny = false;
    requested = false;
}

uint32_t CRTCPReportSchedule::DueInMs(uint32_t nowMs, uint32_t idleMs) const {
    if (!sentAny)
        return requested ? 0 : idleMs;
    const uint32_t elapsed = nowMs - lastSentMs;
    const uint32_t wait = requested ? SHORTEST_MS : intervalMs;
    return elapsed >= wait ? 0 : wait - elapsed;
}

void CRTCPReportSchedule::Sent(uint32_t nowMs) {
    sentAny = true;
    requested = false;
    lastSentMs = nowMs;
    intervalMs = std::uniform_int_distribution<uint32_t>(SHORTEST_MS, LONGEST_MS)(random);
}

}  // namespace norvane
