// report.html: one self-contained page of a streaming run (no script, nothing loaded from
// elsewhere): the capability query, each channel's figures and timeline, its contact sheet, the
// alarm inputs on the same time axis and the driver's log lines.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "host/io_sink.h"
#include "host/log_receiver.h"
#include "host/probe.h"
#include "host/summary.h"
#include "host/timeline.h"

namespace host {

struct ReportInput {
    std::string camera;  // address:port of the camera the run streamed from
    std::optional<ProbeResult> probe;
    RunSummary run;
    TimelineClock::time_point origin;  // 0 on the time axis
    double seconds = 0;                // length of the time axis
    std::vector<TimelineSnapshot> timelines;
    std::vector<LogRecord> log;
    std::vector<IOEvent> io;
    std::map<unsigned, std::string> contactSheets;  // channel: image source (a data: URI)
};

// Log lines the page shows at most (the latest); driver.log has them all.
constexpr size_t kReportLogLines = 2000;

std::string ReportHtml(const ReportInput& input);

}  // namespace host
