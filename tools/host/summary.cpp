#include "host/summary.h"

#include <cstdio>

#include "host/capture_time.h"

namespace host {

std::string JsonQuote(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

namespace {

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", value);
    return text;
}

std::string OptionalTime(const std::optional<SYSTEMTIME>& time) {
    return time ? JsonQuote(FormatUtc(*time)) : "null";
}

std::string ChannelJson(const ChannelSummary& c) {
    std::string out = "    {";
    auto field = [&out](const std::string& name, const std::string& value, bool last = false) {
        out += JsonQuote(name) + ": " + value + (last ? "" : ", ");
    };
    field("channel", std::to_string(c.index));
    field("codec", JsonQuote(c.codec));
    field("file", JsonQuote(c.file));
    field("started", c.started ? "true" : "false");
    field("frames", std::to_string(c.counts.frames));
    field("key_frames", std::to_string(c.counts.keyFrames));
    field("bytes", std::to_string(c.counts.bytes));
    field("first_capture", OptionalTime(c.counts.firstCapture));
    field("last_capture", OptionalTime(c.counts.lastCapture));
    field("seconds", Number(c.seconds));
    field("fps", Number(FramesPerSecond(c)));
    field("kbps", Number(KilobitsPerSecond(c)));
    field("signal_loss_notices", std::to_string(c.signalLost));
    field("motion_records", std::to_string(c.motionRecords));
    field("written_frames", std::to_string(c.writer.written));
    field("dropped_frames", std::to_string(c.writer.dropped));
    field("write_failures", std::to_string(c.writer.failed));
    field("end_state", JsonQuote(c.endState), true);
    return out + "}";
}

}  // namespace

std::string LogLevelName(int level) {
    switch (level) {
        case 1: return "error";
        case 2: return "warning";
        case 3: return "information";
        case 4: return "opened";
        default: return std::to_string(level);
    }
}

double FramesPerSecond(const ChannelSummary& c) {
    return c.seconds > 0 ? static_cast<double>(c.counts.frames) / c.seconds : 0;
}

double KilobitsPerSecond(const ChannelSummary& c) {
    return c.seconds > 0 ? static_cast<double>(c.counts.bytes) * 8 / 1000 / c.seconds : 0;
}

std::string SummaryJson(const RunSummary& run) {
    std::string out = "{\n  \"channels\": [\n";
    for (size_t i = 0; i < run.channels.size(); ++i)
        out += ChannelJson(run.channels[i]) + (i + 1 < run.channels.size() ? ",\n" : "\n");
    out += "  ],\n  \"driver_log_lines\": {";
    bool first = true;
    for (const auto& [level, count] : run.logLevels) {
        out += (first ? "" : ", ") + JsonQuote(LogLevelName(level)) + ": " + std::to_string(count);
        first = false;
    }
    out += "},\n  \"refused_frames\": " + std::to_string(run.refusedFrames) + ",\n";
    out += "  \"input_changes\": " + std::to_string(run.inputChanges) + ",\n";
    out += "  \"io_failures\": " + std::to_string(run.ioFailures) + ",\n";
    out += std::string("  \"interrupted\": ") + (run.interrupted ? "true" : "false") + "\n}\n";
    return out;
}

std::string SummaryTable(const RunSummary& run) {
    std::string out =
        "channel codec  state       frames   key     bytes     fps  kbit/s  signal-lost  dropped\n";
    for (const ChannelSummary& c : run.channels) {
        char line[200];
        std::snprintf(line, sizeof line, "%7u %-6s %-10s %7llu %5llu %9llu %7.2f %7.0f %12llu %8llu\n",
                      c.index, c.codec.c_str(), c.endState.c_str(),
                      static_cast<unsigned long long>(c.counts.frames),
                      static_cast<unsigned long long>(c.counts.keyFrames),
                      static_cast<unsigned long long>(c.counts.bytes), FramesPerSecond(c),
                      KilobitsPerSecond(c), static_cast<unsigned long long>(c.signalLost),
                      static_cast<unsigned long long>(c.writer.dropped));
        out += line;
    }
    return out;
}

int ExitCode(const RunSummary& run) {
    if (run.channels.empty())
        return 1;
    for (const ChannelSummary& c : run.channels)
        if (!c.started || c.counts.frames == 0)
            return 1;
    return 0;
}

}  // namespace host
