#include "host/report_html.h"

#include <cstdio>

#include "host/capture_time.h"
#include "host/html_text.h"
#include "host/report_events.h"
#include "host/timeline_svg.h"

namespace host {

namespace {

// Nothing but the page's own styles and data: images may load: no script, font or request.
const char* const kHead =
    "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
    "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
    "img-src data:; style-src 'unsafe-inline'\">\n"
    "<title>tavrin-host run report</title>\n<style>\n"
    "body{font:14px sans-serif;margin:16px 24px;color:#222;background:#fff}\n"
    "table{border-collapse:collapse;margin:6px 0 14px}\n"
    "td,th{border:1px solid #ccc;padding:2px 8px;text-align:left}\n"
    "th{background:#eee}\ntd.n{text-align:right}\n"
    "svg{display:block;margin:4px 0}\nsvg text{font:11px sans-serif;fill:#444}\n"
    ".key span{display:inline-block;width:10px;height:10px;margin:0 4px 0 12px}\n"
    ".log{font:12px monospace;white-space:pre-wrap}\n"
    ".l1{color:#b00000}\n.l2{color:#a05a00}\n"
    "img{max-width:100%;border:1px solid #ccc}\n"
    "</style>\n</head>\n<body>\n";

std::string Cell(const std::string& text, bool number = false) {
    return (number ? "<td class=\"n\">" : "<td>") + HtmlEscape(text) + "</td>";
}

std::string Fixed(double value, const char* format = "%.2f") {
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string ProbeHtml(const ReportInput& in) {
    if (!in.probe)
        return "<h2>Capability query</h2>\n<p>No capability query was made.</p>\n";
    std::string out =
        "<h2>Capability query of " +
        HtmlEscape(in.probe->target.address + ":" + std::to_string(in.probe->target.port)) +
        "</h2>\n<table>\n";
    for (const ProbeSection& section : ProbeSections(*in.probe)) {
        if (!section.title.empty())
            out += "<tr><th colspan=\"2\">" + HtmlEscape(section.title) + "</th></tr>\n";
        for (const ProbeRow& row : section.rows)
            out += "<tr>" + Cell(row.name) + Cell(row.value) + "</tr>\n";
    }
    return out + "</table>\n";
}

std::string ChannelTable(const RunSummary& run) {
    std::string out =
        "<table>\n<tr><th>channel</th><th>codec</th><th>end state</th><th>frames</th>"
        "<th>key frames</th><th>bytes</th><th>fps</th><th>kbit/s</th><th>signal-loss "
        "notices</th><th>dropped</th><th>motion records</th><th>first capture</th>"
        "<th>last capture</th></tr>\n";
    for (const ChannelSummary& c : run.channels) {
        out += "<tr>" + Cell(std::to_string(c.index), true) + Cell(c.codec) + Cell(c.endState) +
               Cell(std::to_string(c.counts.frames), true) +
               Cell(std::to_string(c.counts.keyFrames), true) +
               Cell(std::to_string(c.counts.bytes), true) + Cell(Fixed(FramesPerSecond(c)), true) +
               Cell(Fixed(KilobitsPerSecond(c), "%.0f"), true) +
               Cell(std::to_string(c.signalLost), true) +
               Cell(std::to_string(c.writer.dropped), true) +
               Cell(std::to_string(c.motionRecords), true) +
               Cell(c.counts.firstCapture ? FormatUtc(*c.counts.firstCapture) : "-") +
               Cell(c.counts.lastCapture ? FormatUtc(*c.counts.lastCapture) : "-") + "</tr>\n";
    }
    return out + "</table>\n";
}

std::string Legend() {
    std::string out = "<p class=\"key\">";
    const std::pair<const char*, const char*> keys[] = {
        {"#2ca02c", "camera online"},      {"#8b0000", "camera offline"},
        {"#d62728", "signal-loss notice"}, {"#e69500", "reconnected"},
        {"#888888", "other state change"}, {"#1f77b4", "motion"}};
    for (const auto& [colour, name] : keys)
        out += std::string("<span style=\"background:") + colour + "\"></span>" + name;
    return out + "</p>\n";
}

std::string Dropped(uint64_t count, const char* what) {
    return count ? "<p>" + std::to_string(count) + " earlier " + what + " not shown.</p>\n" : "";
}

std::string ChannelSection(const ReportInput& in, size_t i,
                           const std::vector<TimelineEvent>& cameraEvents) {
    const TimelineSnapshot& t = in.timelines[i];
    std::string out = "<h3>Channel " + std::to_string(i) + "</h3>\n";
    out += "<p>Frames per second and kbit/s in slots of " + Fixed(t.rates.SlotSeconds(), "%.0f") +
           " s; a mark per slot with a key frame; states read each status line.</p>\n";
    out += ChannelTimelineSvg(t, cameraEvents, in.seconds);
    out +=
        Dropped(t.events.Dropped(), "state events") + Dropped(t.motion.Dropped(), "motion records");
    const auto sheet = in.contactSheets.find(static_cast<unsigned>(i));
    if (sheet != in.contactSheets.end())
        out += "<p>Contact sheet (every 25th picture):</p>\n<img alt=\"contact sheet of channel " +
               std::to_string(i) + "\" src=\"" + HtmlEscape(sheet->second) + "\">\n";
    return out;
}

std::string ChannelsHtml(const ReportInput& in) {
    std::string out = "<h2>Channels</h2>\n" + ChannelTable(in.run) + Legend();
    const std::vector<std::vector<TimelineEvent>> cameraEvents =
        CameraStateEvents(in.log, in.origin, in.timelines.size(), ChannelTimeline::kEvents);
    for (size_t i = 0; i < in.timelines.size(); ++i)
        out += ChannelSection(in, i, cameraEvents[i]);
    return out;
}

std::string InputsHtml(const ReportInput& in) {
    std::string out = "<h2>Alarm inputs</h2>\n<p>" + std::to_string(in.run.inputChanges) +
                      " input changes, " + std::to_string(in.run.ioFailures) +
                      " I/O failure notices.</p>\n";
    const std::vector<InputChange> changes =
        InputChanges(in.io, in.origin, ChannelTimeline::kEvents);
    if (!changes.empty())
        out += InputsSvg(changes, in.seconds);
    return out + Dropped(in.io.size() - changes.size(), "input events");
}

std::string LogHtml(const ReportInput& in) {
    std::string out = "<h2>Driver log</h2>\n<p>";
    for (const auto& [level, count] : in.run.logLevels)
        out += HtmlEscape(LogLevelName(level)) + ": " + std::to_string(count) + " ";
    out += "</p>\n";
    const size_t first = in.log.size() > kReportLogLines ? in.log.size() - kReportLogLines : 0;
    if (first)
        out += "<p>" + std::to_string(first) + " earlier lines are in driver.log.</p>\n";
    out += "<div class=\"log\">";
    for (size_t i = first; i < in.log.size(); ++i) {
        const LogRecord& r = in.log[i];
        out += "<div class=\"l" + std::to_string(r.level) + "\">" +
               Fixed(SecondsSince(in.origin, r.arrived), "%+9.3f") + " s [" +
               HtmlEscape(LogLevelName(r.level)) + "] " + HtmlEscape(r.text) + "</div>";
    }
    return out + "</div>\n";
}

std::string Heading(const ReportInput& in) {
    const auto wall = std::chrono::system_clock::now() -
                      std::chrono::duration_cast<std::chrono::system_clock::duration>(
                          TimelineClock::now() - in.origin);
    return "<h1>tavrin-host run report</h1>\n<p>Camera " + HtmlEscape(in.camera) +
           ", streaming from " + FormatUtc(ToSystemTime(wall)) + " for " +
           FormatOffset(in.seconds) + (in.run.interrupted ? " (interrupted)" : "") +
           "; time axis in seconds from the start.</p>\n";
}

}  // namespace

std::string ReportHtml(const ReportInput& in) {
    return kHead + Heading(in) + ProbeHtml(in) + ChannelsHtml(in) + InputsHtml(in) + LogHtml(in) +
           "</body>\n</html>\n";
}

}  // namespace host
