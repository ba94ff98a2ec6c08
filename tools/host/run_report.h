// Gathering a streaming run's report.html from what tavrin-host already holds.
#pragma once

#include <string>

#include "host/report_html.h"
#include "host/stream_session.h"

namespace host {

// The timelines of a stopped session, on an axis from its start to now.
void TakeTimelines(ReportInput& report, StreamSession& session);
// The file as a "data:image/png;base64," URI; empty when it cannot be read.
std::string PngDataUri(const std::string& path);
// Inlines the contact sheets in `outDir` (contact-N.png) and writes `outDir`/report.html;
// false when the page could not be written.
bool WriteRunReport(ReportInput report, const std::string& outDir);

}  // namespace host
