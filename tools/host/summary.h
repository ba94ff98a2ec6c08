// What a streaming run leaves behind: summary.json, the closing table and the exit code.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "host/channel_stats.h"
#include "host/stream_writer.h"

namespace host {

struct ChannelSummary {
    unsigned index = 0;
    std::string codec;  // "h264" or "mjpeg"
    std::string file;   // file name inside the output folder
    bool started = false;
    ChannelCounts counts;
    WriterCounts writer;
    uint64_t signalLost = 0;
    uint64_t motionRecords = 0;
    double seconds = 0;  // from start to stop as the host measured it
    std::string endState;
};

struct RunSummary {
    std::vector<ChannelSummary> channels;
    std::map<int, size_t> logLevels;  // driver log lines by level
    uint64_t refusedFrames = 0;       // frames the host's allocator refused (all channels)
    bool interrupted = false;         // stopped by SIGINT or SIGTERM
    uint64_t inputChanges = 0;        // input changes the driver reported
    uint64_t ioFailures = 0;          // I/O failure notices
};

// Average rates over the host-measured streaming time (0 when there is none).
double FramesPerSecond(const ChannelSummary& channel);
double KilobitsPerSecond(const ChannelSummary& channel);

// "error", "warning", "information", "opened": the level of a driver log line.
std::string LogLevelName(int level);

// `text` as a JSON string literal.
std::string JsonQuote(const std::string& text);

std::string SummaryJson(const RunSummary& run);
std::string SummaryTable(const RunSummary& run);
// 0 when every channel started and delivered at least one frame; 1 otherwise.
int ExitCode(const RunSummary& run);

}  // namespace host
