// report.html's parts: text from the camera and the driver stays text, the timeline's memory
// stays bounded over long runs, and the events land on the right channel.
#include <gtest/gtest.h>

#include <numeric>

#include "host/html_text.h"
#include "host/report_events.h"
#include "host/report_html.h"
#include "host/timeline.h"

using host::EventKind;
using host::TimelineClock;

namespace {

size_t Occurrences(const std::string& text, const std::string& fragment) {
    size_t n = 0;
    for (size_t at = text.find(fragment); at != std::string::npos; at = text.find(fragment, at + 1))
        ++n;
    return n;
}

host::LogRecord Line(int level, const std::string& text, TimelineClock::time_point at) {
    return {level, true, text, at};
}

host::TimelineSnapshot EmptyTimeline() {
    return {host::RateSeries(10), host::EventRing(10), host::EventRing(10)};
}

// A run of one channel whose camera answered the capability query with `model` and a custom
// parameter `custom`.
host::ReportInput RunWithCameraText(const std::string& model, const std::string& custom) {
    host::ReportInput in;
    in.camera = "127.0.0.1:8080";
    in.origin = TimelineClock::now();
    in.seconds = 10;
    in.probe.emplace();
    in.probe->succeeded = true;
    in.probe->target.address = "127.0.0.1";
    in.probe->record.model = model;
    in.probe->record.custom[7].name = "Firmware";
    in.probe->record.custom[7].value = custom;
    in.run.channels.resize(1);
    in.run.channels[0].endState = "Running";
    in.timelines.push_back(EmptyTimeline());
    return in;
}

}  // namespace

TEST(ReportHtml, EscapesEveryCharacterMarkupGivesAMeaning) {
    EXPECT_EQ(host::HtmlEscape("a<b>&\"c'"), "a&lt;b&gt;&amp;&quot;c&#39;");
    EXPECT_EQ(host::HtmlEscape("&lt;"), "&amp;lt;");  // an entity in the text stays text
    EXPECT_EQ(host::HtmlEscape("plain text 1.0"), "plain text 1.0");
}

TEST(ReportHtml, CameraAndDriverTextCannotOpenAnElement) {
    host::ReportInput in =
        RunWithCameraText("<script>alert(1)</script>", "\"><img src=x onerror=alert(2)>");
    in.log.push_back(Line(1, "camera said </div><script>alert(3)</script>", in.origin));
    in.camera = "<b>host</b>";
    const std::string html = host::ReportHtml(in);
    EXPECT_EQ(html.find("<script"), std::string::npos) << html;
    EXPECT_EQ(html.find("<img src=x"), std::string::npos) << html;
    EXPECT_EQ(html.find("<b>host"), std::string::npos) << html;
    EXPECT_NE(html.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);
    EXPECT_NE(html.find("&quot;&gt;&lt;img src=x onerror=alert(2)&gt;"), std::string::npos);
    EXPECT_NE(html.find("camera said &lt;/div&gt;&lt;script&gt;alert(3)&lt;/script&gt;"),
              std::string::npos);
    // The page's own markup is balanced: every div the log opened is closed.
    EXPECT_EQ(Occurrences(html, "<div"), Occurrences(html, "</div>"));
}

TEST(ReportHtml, ShowsTheLatestLogLinesOnly) {
    host::ReportInput in = RunWithCameraText("VCC-HD4000", "2.03");
    const size_t total = host::kReportLogLines + 500;
    for (size_t i = 0; i < total; ++i)
        in.log.push_back(Line(3, "line " + std::to_string(i) + ";", in.origin));
    const std::string html = host::ReportHtml(in);
    EXPECT_EQ(Occurrences(html, "<div class=\"l3\">"), host::kReportLogLines);
    EXPECT_NE(html.find("500 earlier lines are in driver.log"), std::string::npos);
    EXPECT_EQ(html.find("line 499;"), std::string::npos);
    EXPECT_NE(html.find("line 500;"), std::string::npos);
    EXPECT_NE(html.find("line " + std::to_string(total - 1) + ";"), std::string::npos);
}

TEST(RateSeries, AnHourOfSecondsStaysWithinItsSlotsAndKeepsEveryFrame) {
    host::RateSeries rates(host::ChannelTimeline::kSlots);
    // 25 frames a second for an hour, a key frame each second, 1000 bytes a frame.
    for (int n = 0; n < 3600 * 25; ++n)
        rates.Add(n / 25.0, 1000, n % 25 == 0);
    EXPECT_LE(rates.Slots().size(), host::ChannelTimeline::kSlots);
    EXPECT_EQ(rates.SlotSeconds(), 8);  // 3600 s in at most 600 slots
    uint64_t frames = 0, keys = 0, bytes = 0;
    for (const host::RateSlot& slot : rates.Slots()) {
        EXPECT_EQ(slot.frames, 8u * 25);  // each slot covers the same 8 seconds
        frames += slot.frames, keys += slot.keyFrames, bytes += slot.bytes;
    }
    EXPECT_EQ(frames, 3600u * 25);
    EXPECT_EQ(keys, 3600u);
    EXPECT_EQ(bytes, 3600u * 25 * 1000);
}

