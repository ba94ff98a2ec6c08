#include "host/run_report.h"

#include <fstream>
#include <iterator>

#include "camsim/auth_crypto.h"

namespace host {

void TakeTimelines(ReportInput& report, StreamSession& session) {
    report.origin = session.Origin();
    report.seconds = SecondsSince(report.origin, TimelineClock::now());
    report.timelines = session.Timelines();
}

std::string PngDataUri(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    return file && !bytes.empty()
               ? "data:image/png;base64," +
                     camsim::Base64Encode(reinterpret_cast<const uint8_t*>(bytes.data()),
                                          bytes.size())
               : "";
}

bool WriteRunReport(ReportInput report, const std::string& outDir) {
    for (const ChannelSummary& c : report.run.channels) {
        if (c.counts.frames == 0)
            continue;  // a sheet there is another run's
        const std::string uri = PngDataUri(outDir + "/contact-" + std::to_string(c.index) + ".png");
        if (!uri.empty())
            report.contactSheets[c.index] = uri;
    }
    std::ofstream page(outDir + "/report.html", std::ios::binary);
    page << ReportHtml(report);
    return static_cast<bool>(page.flush());
}

}  // namespace host
