// summary.json, the closing table and the exit code rule.
#include <gtest/gtest.h>

#include "host/summary.h"

using host::ChannelSummary;
using host::RunSummary;

namespace {

SYSTEMTIME At(uint16_t second, uint16_t ms) {
    SYSTEMTIME t{};
    t.wYear = 2024, t.wMonth = 5, t.wDay = 1, t.wHour = 12, t.wMinute = 0;
    t.wSecond = second, t.wMilliseconds = ms;
    return t;
}

ChannelSummary Channel(unsigned index, uint64_t frames) {
    ChannelSummary c;
    c.index = index;
    c.codec = "h264";
    c.file = "channel-" + std::to_string(index) + ".h264";
    c.started = true;
    c.counts.frames = frames;
    c.counts.keyFrames = frames / 25;
    c.counts.bytes = frames * 1000;
    c.seconds = 10;
    c.endState = "Running";
    return c;
}

}  // namespace

TEST(Summary, JsonCarriesEveryChannelFigureAndTheLogCounts) {
    RunSummary run;
    ChannelSummary c = Channel(0, 250);
    c.counts.firstCapture = At(0, 40);
    c.counts.lastCapture = At(9, 999);
    c.signalLost = 2;
    c.writer.written = 248;
    c.writer.dropped = 2;
    run.channels.push_back(c);
    ChannelSummary empty = Channel(1, 0);
    empty.endState = "Sig\"nal\n";
    run.channels.push_back(empty);
    run.logLevels = {{1, 3}, {3, 2}, {4, 1}};
    run.refusedFrames = 5;
    const std::string json = host::SummaryJson(run);
    for (const char* part :
         {"\"channel\": 0, \"codec\": \"h264\", \"file\": \"channel-0.h264\", \"started\": true, "
          "\"frames\": 250, \"key_frames\": 10, \"bytes\": 250000, ",
          "\"first_capture\": \"2024-05-01T12:00:00.040Z\", "
          "\"last_capture\": \"2024-05-01T12:00:09.999Z\"",
          "\"fps\": 25.00, \"kbps\": 200.00, \"signal_loss_notices\": 2, \"motion_records\": 0, "
          "\"written_frames\": 248, "
          "\"dropped_frames\": 2, \"write_failures\": 0, \"end_state\": \"Running\"}",
          "\"first_capture\": null, \"last_capture\": null",
          "\"end_state\": \"Sig\\\"nal\\u000a\"}",
          "\"driver_log_lines\": {\"error\": 3, \"information\": 2, \"opened\": 1}",
          "\"refused_frames\": 5", "\"interrupted\": false"})
        EXPECT_NE(json.find(part), std::string::npos) << part << "\n" << json;
}

TEST(Summary, RatesNeedAStreamingTime) {
    ChannelSummary c = Channel(0, 100);
    c.seconds = 0;
    EXPECT_EQ(host::FramesPerSecond(c), 0);
    EXPECT_EQ(host::KilobitsPerSecond(c), 0);
    c.seconds = 4;
    EXPECT_DOUBLE_EQ(host::FramesPerSecond(c), 25);
    EXPECT_DOUBLE_EQ(host::KilobitsPerSecond(c), 200);
}

TEST(Summary, TableHasOneRowPerChannel) {
    RunSummary run;
    run.channels = {Channel(0, 250), Channel(1, 7)};
    const std::string table = host::SummaryTable(run);
    EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 3);
    EXPECT_NE(table.find("      0 h264   Running        250    10    250000   25.00     200"),
              std::string::npos)
        << table;
}

TEST(Summary, ExitCodeFailsWhenAChannelDidNotStartOrDeliver) {
    RunSummary run;
    EXPECT_EQ(host::ExitCode(run), 1);  // no channel at all
    run.channels = {Channel(0, 250), Channel(1, 1)};
    EXPECT_EQ(host::ExitCode(run), 0);
    run.channels[1].counts.frames = 0;
    EXPECT_EQ(host::ExitCode(run), 1);
    run.channels[1] = Channel(1, 5);
    run.channels[1].started = false;
    EXPECT_EQ(host::ExitCode(run), 1);
}