TEST(RateSeries, AFrameFarPastTheStartMergesInsteadOfGrowing) {
    host::RateSeries rates(10);
    rates.Add(0.5, 1, true);
    rates.Add(1e6, 1, false);  // a clock step or a run of days
    EXPECT_LE(rates.Slots().size(), 10u);
    EXPECT_EQ(rates.Slots().front().frames, 1u);
    EXPECT_EQ(rates.Slots().back().frames, 1u);
    EXPECT_GE(rates.SlotSeconds() * 10, 1e6);
}

TEST(EventRing, KeepsTheLatestEventsAndCountsTheOthers) {
    host::EventRing ring(3);
    for (int i = 0; i < 5; ++i)
        ring.Add({static_cast<double>(i), EventKind::State, std::to_string(i)});
    ASSERT_EQ(ring.Events().size(), 3u);
    EXPECT_EQ(ring.Events().front().text, "2");
    EXPECT_EQ(ring.Events().back().text, "4");
    EXPECT_EQ(ring.Dropped(), 2u);
}

TEST(ChannelTimeline, StateReadingsBecomeChangesReconnectsAndNotices) {
    const TimelineClock::time_point start = TimelineClock::now();
    host::ChannelTimeline timeline(start);
    const auto at = [start](int s) { return start + std::chrono::seconds(s); };
    timeline.Observe(at(1), "Stopped", 0);
    timeline.Observe(at(2), "Running", 0);
    timeline.Observe(at(3), "Running", 0);  // unchanged: nothing
    timeline.Observe(at(14), "SignalLost", 1);
    timeline.Observe(at(16), "Stopped", 1);
    timeline.Observe(at(18), "Running", 1);
    const host::TimelineSnapshot snapshot = timeline.Snapshot();
    std::vector<std::pair<double, EventKind>> seen;
    for (const host::TimelineEvent& e : snapshot.events.Events())
        seen.emplace_back(e.seconds, e.kind);
    EXPECT_EQ(seen, (std::vector<std::pair<double, EventKind>>{{1, EventKind::State},
                                                               {2, EventKind::State},
                                                               {14, EventKind::SignalLoss},
                                                               {14, EventKind::State},
                                                               {16, EventKind::State},
                                                               {18, EventKind::Reconnect}}));
}

TEST(ChannelTimeline, ReadingsOfAnHourKeepAtMostItsEvents) {
    const TimelineClock::time_point start = TimelineClock::now();
    host::ChannelTimeline timeline(start);
    // A camera that flaps every second for an hour.
    for (int s = 0; s < 3600; ++s) {
        timeline.Observe(start + std::chrono::seconds(s), s % 2 ? "Running" : "Stopped",
                         static_cast<uint64_t>(s));
        timeline.AddMotion(start + std::chrono::seconds(s), s % 2);
    }
    const host::TimelineSnapshot snapshot = timeline.Snapshot();
    EXPECT_EQ(snapshot.events.Events().size(), host::ChannelTimeline::kEvents);
    EXPECT_EQ(snapshot.motion.Events().size(), host::ChannelTimeline::kEvents);
    EXPECT_GT(snapshot.events.Dropped(), 0u);
    EXPECT_EQ(snapshot.events.Events().back().seconds, 3599);
}

TEST(CameraStateEvents, EachLineGoesToTheChannelItNames) {
    const TimelineClock::time_point start = TimelineClock::now();
    const std::string prefix = "norvane::CBaseCameraChannel::SetCameraState: ";
    const std::vector<host::LogRecord> log = {
        Line(3, prefix + "Video-server 10.0.0.5 (channel 1) is online", start),
        Line(1, prefix + "Signal was lost for video-server 10.0.0.5 (channel 0)",
             start + std::chrono::seconds(5)),
        Line(3, prefix + "Video-server 10.0.0.5 (channel 7) is online", start),  // no such channel
        Line(1, "norvane::Other: Camera 10.0.0.5 is online", start),             // not a state line
        Line(3, prefix + "Camera 10.0.0.5 is offline. Channel was stopped",
             start + std::chrono::seconds(9)),
    };
    const auto events = host::CameraStateEvents(log, start, 2, 10);
    ASSERT_EQ(events.size(), 2u);
    ASSERT_EQ(events[0].size(), 2u);
    EXPECT_EQ(events[0][0].kind, EventKind::Offline);
    EXPECT_EQ(events[0][0].seconds, 5);
    EXPECT_EQ(events[0][1].text, "camera offline (channel stopped)");
    ASSERT_EQ(events[1].size(), 1u);
    EXPECT_EQ(events[1][0].kind, EventKind::Online);
}
