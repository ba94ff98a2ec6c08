#include "host/run_report.h"

#include <fstream>
#include <iterator>

namespace host {

namespace {

std::string Base64(const std::string& bytes) {
    static const char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const size_t left = bytes.size() - i;
        uint32_t group = static_cast<uint8_t>(bytes[i]) << 16;
        if (left > 1)
            group |= static_cast<uint8_t>(bytes[i + 1]) << 8;
        if (left > 2)
            group |= static_cast<uint8_t>(bytes[i + 2]);
        for (size_t digit = 0; digit < 4; ++digit)
            out += digit <= left ? kDigits[(group >> (18 - 6 * digit)) & 63] : '=';
    }
    return out;
}

}  // namespace

void TakeTimelines(ReportInput& report, StreamSession& session) {
    report.origin = session.Origin();
    report.seconds = SecondsSince(report.origin, TimelineClock::now());
    report.timelines = session.Timelines();
}

std::string PngDataUri(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    return file && !bytes.empty() ? "data:image/png;base64," + Base64(bytes) : "";
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
